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

// The error values left for the error report's code line are the Windows codes for the
// same failures, so that a code means the same whichever program shows it. These two
// are this side's; webhid_platform.js leaves the others (5, 6, 31, 1167, 1460).
inline constexpr std::uint32_t WEBHID_ERROR_INVALID_DATA = 13;  // a report of another length
inline constexpr std::uint32_t WEBHID_ERROR_INVALID_PARAMETER = 87;

// The table; its operations may be called only from code run through Asyncify.
const HidPlatform& webHidPlatform();

// After an enumeration: the error left by opening a programming unit among its devices
// that could not be opened (another tab or program may hold it), or 0 if there was none.
// `open` passes such a unit over as it does on Windows; the page tells the user why.
std::uint32_t webHidUnitOpenError();

// The device path the platform gives the device with this id (the JavaScript half numbers
// every device it sees once, and a device plugged in again gets a new number).
std::u16string webHidDevicePath(std::uint32_t deviceId);

}  // namespace esc
