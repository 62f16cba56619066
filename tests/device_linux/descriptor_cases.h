// Report descriptors and the lengths they declare: the unit's own, the shapes other
// devices use, and every kind of malformation. Kept as one table of bytes so that the
// same inputs can seed a fuzzer's corpus.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "device/linux/report_descriptor.h"

namespace esc::test {

struct DescriptorCase {
  const char* name;
  std::vector<std::uint8_t> bytes;
  DescriptorError error;
  // Expected only when error is None.
  std::uint32_t inputLength = 0;
  std::uint32_t outputLength = 0;
  bool inputNumbered = false;
  bool outputNumbered = false;
};

inline std::vector<std::uint8_t> descriptorBytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> bytes;
  for (const int value : values) {
    bytes.push_back(static_cast<std::uint8_t>(value));
  }
  return bytes;
}

inline std::vector<std::uint8_t> repeated(std::vector<std::uint8_t> item, int times,
                                          std::vector<std::uint8_t> tail = {}) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < times; ++i) {
    bytes.insert(bytes.end(), item.begin(), item.end());
  }
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  return bytes;
}

// The programming unit: a vendor page with output report 1 and input report 2, each 59
// data bytes behind the id, 60 bytes in all.
inline std::vector<std::uint8_t> unitDescriptor() {
  return descriptorBytes({
      0x06, 0x00, 0xFF,  // Usage Page (vendor 0xFF00)
      0x09, 0x01,        // Usage (1)
      0xA1, 0x01,        // Collection (Application)
      0x15, 0x00,        //   Logical Minimum (0)
      0x26, 0xFF, 0x00,  //   Logical Maximum (255)
      0x85, 0x02,        //   Report ID (2)
      0x09, 0x02,        //   Usage (2)
      0x75, 0x08,        //   Report Size (8)
      0x95, 0x3B,        //   Report Count (59)
      0x81, 0x02,        //   Input (Data, Variable, Absolute)
      0x85, 0x01,        //   Report ID (1)
      0x09, 0x03,        //   Usage (3)
      0x75, 0x08,        //   Report Size (8)
      0x95, 0x3B,        //   Report Count (59)
      0x91, 0x02,        //   Output (Data, Variable, Absolute)
      0xC0,              // End Collection
  });
}

// The unit's reports and a longer input report 3 of 100 data bytes: the longest input is
// 101 bytes, the unit's own answer (report 2) 60.
inline std::vector<std::uint8_t> unitWithLongerInput() {
  std::vector<std::uint8_t> bytes = unitDescriptor();
  const std::vector<std::uint8_t> longer = descriptorBytes({
      0x85, 0x03,  //   Report ID (3)
      0x09, 0x04,  //   Usage (4)
      0x75, 0x08,  //   Report Size (8)
      0x95, 0x64,  //   Report Count (100)
      0x81, 0x02,  //   Input (Data, Variable, Absolute)
  });
  bytes.insert(bytes.end() - 1, longer.begin(), longer.end());  // before End Collection
  return bytes;
}

// A device without report ids: 64 data bytes each way.
inline std::vector<std::uint8_t> unnumberedDescriptor() {
  return descriptorBytes({0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x40, 0x81,
                          0x02, 0x95, 0x40, 0x91, 0x02, 0xC0});
}

// One input report of `count` 8-bit fields under report id 2 (count as 16 bits), and the
// unit's output report.
inline std::vector<std::uint8_t> unitWithInputCount(std::uint16_t count) {
  return descriptorBytes({0x85, 0x02, 0x75, 0x08, 0x96, count & 0xFF, count >> 8, 0x81, 0x02, 0x85,
                          0x01, 0x95, 0x3B, 0x91, 0x02});
}

// Input reports 1 to 255, each of one byte, and no output report.
inline std::vector<std::uint8_t> everyReportId() {
  std::vector<std::uint8_t> bytes = descriptorBytes({0x75, 0x08, 0x95, 0x01});
  for (int id = 1; id <= 255; ++id) {
    const std::vector<std::uint8_t> item = descriptorBytes({0x85, id, 0x81, 0x02});
    bytes.insert(bytes.end(), item.begin(), item.end());
  }
  return bytes;
}

inline std::vector<std::uint8_t> concatenated(std::vector<std::uint8_t> first,
                                              const std::vector<std::uint8_t>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

constexpr DescriptorError OK = DescriptorError::None;

inline const std::vector<DescriptorCase>& descriptorCases() {
  static const std::vector<DescriptorCase> cases = {
      // Well-formed.
      {"the unit's own", unitDescriptor(), OK, 60, 60, true, true},
      {"unnumbered reports", unnumberedDescriptor(), OK, 65, 65, false, false},
      {"empty", {}, OK, 0, 0, false, false},
      {"16-bit item data",
       descriptorBytes(
           {0x85, 0x02, 0x76, 0x08, 0x00, 0x96, 0x3B, 0x00, 0x81, 0x02, 0x85, 0x01, 0x91, 0x02}),
       OK, 60, 60, true, true},
      {"32-bit item data",
       descriptorBytes({0x87, 0x02, 0x00, 0x00, 0x00, 0x77, 0x08, 0x00, 0x00, 0x00, 0x97, 0x3B,
                        0x00, 0x00, 0x00, 0x81, 0x02}),
       OK, 60, 0, true, false},
      {"16-bit fields",
       descriptorBytes(
           {0x85, 0x02, 0x75, 0x10, 0x95, 0x1E, 0x81, 0x02, 0x85, 0x01, 0x95, 0x1D, 0x91, 0x02}),
       OK, 61, 59, true, true},
      {"bits rounded up to whole bytes",
       descriptorBytes({0x85, 0x02, 0x75, 0x01, 0x95, 0x03, 0x81, 0x02, 0x75, 0x05,
                        0x95, 0x01, 0x81, 0x03, 0x75, 0x08, 0x95, 0x3A, 0x81, 0x02,
                        0x85, 0x01, 0x75, 0x03, 0x95, 0x01, 0x91, 0x02}),
       OK, 60, 2, true, true},
      {"several reports: the longest counts",
       descriptorBytes({0x75, 0x08, 0x85, 0x01, 0x95, 0x0A, 0x81, 0x02, 0x85, 0x02, 0x95,
                        0x3B, 0x81, 0x02, 0x85, 0x03, 0x95, 0x14, 0x81, 0x02, 0x85, 0x01,
                        0x95, 0x3B, 0x91, 0x02, 0x85, 0x04, 0x95, 0x64, 0x91, 0x02}),
       OK, 60, 101, true, true},
      {"fields of one report add up",
       descriptorBytes({0x85, 0x02, 0x75, 0x08, 0x95, 0x1E, 0x81, 0x02, 0x85, 0x05, 0x81, 0x02,
                        0x85, 0x02, 0x95, 0x1D, 0x81, 0x02}),
       OK, 60, 0, true, false},
      {"Push and Pop restore size, count and id",
       descriptorBytes({0x85, 0x02, 0x75, 0x08, 0x95, 0x3B, 0xA4, 0x85, 0x03, 0x75, 0x10,
                        0x95, 0x01, 0x81, 0x02, 0xB4, 0x81, 0x02, 0x85, 0x01, 0x91, 0x02}),
       OK, 60, 60, true, true},
      {"Push as deep as allowed", repeated({0xA4}, 16, repeated({0xB4}, 16, unitDescriptor())), OK,
       60, 60, true, true},
      {"long item skipped whole",
       concatenated(descriptorBytes({0xFE, 0x03, 0x10, 0x81, 0x02, 0x91}), unitDescriptor()), OK,
       60, 60, true, true},
      {"feature reports do not count",
       concatenated(unitDescriptor(), descriptorBytes({0x85, 0x07, 0x96, 0x00, 0x04, 0xB1, 0x02})),
       OK, 60, 60, true, true},
      {"report count 0", descriptorBytes({0x85, 0x02, 0x75, 0x08, 0x95, 0x00, 0x81, 0x02}), OK, 1,
       0, true, false},
      {"reserved item type ignored",
       concatenated(descriptorBytes({0x0F, 1, 2, 3, 4}), unitDescriptor()), OK, 60, 60, true, true},
      {"every report id", everyReportId(), OK, 2, 0, true, false},
      // Declared, but far longer than the link takes: the capability check refuses them.
      {"absurd report count", unitWithInputCount(2000), OK, 2001, 60, true, true},
      {"longest declarable report", unitWithInputCount(0xFFFE), OK, 0xFFFF, 60, true, true},
      // Malformed.
      {"truncated 1-byte item", descriptorBytes({0x85, 0x02, 0x75}),
       DescriptorError::TruncatedItem},
      {"truncated 2-byte item", descriptorBytes({0x96, 0x3B}), DescriptorError::TruncatedItem},
      {"truncated 4-byte item", descriptorBytes({0x97, 0x3B, 0x00, 0x00}),
       DescriptorError::TruncatedItem},
      {"long item prefix alone", descriptorBytes({0xFE}), DescriptorError::TruncatedItem},
      {"long item without tag", descriptorBytes({0xFE, 0x00}), DescriptorError::TruncatedItem},
      {"long item with its data cut", descriptorBytes({0xFE, 0x05, 0x10, 0xAA}),
       DescriptorError::TruncatedItem},
      {"long item claiming 255 bytes", descriptorBytes({0xFE, 0xFF, 0x10}),
       DescriptorError::TruncatedItem},
      {"Push beyond the stack", repeated({0xA4}, 17), DescriptorError::NestingTooDeep},
      {"Push without end", repeated({0xA4}, 4096), DescriptorError::NestingTooDeep},
      {"Pop on an empty stack", descriptorBytes({0xB4}), DescriptorError::PopWithoutPush},
      {"more Pops than Pushes", repeated({0xA4}, 3, repeated({0xB4}, 4)),
       DescriptorError::PopWithoutPush},
      {"report id 0", descriptorBytes({0x85, 0x00}), DescriptorError::InvalidReportId},
      {"report id without data", descriptorBytes({0x84}), DescriptorError::InvalidReportId},
      {"report id 256", descriptorBytes({0x86, 0x00, 0x01}), DescriptorError::InvalidReportId},
      {"report id 0xFFFFFFFF", descriptorBytes({0x87, 0xFF, 0xFF, 0xFF, 0xFF}),
       DescriptorError::InvalidReportId},
      {"input before size and count", descriptorBytes({0x81, 0x02}),
       DescriptorError::MissingSizeOrCount},
      {"output before count", descriptorBytes({0x75, 0x08, 0x91, 0x02}),
       DescriptorError::MissingSizeOrCount},
      {"input before size", descriptorBytes({0x95, 0x08, 0x81, 0x02}),
       DescriptorError::MissingSizeOrCount},
      {"Pop back to before size and count",
       descriptorBytes({0xA4, 0x75, 0x08, 0x95, 0x08, 0xB4, 0x81, 0x02}),
       DescriptorError::MissingSizeOrCount},
      {"numbered and unnumbered input",
       descriptorBytes({0x75, 0x08, 0x95, 0x04, 0x81, 0x02, 0x85, 0x01, 0x81, 0x02}),
       DescriptorError::MixedNumbering},
      {"size and count of 2^32 - 1",
       descriptorBytes({0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02}),
       DescriptorError::ReportTooLong},
      {"one byte beyond the longest declarable report", unitWithInputCount(0xFFFF),
       DescriptorError::ReportTooLong},
      {"fields that add up beyond it",
       descriptorBytes({0x85, 0x01, 0x75, 0x08, 0x96, 0x00, 0x80, 0x91, 0x02, 0x91, 0x02}),
       DescriptorError::ReportTooLong},
      {"huge fields, repeated",
       repeated({0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0x7F, 0x81, 0x02}, 3),
       DescriptorError::ReportTooLong},
  };
  return cases;
}

}  // namespace esc::test
