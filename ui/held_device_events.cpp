#include "ui/held_device_events.h"

namespace esc {

void holdArrival(HeldDeviceEvents& held) {
  if (held.openUnitRemoved) {
    held.arrivalAfterRemoval = true;
  } else {
    held.arrivalBeforeRemoval = true;
  }
}

// A later removal of the same unit (pulled, plugged in and pulled again) adds nothing: the
// arrivals after the first one detect whatever is present when they are handled.
void holdRemoval(HeldDeviceEvents& held, bool namesOpenUnit) {
  if (namesOpenUnit) {
    held.openUnitRemoved = true;
  }
}

void openUnitRemovalHandled(HeldDeviceEvents& held) { held.arrivalBeforeRemoval = false; }

bool anyHeld(const HeldDeviceEvents& held) {
  return held.arrivalBeforeRemoval || held.openUnitRemoved || held.arrivalAfterRemoval;
}

// An arrival while the unit is open changes nothing: only one after its removal detects.
HeldEventActions actionsFor(const HeldDeviceEvents& held, bool linkOpen) {
  if (linkOpen) {
    return {held.openUnitRemoved, held.openUnitRemoved && held.arrivalAfterRemoval};
  }
  return {false, held.arrivalBeforeRemoval || held.arrivalAfterRemoval};
}

}  // namespace esc
