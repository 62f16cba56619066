// The emulated bus with the waits of the real program: the bus answers the reports, and
// Windows' precise timer paces the waits between them, so that an update on the emulated
// unit lasts what it would on the real one.
#pragma once

#include "device/hid_platform.h"

namespace esc::sim {

// A copy of `bus` (the emulated bus's table) whose sleep, sleepUntil and nowMicroseconds
// are those of windowsHidPlatform(). `beforeWait`, when not null, is called with
// `hookContext` before every wait that has more than a few milliseconds to run; it must
// not pump the thread's messages (the update blocks the dialog on purpose) and must
// return well within that time. One paced table per process: the hook is kept here.
HidPlatform pacedPlatform(const HidPlatform& bus, void (*beforeWait)(void* context),
                          void* hookContext);

}  // namespace esc::sim
