// The update procedure behind the Update button.
#pragma once

#include "device/hid_link.h"
#include "updater/classification.h"
#include "updater/firmware_image.h"
#include "updater/update_port.h"

namespace esc {

// Asks, then writes the firmware image selected for `target` to the ESC behind the open
// link. Every failure closes the link and goes to port.reportError; success leaves the
// link open with the new firmware version recorded. Only a controller this build updates
// is written: one swapped in while a question was open that is not such a controller is
// refused before anything is sent. `loadImage` is replaceable so that tests can feed
// images of any size.
void runUpdate(HidLink& link, UpdateTarget& target, const UpdatePort& port,
               ImageLoader loadImage = loadFirmwareImage);

}  // namespace esc
