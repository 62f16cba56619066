// Reading compiled resource files (.res, as the resource compilers write them) and the
// extended dialog templates and version information inside them, for the tests of the
// compiled resources.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/graphics/binary_file.h"

namespace esc {
namespace test {

// A resource type or name, or a field of a dialog template that holds either a number
// (after the marker 0xFFFF) or a zero-terminated UTF-16 string.
struct NameOrNumber {
  bool isNumber = false;
  std::uint16_t number = 0;
  std::u16string text;
};

inline bool isNumber(const NameOrNumber& value, std::uint16_t number) {
  return value.isNumber && value.number == number;
}

struct ResourceEntry {
  NameOrNumber type;
  NameOrNumber name;
  std::uint16_t language = 0;
  ByteVector data;
};

struct DialogControl {
  std::uint32_t helpId = 0;
  std::uint32_t exStyle = 0;
  std::uint32_t style = 0;
  std::int16_t x = 0, y = 0, cx = 0, cy = 0;
  std::int32_t id = 0;
  NameOrNumber windowClass;
  NameOrNumber text;
  std::uint16_t creationDataBytes = 0;
};

struct DialogTemplate {
  std::uint16_t version = 0;
  std::uint16_t signature = 0;
  std::uint32_t helpId = 0;
  std::uint32_t exStyle = 0;
  std::uint32_t style = 0;
  std::int16_t x = 0, y = 0, cx = 0, cy = 0;
  NameOrNumber menu;
  NameOrNumber windowClass;
  std::u16string title;
  std::uint16_t pointSize = 0;
  std::uint16_t weight = 0;
  std::uint8_t italic = 0;
  std::uint8_t charset = 0;
  std::u16string typeface;
  std::vector<DialogControl> controls;
};

inline std::size_t alignTo4(std::size_t at) { return (at + 3) & ~static_cast<std::size_t>(3); }

inline std::u16string readString(const ByteVector& bytes, std::size_t& at) {
  std::u16string text;
  for (std::uint16_t c = u16(bytes, at); c != 0; c = u16(bytes, at)) {
    text.push_back(static_cast<char16_t>(c));
    at += 2;
  }
  at += 2;
  return text;
}

// Dialog templates mark "nothing" with a single 0x0000; resource headers never do, but
// read the same way.
inline NameOrNumber readNameOrNumber(const ByteVector& bytes, std::size_t& at) {
  NameOrNumber value;
  if (u16(bytes, at) == 0xFFFF) {
    value.isNumber = true;
    value.number = u16(bytes, at + 2);
    at += 4;
  } else {
    value.text = readString(bytes, at);
  }
  return value;
}

// A .res file is a sequence of DWORD-aligned entries, each a header (sizes, type, name,
// language, ...) and the data. The first entry is an empty marker and is dropped; a
// truncated last entry ends the list.
inline std::vector<ResourceEntry> parseResourceFile(const ByteVector& bytes) {
  std::vector<ResourceEntry> entries;
  std::size_t at = 0;
  while (at + 8 <= bytes.size()) {
    const std::uint32_t dataSize = u32(bytes, at);
    const std::uint32_t headerSize = u32(bytes, at + 4);
    std::size_t field = at + 8;
    ResourceEntry entry;
    entry.type = readNameOrNumber(bytes, field);
    entry.name = readNameOrNumber(bytes, field);
    field = alignTo4(field);
    entry.language = u16(bytes, field + 6);
    const std::size_t data = at + headerSize;
    if (data + dataSize > bytes.size()) break;
    entry.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(data),
                      bytes.begin() + static_cast<std::ptrdiff_t>(data + dataSize));
    if (dataSize != 0 || !isNumber(entry.type, 0)) entries.push_back(entry);
    at = alignTo4(data + dataSize);
  }
  return entries;
}

inline DialogTemplate parseDialogTemplate(const ByteVector& bytes) {
  DialogTemplate d;
  d.version = u16(bytes, 0);
  d.signature = u16(bytes, 2);
  d.helpId = u32(bytes, 4);
  d.exStyle = u32(bytes, 8);
  d.style = u32(bytes, 12);
  const std::uint16_t count = u16(bytes, 16);
  d.x = i16(bytes, 18);
  d.y = i16(bytes, 20);
  d.cx = i16(bytes, 22);
  d.cy = i16(bytes, 24);
  std::size_t at = 26;
  d.menu = readNameOrNumber(bytes, at);
  d.windowClass = readNameOrNumber(bytes, at);
  d.title = readString(bytes, at);
  d.pointSize = u16(bytes, at);
  d.weight = u16(bytes, at + 2);
  d.italic = bytes.at(at + 4);
  d.charset = bytes.at(at + 5);
  at += 6;
  d.typeface = readString(bytes, at);
  for (std::uint16_t i = 0; i < count; ++i) {
    at = alignTo4(at);
    DialogControl c;
    c.helpId = u32(bytes, at);
    c.exStyle = u32(bytes, at + 4);
    c.style = u32(bytes, at + 8);
    c.x = i16(bytes, at + 12);
    c.y = i16(bytes, at + 14);
    c.cx = i16(bytes, at + 16);
    c.cy = i16(bytes, at + 18);
    c.id = i32(bytes, at + 20);
    at += 24;
    c.windowClass = readNameOrNumber(bytes, at);
    c.text = readNameOrNumber(bytes, at);
    c.creationDataBytes = u16(bytes, at);
    at += 2 + c.creationDataBytes;
    d.controls.push_back(c);
  }
  return d;
}

// One node of a version resource: a key, a text or binary value, and child nodes. The
// first node is VS_VERSION_INFO with the fixed file information as its binary value.
struct VersionNode {
  std::u16string key;
  bool isText = false;
  ByteVector value;     // binary values only
  std::u16string text;  // text values only, without their terminating zero
  std::vector<VersionNode> children;
};

// Every node is wLength, wValueLength (bytes, or UTF-16 units for text), wType (1 text,
// 0 binary), the key, then the value and the children, each starting on a DWORD boundary
// counted from the start of the resource.
inline VersionNode parseVersionNode(const ByteVector& bytes, std::size_t at) {
  VersionNode node;
  const std::size_t end = at + u16(bytes, at);
  const std::uint16_t valueLength = u16(bytes, at + 2);
  node.isText = u16(bytes, at + 4) == 1;
  std::size_t field = at + 6;
  node.key = readString(bytes, field);
  field = alignTo4(field);
  const std::size_t valueBytes = node.isText ? 2u * valueLength : valueLength;
  if (field + valueBytes > bytes.size()) throw std::out_of_range("version value past the end");
  if (node.isText) {
    for (std::size_t unit = 0; unit < valueLength; ++unit) {
      node.text.push_back(static_cast<char16_t>(u16(bytes, field + 2 * unit)));
    }
    if (!node.text.empty() && node.text.back() == 0) node.text.pop_back();
  } else {
    node.value.assign(bytes.begin() + static_cast<std::ptrdiff_t>(field),
                      bytes.begin() + static_cast<std::ptrdiff_t>(field + valueBytes));
  }
  field += valueBytes;
  for (field = alignTo4(field); field < end; field = alignTo4(field + u16(bytes, field))) {
    if (u16(bytes, field) == 0) break;
    node.children.push_back(parseVersionNode(bytes, field));
  }
  return node;
}

}  // namespace test
}  // namespace esc
