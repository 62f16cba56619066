// The link's platform operations over WebHID, for the updater in the browser. The core's
// calls stay synchronous: each operation awaits WebHID's promise through Asyncify. The
// devices are those the page has been granted (the browser's chooser, or a grant from an
// earlier visit); webhid_platform.js holds the JavaScript half and the HID source, which
// is navigator.hid or the simulated unit's stand-in with the same shape.
#pragma once

#include <cstdint>
#include <string>

#include "device/hid_platform.h"

namespace esc {

// The error values left for the error report's code line: the Windows codes for the same
// failures, so that a code means the same whichever program shows it.
inline constexpr std::uint32_t WEBHID_ERROR_ACCESS_DENIED = 5;   // open() rejected
inline constexpr std::uint32_t WEBHID_ERROR_INVALID_HANDLE = 6;  // the device is not open
inline constexpr std::uint32_t WEBHID_ERROR_INVALID_DATA = 13;   // a report of another length
inline constexpr std::uint32_t WEBHID_ERROR_GEN_FAILURE = 31;    // sendReport() rejected
inline constexpr std::uint32_t WEBHID_ERROR_INVALID_PARAMETER = 87;
inline constexpr std::uint32_t WEBHID_ERROR_NO_MORE_ITEMS = 259;
inline constexpr std::uint32_t WEBHID_ERROR_DEVICE_NOT_CONNECTED = 1167;
inline constexpr std::uint32_t WEBHID_ERROR_TIMEOUT = 1460;

// The table; its operations may be called only from code run through Asyncify.
const HidPlatform& webHidPlatform();

// The device path the platform gives the device with this id (the JavaScript half numbers
// every device it sees once, and a device plugged in again gets a new number).
std::u16string webHidDevicePath(std::uint32_t deviceId);

}  // namespace esc
