// Byte-level helpers for the 60-byte report records, shared by the link, identification,
// the bootloader commands and the emulated unit. Answer bytes come from a device and are
// untrusted, so values are assembled byte by byte: no unaligned or aliasing casts.
#pragma once

#include <cstdint>

#include "device/hid_link.h"

namespace esc {

// Where the unit keeps its version words while it runs in the wrong mode.
inline constexpr std::uint32_t UNIT_INFO_ADDRESS = 0x0801FC00;
// Unit-info status meaning an updatable ESC is attached.
inline constexpr std::uint16_t ESC_STATUS_READY = 3;
// The two parameters of CMD_GET_ESC_INFO: 32, and -32 as a 32-bit pattern.
inline constexpr std::uint32_t ESC_INFO_PARAMETER_1 = 0x00000020;
inline constexpr std::uint32_t ESC_INFO_PARAMETER_2 = 0xFFFFFFE0;

inline std::uint16_t readLe16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

inline std::uint32_t readLe32(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
         (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
}

inline void writeLe16(std::uint8_t* bytes, std::uint16_t value) {
  bytes[0] = static_cast<std::uint8_t>(value & 0xFFu);
  bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void writeLe32(std::uint8_t* bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    bytes[i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFFu);
  }
}

// Two's-complement reinterpretation without relying on implementation-defined narrowing.
inline std::int32_t asSigned(std::uint32_t value) {
  if (value <= 0x7FFFFFFFu) {
    return static_cast<std::int32_t>(value);
  }
  return -static_cast<std::int32_t>(~value) - 1;
}

// A zeroed request with the report id, command code and length value in place.
inline HidReport makeRequest(DeviceCommand command, std::uint8_t lengthValue) {
  HidReport request{};
  request.bytes[0] = OUTPUT_REPORT_ID;
  request.bytes[1] = command;
  request.bytes[2] = lengthValue;
  return request;
}

inline bool hasErrorMarker(const HidReport& answer) {
  return answer.bytes[1] == ANSWER_ERROR_MARKER;
}

// With the marker, the unit's 32-bit status (0 counts as success); otherwise success.
inline std::int32_t standardEvaluation(const HidReport& answer) {
  return hasErrorMarker(answer) ? asSigned(readLe32(answer.bytes + 4)) : LINK_OK;
}

}  // namespace esc
