// Device notifications that arrive while the dialog must not act on them (one of its
// message boxes is open, or the update uses the link), reduced to what decides their
// effect once they may act.
//
// While notifications are held the program can close the link but never open it: only a
// handled arrival opens it. So a removal can only matter if it names the unit open when
// it arrives, and every arrival runs the same detection on the devices present when it is
// handled: two of them in a row find the same unit, and the second would only announce
// it again. What remains fits three flags, however long the notifications are held and
// however often a device comes and goes meanwhile, and the open unit's removal is never
// lost.
#pragma once

namespace esc {

struct HeldDeviceEvents {
  bool arrivalBeforeRemoval = false;
  bool openUnitRemoved = false;
  bool arrivalAfterRemoval = false;
};

void holdArrival(HeldDeviceEvents& held);
// `namesOpenUnit`: the removed interface is the open unit's. Other removals change
// nothing, now or later.
void holdRemoval(HeldDeviceEvents& held, bool namesOpenUnit);
// The open unit's removal was handled at once while arrivals were held (a question box
// holds only those): the arrivals held so far came while that unit was open, so they
// change nothing.
void openUnitRemovalHandled(HeldDeviceEvents& held);
bool anyHeld(const HeldDeviceEvents& held);

// What the held notifications do, in this order, when they are handled with the link in
// the given state.
struct HeldEventActions {
  bool loseOpenUnit;  // the unit open when they were held is gone: close the link
  bool detect;        // then an arrival runs the detection
};

// `linkOpen`: the link is open now. It is then still the unit that was open while they
// were held; if the program has closed it meanwhile, that unit's removal changes nothing
// and any arrival may find a unit.
HeldEventActions actionsFor(const HeldDeviceEvents& held, bool linkOpen);

}  // namespace esc
