#include "device/linux/report_descriptor.h"

#include <algorithm>

namespace esc {
namespace {

// Item prefixes with the size bits cleared (tag in the high 4 bits, type in bits 2-3).
constexpr std::uint8_t ITEM_INPUT = 0x80;
constexpr std::uint8_t ITEM_OUTPUT = 0x90;
constexpr std::uint8_t ITEM_REPORT_SIZE = 0x74;
constexpr std::uint8_t ITEM_REPORT_ID = 0x84;
constexpr std::uint8_t ITEM_REPORT_COUNT = 0x94;
constexpr std::uint8_t ITEM_PUSH = 0xA4;
constexpr std::uint8_t ITEM_POP = 0xB4;
constexpr std::uint8_t LONG_ITEM_PREFIX = 0xFE;
constexpr std::size_t REPORT_IDS = 256;
// The most data bits one report may hold so that its bytes and the id byte still fit
// into a 16-bit length.
constexpr std::uint64_t MAX_REPORT_BITS = std::uint64_t{MAX_REPORT_BYTES - 1} * 8;

// The global items that decide report lengths; Push and Pop save and restore them whole.
struct GlobalState {
  std::uint32_t reportSize = 0;
  std::uint32_t reportCount = 0;
  std::uint32_t reportId = 0;  // 0 while no Report ID item has been seen
  bool sizeGiven = false;
  bool countGiven = false;
};

// The data bits of every report of one direction, by report id (0 = unnumbered).
struct Direction {
  std::uint64_t bits[REPORT_IDS] = {};
  bool declared[REPORT_IDS] = {};
  bool numbered = false;
  bool unnumbered = false;
};

struct Parser {
  GlobalState global;
  GlobalState stack[MAX_PUSH_DEPTH];
  std::size_t depth = 0;
  Direction input;
  Direction output;
};

std::uint32_t itemValue(const std::uint8_t* data, std::size_t size) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < size; ++i) {
    value |= std::uint32_t{data[i]} << (8 * i);
  }
  return value;
}

DescriptorError addField(const GlobalState& global, Direction& direction) {
  if (!global.sizeGiven || !global.countGiven) {
    return DescriptorError::MissingSizeOrCount;
  }
  const std::uint32_t id = global.reportId;
  (id == 0 ? direction.unnumbered : direction.numbered) = true;
  if (direction.numbered && direction.unnumbered) {
    return DescriptorError::MixedNumbering;
  }
  // Both factors are below 2^32, so their product fits; the sum is checked before it is made.
  const std::uint64_t fieldBits = std::uint64_t{global.reportSize} * global.reportCount;
  if (fieldBits > MAX_REPORT_BITS - direction.bits[id]) {
    return DescriptorError::ReportTooLong;
  }
  direction.bits[id] += fieldBits;
  direction.declared[id] = true;
  return DescriptorError::None;
}

DescriptorError applyShortItem(Parser& parser, std::uint8_t prefix, std::uint32_t value) {
  switch (prefix & 0xFC) {
    case ITEM_INPUT:
      return addField(parser.global, parser.input);
    case ITEM_OUTPUT:
      return addField(parser.global, parser.output);
    case ITEM_REPORT_SIZE:
      parser.global.reportSize = value;
      parser.global.sizeGiven = true;
      return DescriptorError::None;
    case ITEM_REPORT_COUNT:
      parser.global.reportCount = value;
      parser.global.countGiven = true;
      return DescriptorError::None;
    case ITEM_REPORT_ID:
      if (value == 0 || value >= REPORT_IDS) {
        return DescriptorError::InvalidReportId;
      }
      parser.global.reportId = value;
      return DescriptorError::None;
    case ITEM_PUSH:
      if (parser.depth == MAX_PUSH_DEPTH) {
        return DescriptorError::NestingTooDeep;
      }
      parser.stack[parser.depth++] = parser.global;
      return DescriptorError::None;
    case ITEM_POP:
      if (parser.depth == 0) {
        return DescriptorError::PopWithoutPush;
      }
      parser.global = parser.stack[--parser.depth];
      return DescriptorError::None;
    default:
      // Usages, logical ranges, collections, features: they do not change the lengths.
      return DescriptorError::None;
  }
}

// The id byte is counted whether or not the reports are numbered, as Windows does.
std::uint64_t reportBytes(const Direction& direction, std::size_t id) {
  return (direction.bits[id] + 7) / 8 + 1;
}

std::uint32_t longestReport(const Direction& direction) {
  std::uint64_t longest = 0;
  for (std::size_t id = 0; id < REPORT_IDS; ++id) {
    if (direction.declared[id]) {
      longest = std::max(longest, reportBytes(direction, id));
    }
  }
  return static_cast<std::uint32_t>(longest);
}

DescriptorParse finish(const Parser& parser) {
  DescriptorParse result;
  for (std::size_t id = 0; id < REPORT_IDS; ++id) {
    if (parser.input.declared[id]) {
      // At most MAX_REPORT_BYTES: a longer report failed the parse.
      result.lengths.inputLengths[id] = static_cast<std::uint16_t>(reportBytes(parser.input, id));
    }
  }
  result.lengths.inputLength = longestReport(parser.input);
  result.lengths.outputLength = longestReport(parser.output);
  result.lengths.inputNumbered = parser.input.numbered;
  result.lengths.outputNumbered = parser.output.numbered;
  return result;
}

DescriptorParse failure(DescriptorError error) {
  DescriptorParse result;
  result.error = error;
  return result;
}

}  // namespace

DescriptorParse parseReportDescriptor(const std::uint8_t* bytes, std::size_t size) {
  if (bytes == nullptr) {
    size = 0;
  }
  Parser parser;  // about 5 KB: the bits of every possible report id, in both directions
  std::size_t position = 0;
  while (position < size) {
    const std::uint8_t prefix = bytes[position];
    const std::size_t remaining = size - position - 1;
    if (prefix == LONG_ITEM_PREFIX) {
      // Long items (size byte, tag byte, data) are reserved for future use: skipped whole.
      if (remaining < 2 || remaining - 2 < bytes[position + 1]) {
        return failure(DescriptorError::TruncatedItem);
      }
      position += 3 + std::size_t{bytes[position + 1]};
      continue;
    }
    const std::size_t dataSize = (prefix & 0x03) == 3 ? 4 : (prefix & 0x03);
    if (remaining < dataSize) {
      return failure(DescriptorError::TruncatedItem);
    }
    const std::uint32_t value = itemValue(bytes + position + 1, dataSize);
    const DescriptorError error = applyShortItem(parser, prefix, value);
    if (error != DescriptorError::None) {
      return failure(error);
    }
    position += 1 + dataSize;
  }
  return finish(parser);
}

}  // namespace esc
