#include "ui/win32/main_dialog.h"

#include "resources/message_ids.h"
#include "resources/resource_ids.h"
#include "ui/texts.h"
#include "ui/win32/message_pump.h"
#include "ui/win32/system_libraries.h"
#include "ui/win32/wide_text.h"
#include "updater/run_update.h"

namespace esc {

HINSTANCE appInstance = nullptr;
HWND mainWindow = nullptr;
HDEVNOTIFY deviceNotification = nullptr;
HidLink deviceLink;
UpdateTarget updateTarget{};

namespace {

constexpr COLORREF THIRD_ROW_TEXT_COLOUR = RGB(255, 0, 0);

// Background for the red row's two statics: made on first use, deleted once the dialog
// has ended, so that no brush is created per message.
HBRUSH thirdRowBrush = nullptr;

ImageLoader firmwareImages = loadFirmwareImage;
DeviceNotificationRegistrar notificationRegistrar = RegisterDeviceNotificationW;
const UpdateSignals* programSignals = &windowsUpdateSignals();

// From the Update command until the update has ended, questions and error box included.
// Stopping it halfway would leave the ESC without firmware, and a second one must not
// start inside it: Close and Update are ignored meanwhile, from whichever source.
bool updateRunning = false;
// While a transfer waits for the unit, at start-up, at an arrival or in the update: the
// link is in use, so Close and Update are ignored as during an update.
bool transferWaiting = false;
// Handlers of the dialog's messages running, nested ones included.
int handlersRunning = 0;

void setRowLabel(HWND window, int control, MessageId text) {
  char16_t label[MESSAGE_BUFFER_UNITS];
  loadMessage(text, label);
  SetDlgItemTextW(window, control, wide(label));
}

void CloseMainDialog(HWND window) {
  if (deviceNotification != nullptr) {
    UnregisterDeviceNotification(deviceNotification);
    deviceNotification = nullptr;
  }
  close(deviceLink);
  EndDialog(window, IDCANCEL);
}

// While a transfer waits for the unit (a silent one keeps it waiting up to its timeout),
// the dialog's messages are handled as in the update's pauses: paints and timers go on,
// input is dropped, and device notifications wait until the detection or the update that
// made the transfer has ended.
void whileTransferWaits(void*) {
  transferWaiting = true;
  HoldDeviceNotifications();
  dropQueuedInput(mainWindow);
  ReleaseDeviceNotifications();
  transferWaiting = false;
}

void RunUpdateCommand() {
  updateRunning = true;
  runUpdate(deviceLink, updateTarget, windowsUpdatePort(*programSignals), firmwareImages);
  updateRunning = false;
  HandleHeldDeviceNotifications();
}

// Close is IDCANCEL, so Escape, the caption's close box and Enter (Close is the default
// button) arrive here the same way. The notification code is deliberately not examined.
INT_PTR OnCommand(HWND window, WPARAM wParam) {
  const WORD command = LOWORD(wParam);
  if ((updateRunning || transferWaiting) && (command == IDCANCEL || command == IDC_UPDATE)) {
    return TRUE;
  }
  switch (command) {
    case IDCANCEL:
      CloseMainDialog(window);
      return TRUE;
    case IDC_UPDATE:
      RunUpdateCommand();
      return TRUE;
    default:
      return FALSE;
  }
}

// A close request that does not come as the Close command (one sent from another
// program): the dialog manager would turn it into that command.
INT_PTR OnCloseRequest() { return updateRunning || transferWaiting ? TRUE : FALSE; }

// A logoff, restart or shutdown is refused while the update writes: cut off halfway, it
// would leave the ESC without firmware. Otherwise the session may end as for any window.
// (When the user forces it all the same, WM_ENDSESSION cannot be refused: Windows ends the
// program, and the update with it.)
INT_PTR OnQueryEndSession(HWND window) {
  if (!UpdateIsWriting()) {
    return FALSE;
  }
  SetWindowLongPtrW(window, DWLP_MSGRESULT, FALSE);
  return TRUE;
}

// Only the third row (the ESC firmware that gets replaced) is red; every other static,
// the read-only status panel included, keeps the default colours.
INT_PTR OnControlColour(HDC dc, HWND control) {
  if (control != GetDlgItem(mainWindow, IDC_ROW3_LABEL) &&
      control != GetDlgItem(mainWindow, IDC_ROW3_VALUE)) {
    return FALSE;
  }
  if (thirdRowBrush == nullptr) {
    thirdRowBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
  }
  SetTextColor(dc, THIRD_ROW_TEXT_COLOUR);
  SetBkMode(dc, TRANSPARENT);
  return reinterpret_cast<INT_PTR>(thirdRowBrush);
}

void releaseDialogResources() {
  if (thirdRowBrush != nullptr) {
    DeleteObject(thirdRowBrush);
    thirdRowBrush = nullptr;
  }
}

INT_PTR HandleDialogMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      InitMainDialog(window);
      return TRUE;
    case WM_PAINT:
      PaintLogo(window);
      return FALSE;
    case WM_COMMAND:
      return OnCommand(window, wParam);
    case WM_CTLCOLORSTATIC:
      return OnControlColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DEVICECHANGE:
      return OnDeviceChange(wParam, lParam);
    case WM_QUERYENDSESSION:
      return OnQueryEndSession(window);
    case WM_CLOSE:
      return OnCloseRequest();
    case WM_SYSCOMMAND:
      return isCloseSystemCommand(wParam) ? OnCloseRequest() : FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

int RunUpdaterProgram(HINSTANCE instance, ImageLoader loadImage,
                      DeviceNotificationRegistrar registrar, const UpdateSignals& signals) {
  firmwareImages = loadImage;
  notificationRegistrar = registrar;
  programSignals = &signals;
  initCommonControls();
  appInstance = instance;
  deviceLink = HidLink{};
  setTransferWaitHandler(TransferWaitHandler{nullptr, whileTransferWaits});
  DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
  setTransferWaitHandler(TransferWaitHandler{});
  mainWindow = nullptr;
  releaseDialogResources();
  releaseUpdateSignals();
  releaseSystemLibraries();
  return 0;
}

// A quit request that a wait took from the queue is acted on once the outermost handler
// has returned to the dialog's loop.
INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  ++handlersRunning;
  const INT_PTR result = HandleDialogMessage(window, message, wParam, lParam);
  if (--handlersRunning == 0) {
    postRememberedQuit();
  }
  return result;
}

void InitMainDialog(HWND window) {
  mainWindow = window;

  // The pointer-sized setter: on 64-bit Windows SetClassLongW would cut the icon handle
  // to 32 bits.
  const HICON icon = LoadIconW(appInstance, MAKEINTRESOURCEW(IDI_APPLICATION_ICON));
  SetClassLongPtrW(window, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));

  char16_t title[TITLE_UNITS];
  formatTitle(title);
  SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide(title)));

  setRowLabel(window, IDC_ROW1_LABEL, MSG_LABEL_UNIT);
  setRowLabel(window, IDC_ROW2_LABEL, MSG_LABEL_BOOTLOADER);
  setRowLabel(window, IDC_ROW3_LABEL, MSG_LABEL_ESC);

  if (RegisterDeviceNotifications(window, notificationRegistrar)) {
    DetectUnitAtStartup();
  }
}

}  // namespace esc
