// What one detection attempt decided about the unit that `open` found: the outcomes the
// window turns into link state, Update button and status panel, and that the command line
// reports the same way.
#pragma once

#include "device/hid_link.h"
#include "resources/messages.h"
#include "updater/classification.h"

namespace esc {

enum class DetectionOutcome {
  NoUnit,
  WrongMode,
  NoUpdatableEsc,
  Supported,
  AcceptedWithoutTarget,
  Incompatible
};

// The decision for a unit that `open` found and identified, tested in this order: wrong
// mode, no updatable ESC, then the controller's model code. Classification fills `target`
// for a supported controller and leaves it alone otherwise.
DetectionOutcome classifyOpenUnit(const HidLink& link, UpdateTarget& target);

// The status panel's heading for the outcomes that give the unit up (no unit, wrong mode,
// no updatable ESC, incompatible); MSG_NO_UNIT for the others, which show none.
MessageId headingOf(DetectionOutcome outcome);

// Whether the outcome keeps the link open.
bool keepsLinkOpen(DetectionOutcome outcome);

// The box that tells why an incompatible controller is given up: its caption, and its
// text with the supported type in place.
struct IncompatibleBoxTexts {
  char16_t caption[MESSAGE_BUFFER_UNITS];
  char16_t text[MESSAGE_BUFFER_UNITS];
};
void loadIncompatibleBoxTexts(IncompatibleBoxTexts& texts);

}  // namespace esc
