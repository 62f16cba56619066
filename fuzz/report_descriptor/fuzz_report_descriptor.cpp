// Report descriptors as a device (or a broken one) may hand them over: any bytes. Every
// parse gets a heap block of exactly its size, so the address sanitizer reports a read past
// the end; the parse ends in lengths within their caps or in a failure with none; and cut
// descriptors agree with the whole one, since items only ever add to a report.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "device/linux/report_descriptor.h"
#include "fuzz/fuzz_check.h"

namespace {

using esc::DescriptorError;
using esc::DescriptorParse;
using esc::MAX_REPORT_BYTES;
using esc::ReportLengths;
using esc::fuzz::check;

DescriptorParse parseCopy(const std::uint8_t* data, std::size_t size) {
  // Exactly `size` bytes, so that a read of the byte after them is caught; an empty
  // descriptor still gets a valid pointer.
  const std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size == 0 ? 1 : size]);
  if (size != 0) {
    std::memcpy(copy.get(), data, size);
  }
  const DescriptorParse first = esc::parseReportDescriptor(copy.get(), size);
  const DescriptorParse second = esc::parseReportDescriptor(copy.get(), size);
  check(first.error == second.error && first.lengths.inputLength == second.lengths.inputLength &&
            first.lengths.outputLength == second.lengths.outputLength &&
            first.lengths.inputNumbered == second.lengths.inputNumbered &&
            first.lengths.outputNumbered == second.lengths.outputNumbered,
        "the same bytes give the same result");
  return first;
}

void checkDirection(std::uint32_t length, bool numbered) {
  check(length <= MAX_REPORT_BYTES, "a length fits the 16-bit field");
  // A declared report counts its id byte, so a direction with a report is at least 1 long,
  // and only a direction with reports can say they are numbered.
  check(!numbered || length >= 1, "numbered only where there is a report");
}

// Each input report's own length: the longest of them is the declared input length (so a
// failure gives none), and a numbered direction has no report 0, an unnumbered one no other.
void checkInputLengths(const ReportLengths& lengths) {
  std::uint32_t longest = 0;
  bool otherThanZero = false;
  for (std::size_t id = 0; id < 256; ++id) {
    longest = std::max<std::uint32_t>(longest, lengths.inputLengths[id]);
    otherThanZero = otherThanZero || (id != 0 && lengths.inputLengths[id] != 0);
  }
  check(longest == lengths.inputLength, "the input length is the longest report's");
  check(lengths.inputNumbered ? lengths.inputLengths[0] == 0 : !otherThanZero,
        "reports by id as numbered");
}

void checkResult(const DescriptorParse& result) {
  const ReportLengths& lengths = result.lengths;
  checkInputLengths(lengths);
  if (result.error != DescriptorError::None) {
    check(lengths.inputLength == 0 && lengths.outputLength == 0 && !lengths.inputNumbered &&
              !lengths.outputNumbered,
          "a failure gives no lengths");
    return;
  }
  checkDirection(lengths.inputLength, lengths.inputNumbered);
  checkDirection(lengths.outputLength, lengths.outputNumbered);
}

// A descriptor cut after `size` bytes: the parse runs the same items up to the cut. So it
// can only fail where the whole one fails too (or at the cut, inside an item), and its
// reports, built of fewer items, are no longer than the whole one's.
void checkPrefix(const std::uint8_t* data, std::size_t size, const DescriptorParse& whole) {
  const DescriptorParse cut = parseCopy(data, size);
  checkResult(cut);
  if (cut.error == DescriptorError::TruncatedItem) {
    return;
  }
  if (cut.error != DescriptorError::None) {
    check(whole.error == cut.error, "a failure before the cut is the whole one's failure");
    return;
  }
  if (whole.error != DescriptorError::None) {
    return;
  }
  check(cut.lengths.inputLength <= whole.lengths.inputLength &&
            cut.lengths.outputLength <= whole.lengths.outputLength,
        "a cut descriptor declares no longer reports than the whole one");
  // Numbering is fixed by the first field of a direction, so a cut that saw a field of a
  // direction agrees with the whole.
  if (cut.lengths.inputLength != 0) {
    check(cut.lengths.inputNumbered == whole.lengths.inputNumbered, "input numbering agrees");
  }
  if (cut.lengths.outputLength != 0) {
    check(cut.lengths.outputNumbered == whole.lengths.outputNumbered, "output numbering agrees");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const DescriptorParse whole = parseCopy(data, size);
  checkResult(whole);
  check(esc::parseReportDescriptor(nullptr, size).error == DescriptorError::None,
        "no bytes are an empty descriptor");
  // A few cuts rather than all of them: each parse clears the parser's tables, and a cut
  // at every byte would make long inputs quadratic.
  if (size > 0) {
    const std::size_t cuts[] = {0, 1, size / 4, size / 2, size * 3 / 4, size - 1};
    for (const std::size_t cut : cuts) {
      if (cut < size) {
        checkPrefix(data, cut, whole);
      }
    }
  }
  return 0;
}
