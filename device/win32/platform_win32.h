// The Windows implementation of the HID platform operations (SetupAPI and HID.DLL).
// Windows types stay inside this folder's sources; callers see only the portable table.
#pragma once

#include "device/hid_platform.h"

namespace esc {

// The one table for the real device. HID.DLL and SETUPAPI.DLL are loaded from System32
// on first use; when that fails, enumeration reports the device list as unavailable.
// Reads and writes give up after their timeout, so a silent unit cannot hang the program.
const HidPlatform& windowsHidPlatform();

}  // namespace esc
