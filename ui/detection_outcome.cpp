#include "ui/detection_outcome.h"

#include "device/report_layout.h"
#include "resources/message_ids.h"
#include "ui/texts.h"

namespace esc {

DetectionOutcome classifyOpenUnit(const HidLink& link, UpdateTarget& target) {
  if (link.unitWrongMode != 0) {
    return DetectionOutcome::WrongMode;
  }
  if (link.escStatus != ESC_STATUS_READY) {
    return DetectionOutcome::NoUpdatableEsc;
  }
  switch (classifyController(escModelCode(link), target)) {
    case ClassificationResult::Supported:
      return DetectionOutcome::Supported;
    case ClassificationResult::AcceptedWithoutTarget:
      return DetectionOutcome::AcceptedWithoutTarget;
    case ClassificationResult::Incompatible:
      break;
  }
  return DetectionOutcome::Incompatible;
}

MessageId headingOf(DetectionOutcome outcome) {
  switch (outcome) {
    case DetectionOutcome::WrongMode:
      return MSG_WRONG_MODE;
    case DetectionOutcome::NoUpdatableEsc:
      return MSG_NO_UPDATABLE_ESC;
    case DetectionOutcome::Incompatible:
      return MSG_INCOMPATIBLE_HEADING;
    case DetectionOutcome::NoUnit:
    case DetectionOutcome::Supported:
    case DetectionOutcome::AcceptedWithoutTarget:
      break;
  }
  return MSG_NO_UNIT;
}

bool keepsLinkOpen(DetectionOutcome outcome) {
  return outcome == DetectionOutcome::Supported ||
         outcome == DetectionOutcome::AcceptedWithoutTarget;
}

void loadIncompatibleBoxTexts(IncompatibleBoxTexts& texts) {
  char16_t format[MESSAGE_BUFFER_UNITS];
  loadMessage(MSG_INCOMPATIBLE, format);
  formatIncompatibleText(format, texts.text, MESSAGE_BUFFER_UNITS);
  loadMessage(MSG_INCOMPATIBLE_CAPTION, texts.caption);
}

}  // namespace esc
