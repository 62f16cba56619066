// Reading little-endian binary files (bitmaps, icons, compiled resources) in the tests.
// Reads outside the data go through std::vector::at, so a truncated file fails the test
// that reads it instead of reading past the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace esc {
namespace test {

using ByteVector = std::vector<std::uint8_t>;

inline ByteVector readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return ByteVector(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::uint16_t u16(const ByteVector& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes.at(at) | (bytes.at(at + 1) << 8));
}

inline std::uint32_t u32(const ByteVector& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(u16(bytes, at)) |
         (static_cast<std::uint32_t>(u16(bytes, at + 2)) << 16);
}

inline std::int16_t i16(const ByteVector& bytes, std::size_t at) {
  return static_cast<std::int16_t>(u16(bytes, at));
}

inline std::int32_t i32(const ByteVector& bytes, std::size_t at) {
  return static_cast<std::int32_t>(u32(bytes, at));
}

}  // namespace test
}  // namespace esc
