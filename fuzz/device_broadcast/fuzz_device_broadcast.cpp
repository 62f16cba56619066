// Device-change records as another process may send them: any bytes under any stated size.
// The record handed over occupies exactly the bytes its size field states, no more, so the
// address sanitizer reports any read beyond it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_check.h"
#include "ui/win32/device_broadcast.h"

namespace {

using esc::fuzz::check;

constexpr std::size_t SIZE_FIELD_BYTES = 4;

std::uint32_t readWord(const std::uint8_t* bytes) {
  std::uint32_t value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

char16_t unitAt(const std::uint8_t* bytes, std::size_t index) {
  char16_t unit;
  std::memcpy(&unit, bytes + index * sizeof unit, sizeof unit);
  return unit;
}

char16_t folded(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

// The comparison the removal handler relies on, written out plainly.
bool sameAsciiFolded(const std::uint8_t* first, const char16_t* second) {
  for (std::size_t i = 0;; ++i) {
    const char16_t a = unitAt(first, i);
    if (folded(a) != folded(second[i])) return false;
    if (a == 0) return true;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < SIZE_FIELD_BYTES) return 0;
  // The stated size picks how much of the input forms the record; it never claims more
  // than there is, as the system guarantees for its own records.
  const std::uint32_t stated =
      static_cast<std::uint32_t>(readWord(data) % (size + 1 - SIZE_FIELD_BYTES)) +
      static_cast<std::uint32_t>(SIZE_FIELD_BYTES);
  const std::unique_ptr<std::uint8_t[]> record(new std::uint8_t[stated]);
  std::memcpy(record.get(), data, stated);
  std::memcpy(record.get(), &stated, sizeof stated);

  const esc::DeviceBroadcast broadcast = esc::readDeviceBroadcast(record.get());

  check(broadcast.readable == (stated >= esc::BROADCAST_HEADER_BYTES),
        "a record is readable exactly when it covers the header");
  if (!broadcast.readable) {
    check(broadcast.interfaceName == nullptr, "no name from an unreadable record");
    return 0;
  }
  check(broadcast.deviceType == readWord(record.get() + 4), "the device type is read as sent");
  if (broadcast.interfaceName == nullptr) {
    // Refused only when not an interface, too short, or not terminated within the record.
    if (broadcast.deviceType == esc::DEVICE_TYPE_INTERFACE &&
        stated >= esc::INTERFACE_NAME_OFFSET) {
      const std::uint8_t* name = record.get() + esc::INTERFACE_NAME_OFFSET;
      const std::size_t units = (stated - esc::INTERFACE_NAME_OFFSET) / sizeof(char16_t);
      for (std::size_t i = 0; i < units; ++i) {
        check(unitAt(name, i) != 0, "a terminated interface name is not refused");
      }
    }
    return 0;
  }
  check(broadcast.deviceType == esc::DEVICE_TYPE_INTERFACE, "a name only for an interface");
  const auto* name = reinterpret_cast<const std::uint8_t*>(broadcast.interfaceName);
  check(name == record.get() + esc::INTERFACE_NAME_OFFSET, "the name where the layout puts it");
  // Its terminator lies wholly inside the stated size.
  std::size_t length = 0;
  while (esc::INTERFACE_NAME_OFFSET + (length + 1) * sizeof(char16_t) <= stated &&
         unitAt(name, length) != 0) {
    ++length;
  }
  check(esc::INTERFACE_NAME_OFFSET + (length + 1) * sizeof(char16_t) <= stated,
        "the name is terminated within the record");

  // Matching it against a path as the removal handler does, by a plain comparison.
  const char16_t path[] = u"\\\\?\\HID#VID_FFF0&PID_0001#7&2F1E3D4C&0&0000";
  check(esc::sameDevicePath(broadcast.interfaceName, path) == sameAsciiFolded(name, path),
        "path comparison ignores the case of A to Z only");
  check(esc::sameDevicePath(broadcast.interfaceName, broadcast.interfaceName),
        "a path names its own interface");
  return 0;
}
