#include <windows.h>
// dbt.h relies on the Windows types being declared first.
#include <dbt.h>

#include <cstddef>

#include "resources/message_ids.h"
#include "resources/resource_ids.h"
#include "ui/detection_outcome.h"
#include "ui/held_device_events.h"
#include "ui/texts.h"
#include "ui/win32/device_broadcast.h"
#include "ui/win32/main_dialog.h"
#include "ui/win32/wide_text.h"

namespace esc {
namespace {

// The HID device-interface class, the value HidD_GetHidGuid reports. Written out so that
// registering for notifications does not need HID.DLL.
constexpr GUID HID_INTERFACE_CLASS = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

constexpr INT_PTR REGISTRATION_FAILED_RESULT = 1;

// Heading, blank line and instructions: each part fits one message buffer.
constexpr std::size_t STATUS_TEXT_UNITS = 2 * MESSAGE_BUFFER_UNITS + 4;

static_assert(sizeof(DEV_BROADCAST_HDR) == BROADCAST_HEADER_BYTES, "broadcast header layout");
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) == INTERFACE_NAME_OFFSET,
              "device interface broadcast layout");
static_assert(static_cast<std::uint32_t>(DBT_DEVTYP_DEVICEINTERFACE) == DEVICE_TYPE_INTERFACE,
              "device interface type");

using Outcome = DetectionOutcome;

void enableUpdate(BOOL enable) { EnableWindow(GetDlgItem(mainWindow, IDC_UPDATE), enable); }

void showStatus(MessageId id) {
  char16_t text[MESSAGE_BUFFER_UNITS];
  loadMessage(id, text);
  SetDlgItemTextW(mainWindow, IDC_STATUS_PANEL, wide(text));
}

// Device notifications of each kind wait while their count is above zero. Every hold
// holds arrivals, so removals are never handled while arrivals wait.
int arrivalHolds = 0;
int removalHolds = 0;
HeldDeviceEvents heldEvents;

void showIncompatibleBox() {
  IncompatibleBoxTexts texts;
  loadIncompatibleBoxTexts(texts);
  ShowMessageBox(texts.text, texts.caption, MB_OK | MB_ICONINFORMATION);
}

// No unit, wrong mode, no updatable ESC, incompatible: the link is given up. The box
// opens with the link already closed.
void giveUpUnit(Outcome outcome) {
  enableUpdate(FALSE);
  close(deviceLink);
  if (outcome == Outcome::Incompatible) {
    showIncompatibleBox();
  }
  ShowStatusWithInstructions(headingOf(outcome));
}

// Only while no link is open: an open link, whatever its state, keeps its unit until that
// unit's removal. A failed attempt changes nothing on the screen. True when it found a
// unit and gave it up.
bool detectArrivedUnit() {
  if (isOpen(deviceLink) || open(deviceLink) != LINK_OK) {
    return false;
  }
  const Outcome outcome = classifyOpenUnit(deviceLink, updateTarget);
  switch (outcome) {
    case Outcome::Supported:
      showStatus(MSG_READY);
      RefreshVersionDisplay();
      enableUpdate(TRUE);
      return false;
    case Outcome::AcceptedWithoutTarget:
      return false;
    default:
      giveUpUnit(outcome);
      return true;
  }
}

bool namesOpenUnit(const DeviceBroadcast& broadcast) {
  return isOpen(deviceLink) && broadcast.interfaceName != nullptr &&
         sameDevicePath(broadcast.interfaceName, deviceLink.devicePath.get());
}

void loseOpenUnit() {
  close(deviceLink);
  enableUpdate(FALSE);
  RefreshVersionDisplay();
  ShowStatusWithInstructions(MSG_CONNECTION_LOST);
}

}  // namespace

bool RegisterDeviceNotifications(HWND window, DeviceNotificationRegistrar registrar) {
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_reserved = 0;
  filter.dbcc_classguid = HID_INTERFACE_CLASS;
  deviceNotification = registrar(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  if (deviceNotification != nullptr) {
    return true;
  }
  char16_t caption[MESSAGE_BUFFER_UNITS];
  char16_t text[MESSAGE_BUFFER_UNITS];
  loadMessage(MSG_APPLICATION_ERROR_CAPTION, caption);
  loadMessage(MSG_REGISTRATION_FAILED, text);
  // Without a registration no device notification can come: nothing to hold.
  MessageBoxW(window, wide(text), wide(caption), MB_OK | MB_ICONERROR);
  EndDialog(window, REGISTRATION_FAILED_RESULT);
  return false;
}

void DetectUnitAtStartup() {
  const Outcome outcome =
      open(deviceLink) == LINK_OK ? classifyOpenUnit(deviceLink, updateTarget) : Outcome::NoUnit;
  switch (outcome) {
    case Outcome::Supported:
      showStatus(MSG_READY);
      enableUpdate(TRUE);
      break;
    case Outcome::AcceptedWithoutTarget:
      break;
    default:
      giveUpUnit(outcome);
      break;
  }
  RefreshVersionDisplay();
  HandleHeldDeviceNotifications();
}

BOOL OnDeviceChange(WPARAM event, LPARAM data) {
  if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) {
    return FALSE;
  }
  const DeviceBroadcast broadcast = readDeviceBroadcast(reinterpret_cast<const void*>(data));
  if (!broadcast.readable || broadcast.deviceType != DEVICE_TYPE_INTERFACE) {
    return TRUE;
  }
  // Held, the notification is reduced to what it will do: the broadcast's data is valid
  // only during this call.
  if (event == DBT_DEVICEARRIVAL) {
    if (arrivalHolds > 0) {
      holdArrival(heldEvents);
    } else {
      detectArrivedUnit();
    }
  } else if (namesOpenUnit(broadcast)) {
    if (removalHolds > 0) {
      holdRemoval(heldEvents, true);
    } else {
      loseOpenUnit();
      openUnitRemovalHandled(heldEvents);
    }
  }
  HandleHeldDeviceNotifications();
  return TRUE;
}

void HoldDeviceNotifications(HeldNotifications held) {
  ++arrivalHolds;
  if (held == HeldNotifications::All) {
    ++removalHolds;
  }
}

void ReleaseDeviceNotifications(HeldNotifications held) {
  --arrivalHolds;
  if (held == HeldNotifications::All) {
    --removalHolds;
  }
}

bool HandleHeldDeviceNotifications() {
  bool unitGivenUp = false;
  // A detection's box holds what arrives meanwhile, which the next round handles.
  while (arrivalHolds == 0 && anyHeld(heldEvents)) {
    const HeldEventActions actions = actionsFor(heldEvents, isOpen(deviceLink));
    heldEvents = HeldDeviceEvents{};
    if (actions.loseOpenUnit) {
      loseOpenUnit();
    }
    if (actions.detect) {
      unitGivenUp = detectArrivedUnit();
    }
  }
  return unitGivenUp;
}

int ShowMessageBox(const char16_t* text, const char16_t* caption, UINT type,
                   HeldNotifications held) {
  HoldDeviceNotifications(held);
  const int answer = MessageBoxW(mainWindow, wide(text), wide(caption), type);
  ReleaseDeviceNotifications(held);
  return answer;
}

void ShowStatusWithInstructions(MessageId heading) {
  char16_t headingText[MESSAGE_BUFFER_UNITS];
  char16_t instructions[MESSAGE_BUFFER_UNITS];
  char16_t text[STATUS_TEXT_UNITS];
  loadMessage(heading, headingText);
  loadMessage(MSG_INSTRUCTIONS, instructions);
  composeStatusWithInstructions(headingText, instructions, text, STATUS_TEXT_UNITS);
  SetDlgItemTextW(mainWindow, IDC_STATUS_PANEL, wide(text));
}

}  // namespace esc
