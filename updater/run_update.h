// The update procedure behind the Update button.
#pragma once

#include "device/hid_link.h"
#include "updater/classification.h"
#include "updater/update_port.h"

namespace esc {

void runUpdate(HidLink& link, UpdateTarget& target, const UpdatePort& port);

}  // namespace esc
