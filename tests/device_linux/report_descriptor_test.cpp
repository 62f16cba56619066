// Report lengths from descriptors: the unit's own, other shapes, and malformed input,
// which must give a failure (or lengths the link refuses), never a crash or a guess.
#include "device/linux/report_descriptor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/device_linux/descriptor_cases.h"

namespace esc::test {
namespace {

DescriptorParse parse(const std::vector<std::uint8_t>& bytes) {
  return parseReportDescriptor(bytes.data(), bytes.size());
}

TEST(ReportDescriptor, EveryCaseGivesItsLengthsOrItsError) {
  for (const DescriptorCase& descriptor : descriptorCases()) {
    SCOPED_TRACE(descriptor.name);
    const DescriptorParse result = parse(descriptor.bytes);
    EXPECT_EQ(result.error, descriptor.error);
    if (descriptor.error == DescriptorError::None) {
      EXPECT_EQ(result.lengths.inputLength, descriptor.inputLength);
      EXPECT_EQ(result.lengths.outputLength, descriptor.outputLength);
      EXPECT_EQ(result.lengths.inputNumbered, descriptor.inputNumbered);
      EXPECT_EQ(result.lengths.outputNumbered, descriptor.outputNumbered);
    } else {
      EXPECT_EQ(result.lengths.inputLength, 0u);
      EXPECT_EQ(result.lengths.outputLength, 0u);
    }
  }
}

TEST(ReportDescriptor, ANullPointerIsAnEmptyDescriptor) {
  const DescriptorParse result = parseReportDescriptor(nullptr, 100);
  EXPECT_EQ(result.error, DescriptorError::None);
  EXPECT_EQ(result.lengths.inputLength, 0u);
}

// Whatever the input, a result is either a failure or lengths a 16-bit field can hold.
void expectBounded(const std::vector<std::uint8_t>& bytes) {
  const DescriptorParse result = parse(bytes);
  if (result.error != DescriptorError::None) {
    EXPECT_EQ(result.lengths.inputLength, 0u);
    EXPECT_EQ(result.lengths.outputLength, 0u);
  }
  EXPECT_LE(result.lengths.inputLength, MAX_REPORT_BYTES);
  EXPECT_LE(result.lengths.outputLength, MAX_REPORT_BYTES);
}

// A descriptor cut anywhere (a short read of the descriptor, a broken device) ends in a
// clean result; cut inside an item it is a truncation.
TEST(ReportDescriptor, EveryPrefixOfEveryCaseIsHandled) {
  for (const DescriptorCase& descriptor : descriptorCases()) {
    SCOPED_TRACE(descriptor.name);
    for (std::size_t size = 0; size <= descriptor.bytes.size(); ++size) {
      expectBounded(std::vector<std::uint8_t>(descriptor.bytes.begin(),
                                              descriptor.bytes.begin() + static_cast<long>(size)));
    }
  }
  const std::vector<std::uint8_t> unit = unitDescriptor();
  EXPECT_EQ(parse(std::vector<std::uint8_t>(unit.begin(), unit.end() - 2)).error,
            DescriptorError::TruncatedItem);
}

// Every single byte of the unit's descriptor replaced by every value: a cheap sweep over
// the neighbourhood of real input.
TEST(ReportDescriptor, EveryByteOfTheUnitsDescriptorMayBeAnything) {
  const std::vector<std::uint8_t> unit = unitDescriptor();
  for (std::size_t position = 0; position < unit.size(); ++position) {
    for (int value = 0; value < 256; ++value) {
      std::vector<std::uint8_t> bytes = unit;
      bytes[position] = static_cast<std::uint8_t>(value);
      expectBounded(bytes);
    }
  }
}

}  // namespace
}  // namespace esc::test
