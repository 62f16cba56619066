// What the parts of the HID platform probe share.
#pragma once

#include "device/hid_platform.h"

namespace probe {

// Prints one result line and counts a failure.
void check(bool passed, const char* format, ...);
// The Windows platform under test.
const esc::HidPlatform& platform();
void checkTransfers();  // platform_probe_transfer.cpp
void checkClock();      // platform_probe_clock.cpp

}  // namespace probe
