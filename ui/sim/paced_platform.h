// The emulated bus with the waits of the real program: the bus answers the reports, and
// Windows' precise timer paces the waits between them, so that an update on the emulated
// unit lasts what it would on the real one.
#pragma once

#include "device/hid_platform.h"

namespace esc::sim {

// A copy of `bus` (the emulated bus's table) whose sleep, sleepUntil and nowMicroseconds
// are those of windowsHidPlatform(). A transfer wait handler given to it runs while the
// unit keeps a transfer waiting on the bus's real clock (a silent unit).
HidPlatform pacedPlatform(const HidPlatform& bus);

}  // namespace esc::sim
