// Finding programming units on the HID platform without taking a link: the list verb,
// the check of a --device path, and a platform view that shows the link one device only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/hid_platform.h"
#include "ui/cli/cli_environment.h"

namespace esc::cli {

struct UnitEntry {
  std::u16string path;
  std::uint16_t productId;  // 0 for a unit that cannot be used
  UnitProblem problem = UnitProblem::None;
};

// Every present device with the build's vendor id and product id 1 or 2, in enumeration
// order, and every unit that is there but cannot be opened (as `openProblem` tells from
// the platform's error; null where a failed open tells nothing). Each is opened only to
// read its ids and closed again. False when the device list cannot be obtained.
bool findUnits(const HidPlatform& platform, std::vector<UnitEntry>& units,
               OpenProblem openProblem = nullptr);

enum class DeviceCheck {
  Unit,             // a programming unit is at the path
  NotAUnit,         // a HID device is there, but it is no programming unit (or unreadable)
  Unusable,         // a programming unit is there, but it cannot be opened
  NoDevice,         // no HID device has this path
  ListUnavailable,  // the device list cannot be obtained
};

bool samePath(const std::u16string& a, const std::u16string& b, bool ignoreCase);

// `problem` tells why for Unusable.
DeviceCheck checkDevicePath(const HidPlatform& platform, const std::u16string& path,
                            bool ignoreCase, OpenProblem openProblem, UnitProblem& problem);

// The platform as seen by a link that may open only the device at `path`: enumeration
// shows that device alone (when present); every other operation is the base's.
struct DeviceFilter {
  const HidPlatform* base;
  std::u16string path;
  bool ignoreCase;
};

// The returned table refers to `filter`, which must outlive its use.
HidPlatform restrictToDevice(DeviceFilter& filter);

}  // namespace esc::cli
