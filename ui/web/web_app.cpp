// The updater in the browser: the window's detection, version rows, update and error
// report over the same core, with the page (web/app.js) in place of the dialog. The page
// calls in through the exported functions below, one at a time: those that may wait on
// the device or on the user are awaited, and device events that come meanwhile are only
// held, then handled when the call allows it, as the window does while a box is open or
// the update uses the link. Unlike the window, which shows the unit's removal during a
// question of the update at once, the page holds it too until the question is answered;
// the update then fails at the lock all the same.
#include <emscripten.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

#include "device/hid_link.h"
#include "device/webhid/platform_webhid.h"
#include "resources/message_ids.h"
#include "ui/detection_outcome.h"
#include "ui/held_device_events.h"
#include "ui/texts.h"
#include "ui/web/web_view.h"
#include "updater/run_update.h"

namespace esc::web {
namespace {

// Heading, blank line and instructions: each part fits one message buffer.
constexpr std::size_t STATUS_TEXT_UNITS = 2 * MESSAGE_BUFFER_UNITS + 4;

struct Page {
  HidLink link;
  UpdateTarget target{};
  HeldDeviceEvents held;
  bool updateEnabled = false;
  // The product writes only real images; with the simulated unit the page writes the
  // images built in, placeholders too.
  ImageLoader loadImage = productImageLoader();
};

Page page;
char16_t messageBuffer[MESSAGE_BUFFER_UNITS];

const char16_t* message(MessageId id) {
  loadMessage(id, messageBuffer);
  return messageBuffer;
}

void setUpdateEnabled(bool enable) {
  page.updateEnabled = enable;
  enableUpdate(enable);
}

void showStatusWithInstructions(MessageId heading) {
  char16_t headingText[MESSAGE_BUFFER_UNITS];
  char16_t instructions[MESSAGE_BUFFER_UNITS];
  char16_t text[STATUS_TEXT_UNITS];
  loadMessage(heading, headingText);
  loadMessage(MSG_WEB_INSTRUCTIONS, instructions);
  composeStatusWithInstructions(headingText, instructions, text, STATUS_TEXT_UNITS);
  showStatus(text);
}

// The labels stay as they are while no link is open: the first row keeps the type of the
// last unit shown.
void refreshVersionDisplay() {
  const HidLink& link = page.link;
  if (!isOpen(link)) {
    for (int row = 0; row < 3; ++row) {
      showVersionRow(row, nullptr, NO_LINK_VERSION_TEXT, false);
    }
    return;
  }
  char16_t text[VERSION_TEXT_UNITS];
  formatUnitVersion(link.unitFirmwareVersion, text);
  showVersionRow(0, unitTypeLabel(link.productId), text, true);
  formatBootloaderVersion(escBootloaderVersion(link), text);
  showVersionRow(1, nullptr, text, true);
  formatEscFirmwareVersion(escFirmwareVersion(link), text);
  showVersionRow(2, nullptr, text, true);
}

void showErrorBox(const char16_t* caption, const char16_t* messageText, std::int32_t errorValue,
                  std::uint32_t systemError) {
  char16_t codeLineFormat[MESSAGE_BUFFER_UNITS];
  char16_t text[MESSAGE_BUFFER_UNITS];
  loadMessage(MSG_ERROR_CODE_LINE, codeLineFormat);
  composeErrorText(messageText, codeLineFormat, errorValue, systemError, text,
                   MESSAGE_BUFFER_UNITS);
  showBox(Box::Error, caption, text);
}

// A unit the browser would not open is passed over like one held by another program on
// Windows; the page says so, since the user has just chosen it and would see nothing
// happen.
void reportUnitOpenRefused() {
  const std::uint32_t error = webHidUnitOpenError();
  if (error == 0) {
    return;
  }
  char16_t caption[MESSAGE_BUFFER_UNITS];
  char16_t text[MESSAGE_BUFFER_UNITS];
  loadMessage(MSG_WEB_UNIT_UNAVAILABLE_CAPTION, caption);
  loadMessage(MSG_WEB_UNIT_UNAVAILABLE, text);
  showErrorBox(caption, text, LINK_NO_UNIT, error);
}

void showIncompatibleBox() {
  IncompatibleBoxTexts texts;
  loadIncompatibleBoxTexts(texts);
  showBox(Box::Information, texts.caption, texts.text);
}

// No unit, wrong mode, no updatable ESC, incompatible: the link is given up. The box
// opens with the link already closed.
void giveUpUnit(DetectionOutcome outcome) {
  setUpdateEnabled(false);
  close(page.link);
  if (outcome == DetectionOutcome::Incompatible) {
    showIncompatibleBox();
  }
  showStatusWithInstructions(headingOf(outcome));
}

// After the page's start and on the arrival of a device, only while no link is open. A
// failed attempt changes nothing on the screen. True when it found a unit and gave it up.
bool detectArrivedUnit() {
  if (isOpen(page.link)) {
    return false;
  }
  if (open(page.link) != LINK_OK) {
    reportUnitOpenRefused();
    return false;
  }
  const DetectionOutcome outcome = classifyOpenUnit(page.link, page.target);
  switch (outcome) {
    case DetectionOutcome::Supported:
      showStatus(message(MSG_READY));
      refreshVersionDisplay();
      setUpdateEnabled(true);
      return false;
    case DetectionOutcome::AcceptedWithoutTarget:
      return false;
    default:
      giveUpUnit(outcome);
      return true;
  }
}

void loseOpenUnit() {
  close(page.link);
  setUpdateEnabled(false);
  refreshVersionDisplay();
  showStatusWithInstructions(MSG_CONNECTION_LOST);
}

bool handleHeldEvents() {
  bool unitGivenUp = false;
  while (anyHeld(page.held)) {
    const HeldEventActions actions = actionsFor(page.held, isOpen(page.link));
    page.held = HeldDeviceEvents{};
    if (actions.loseOpenUnit) {
      loseOpenUnit();
    }
    if (actions.detect) {
      unitGivenUp = detectArrivedUnit();
    }
  }
  return unitGivenUp;
}

// The update port: in-page dialogs and progress bar; events held during a question are
// handled as soon as it is answered, before the update looks at the link again.
bool ask(void*, Question question, const char16_t* caption, const char16_t* text) {
  const bool yes =
      question == Question::Confirmation ? askOkCancel(caption, text) : askYesNo(caption, text);
  const bool swappedUnitGivenUp = handleHeldEvents() && !isOpen(page.link);
  return yes && !swappedUnitGivenUp;
}

void progressOpen(void*, const char16_t* title) { openProgress(title); }

void progressSet(void*, std::uint32_t position) { setProgress(position); }

void progressClose(void*) { closeProgress(); }

// The rows show the closed state while the box is open; the failure notice replaces the
// status panel only after the box is dismissed.
void reportError(void*, const char16_t* messageText, const char16_t* caption,
                 std::int32_t errorValue, std::uint32_t systemError) {
  showSequenceRunning(false);
  close(page.link);
  setUpdateEnabled(false);
  refreshVersionDisplay();
  showErrorBox(caption, messageText, errorValue, systemError);
  showStatus(message(MSG_UPDATE_FAILED_NOTICE));
}

// The link stays open, but Update stays disabled: another update needs the unit to be
// connected anew.
void succeeded(void*) {
  showSequenceRunning(false);
  setUpdateEnabled(false);
  refreshVersionDisplay();
  showStatus(message(MSG_UPDATE_SUCCEEDED));
}

// Detection has already shown what it shows for the swapped-in unit when the question was
// answered: nothing to add.
void refused(void*) {}

void sequenceStarts(void*) { showSequenceRunning(true); }

}  // namespace
}  // namespace esc::web

using namespace esc;
using namespace esc::web;

extern "C" {

// A catalogue text in the page's language, for the page's own labels. Valid until the
// next call.
EMSCRIPTEN_KEEPALIVE const char16_t* esc_web_text(unsigned id) {
  return message(static_cast<MessageId>(id));
}

// The chooser's filters, one a call from index 0: vendor id << 16 | product id, then 0.
EMSCRIPTEN_KEEPALIVE unsigned esc_web_unit_filter(unsigned index) {
  return index < std::size(UNIT_PRODUCT_IDS)
             ? unsigned{UNIT_VENDOR_ID} << 16 | UNIT_PRODUCT_IDS[index]
             : 0;
}

// Before anything is shown: the language, the title and the rows' labels. The page shows
// them even when the browser cannot reach the unit.
EMSCRIPTEN_KEEPALIVE void esc_web_prepare(int german) {
  setMessageLanguage(german != 0 ? Language::German : Language::English);
  char16_t title[TITLE_UNITS];
  formatTitle(title);
  showTitle(title);
  showVersionRow(0, message(MSG_LABEL_UNIT), NO_LINK_VERSION_TEXT, false);
  showVersionRow(1, message(MSG_LABEL_BOOTLOADER), NO_LINK_VERSION_TEXT, false);
  showVersionRow(2, message(MSG_LABEL_ESC), NO_LINK_VERSION_TEXT, false);
}

// Once, with the HID source chosen: the detection over the devices granted before.
// `simulated`: the source is the simulated unit, which may be given the images built in
// even when they are placeholders.
EMSCRIPTEN_KEEPALIVE void esc_web_start(int simulated) {
  setHidPlatform(&webHidPlatform());
  if (simulated != 0) {
    page.loadImage = loadFirmwareImage;
  }
  setUpdateEnabled(false);
  const bool opened = open(page.link) == LINK_OK;
  const DetectionOutcome outcome =
      opened ? classifyOpenUnit(page.link, page.target) : DetectionOutcome::NoUnit;
  switch (outcome) {
    case DetectionOutcome::Supported:
      showStatus(message(MSG_READY));
      setUpdateEnabled(true);
      break;
    case DetectionOutcome::AcceptedWithoutTarget:
      break;
    default:
      giveUpUnit(outcome);
      break;
  }
  refreshVersionDisplay();
  if (!opened) {
    reportUnitOpenRefused();
  }
  handleHeldEvents();
}

// A device was granted or plugged in (the chooser, or navigator.hid's connect event).
EMSCRIPTEN_KEEPALIVE void esc_web_hold_arrival() { holdArrival(page.held); }

// A device was removed; only the open unit's removal matters.
EMSCRIPTEN_KEEPALIVE void esc_web_hold_removal(unsigned deviceId) {
  if (isOpen(page.link) && page.link.devicePath != nullptr &&
      std::u16string(page.link.devicePath.get()) == webHidDevicePath(deviceId)) {
    holdRemoval(page.held, true);
  }
}

EMSCRIPTEN_KEEPALIVE void esc_web_handle_held() { handleHeldEvents(); }

// The Update button; a press while it is disabled changes nothing.
EMSCRIPTEN_KEEPALIVE void esc_web_update() {
  if (!page.updateEnabled) {
    return;
  }
  const UpdatePort port{nullptr,     ask,       progressOpen, progressSet,    progressClose,
                        reportError, succeeded, refused,      sequenceStarts, sleepUntilDeadline};
  runUpdate(page.link, page.target, port, page.loadImage);
  handleHeldEvents();
}

}  // extern "C"
