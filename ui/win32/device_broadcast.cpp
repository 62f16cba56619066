#include "ui/win32/device_broadcast.h"

#include <cstring>

namespace esc {
namespace {

std::uint32_t readWord(const unsigned char* bytes, std::size_t offset) {
  std::uint32_t value;
  std::memcpy(&value, bytes + offset, sizeof value);
  return value;
}

char16_t foldAsciiLetter(char16_t unit) {
  if (unit >= u'A' && unit <= u'Z') {
    return static_cast<char16_t>(unit - u'A' + u'a');
  }
  return unit;
}

}  // namespace

DeviceBroadcast readDeviceBroadcast(const void* message) {
  DeviceBroadcast broadcast{false, 0, nullptr};
  if (message == nullptr) {
    return broadcast;
  }
  const auto* bytes = static_cast<const unsigned char*>(message);
  const std::uint32_t size = readWord(bytes, 0);
  if (size < BROADCAST_HEADER_BYTES) {
    return broadcast;
  }
  broadcast.readable = true;
  broadcast.deviceType = readWord(bytes, 4);
  if (broadcast.deviceType != DEVICE_TYPE_INTERFACE || size < INTERFACE_NAME_OFFSET) {
    return broadcast;
  }
  // Only the units that lie wholly inside the stated size are examined.
  const std::size_t units = (size - INTERFACE_NAME_OFFSET) / sizeof(char16_t);
  for (std::size_t index = 0; index < units; ++index) {
    char16_t unit;
    std::memcpy(&unit, bytes + INTERFACE_NAME_OFFSET + index * sizeof unit, sizeof unit);
    if (unit == 0) {
      broadcast.interfaceName = reinterpret_cast<const char16_t*>(bytes + INTERFACE_NAME_OFFSET);
      break;
    }
  }
  return broadcast;
}

bool sameDevicePath(const char16_t* first, const char16_t* second) {
  if (first == nullptr || second == nullptr) {
    return false;
  }
  for (;; ++first, ++second) {
    if (foldAsciiLetter(*first) != foldAsciiLetter(*second)) {
      return false;
    }
    if (*first == 0) {
      return true;
    }
  }
}

}  // namespace esc
