// Reading the data of a device-change notification without trusting its sizes, and
// matching a removed interface's path against the open unit's path. No window code here,
// so that the bounds checks can be exercised on any platform.
#pragma once

#include <cstddef>
#include <cstdint>

namespace esc {

inline constexpr std::uint32_t DEVICE_TYPE_INTERFACE = 5;

// Byte layout of the broadcast records: a header of three 32-bit fields (total size,
// device type, reserved); for a device interface, the 16-byte class id follows and then
// the UTF-16 interface path, NUL-terminated.
inline constexpr std::size_t BROADCAST_HEADER_BYTES = 12;
inline constexpr std::size_t INTERFACE_NAME_OFFSET = 28;

struct DeviceBroadcast {
  // False when there is no record or its stated size does not even cover the header;
  // nothing else is then read.
  bool readable;
  std::uint32_t deviceType;
  // A device interface's path, or null when the record is not a device interface or the
  // path is not terminated within the record's stated size.
  const char16_t* interfaceName;
};

// `message` is the notification's data pointer as delivered (null when there is none).
DeviceBroadcast readDeviceBroadcast(const void* message);

// Device paths name the same interface when they are equal with the letters A to Z
// taken without case; every other character must match exactly.
bool sameDevicePath(const char16_t* first, const char16_t* second);

}  // namespace esc
