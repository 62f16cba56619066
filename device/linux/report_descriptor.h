// Report lengths from a HID report descriptor, as Windows declares them in a device's
// capabilities: Linux offers the descriptor's bytes but no parsed capabilities, and the
// link's length rules are written against what Windows declares.
//
// A pure function over untrusted bytes: no system calls, no allocation, and every item,
// count and nesting level is bounded, so any input (a fuzzer's included) gives lengths or
// a failure in time linear in its size.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace esc {

struct ReportLengths {
  // The longest input and output report in bytes, plus one byte for the report id, which
  // Windows counts even for unnumbered reports (where it is 0). 0 when there is none.
  std::uint32_t inputLength = 0;
  std::uint32_t outputLength = 0;
  // Whether the reports of that direction carry a report id byte on the wire.
  bool inputNumbered = false;
  bool outputNumbered = false;
  // Each input report's length in bytes, id byte included, by report id (index 0 for
  // unnumbered input); 0 for an id the descriptor does not declare. hidraw delivers a
  // report at its own length, which Windows pads to the longest.
  std::array<std::uint16_t, 256> inputLengths{};
};

enum class DescriptorError {
  None,
  TruncatedItem,       // an item's data runs past the end
  NestingTooDeep,      // Push beyond the stack's capacity
  PopWithoutPush,      // Pop on an empty stack
  InvalidReportId,     // Report ID 0 or above 255
  MissingSizeOrCount,  // a main item before Report Size or Report Count
  MixedNumbering,      // reports both with and without an id in one direction
  ReportTooLong        // a report longer than a 16-bit length can declare
};

struct DescriptorParse {
  DescriptorError error = DescriptorError::None;
  ReportLengths lengths;
};

// Nesting of Push that any real descriptor stays far below (the Linux kernel allows 4).
inline constexpr std::size_t MAX_PUSH_DEPTH = 16;
// Windows declares report lengths as 16-bit numbers; a longer report cannot be declared.
inline constexpr std::uint32_t MAX_REPORT_BYTES = 0xFFFF;

DescriptorParse parseReportDescriptor(const std::uint8_t* bytes, std::size_t size);

}  // namespace esc
