#include <windows.h>
// commctrl.h relies on the Windows types being declared first.
#include <commctrl.h>

#include "resources/message_ids.h"
#include "resources/resource_ids.h"
#include "ui/win32/dialog_geometry.h"
#include "ui/win32/main_dialog.h"
#include "ui/win32/wide_text.h"

namespace esc {
namespace {

// Visible and smooth, but neither child nor popup: a top-level window whose title bar
// carries the title.
constexpr DWORD PROGRESS_WINDOW_STYLE = WS_VISIBLE | PBS_SMOOTH;
constexpr UINT KEEP_PLACE_AND_SIZE = SWP_NOSIZE | SWP_NOMOVE;

struct ProgressState {
  HWND window;
  // The window that had the foreground when both windows were brought up; null until
  // then, so that this happens once per update.
  HWND lastRaised;
  // The first position is set before any block is written.
  bool beforeFirstBlock;
};

ProgressState progress{};

void bringToTop(HWND window) { SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, KEEP_PLACE_AND_SIZE); }

// During the block loop the thread pumps no messages. Once the user has put one of the
// two windows in front, both are brought up together, so the progress window does not
// end up behind its dialog.
void raiseOnceInForeground() {
  if (progress.lastRaised == mainWindow || progress.lastRaised == progress.window) {
    return;
  }
  const HWND foreground = GetForegroundWindow();
  if (foreground != mainWindow && foreground != progress.window) {
    return;
  }
  progress.lastRaised = foreground;
  bringToTop(mainWindow);
  bringToTop(progress.window);
  ShowWindow(mainWindow, SW_SHOW);
  ShowWindow(progress.window, SW_SHOW);
}

bool ask(void*, Question question, const char16_t* caption, const char16_t* text) {
  const bool confirmation = question == Question::Confirmation;
  const UINT buttons = confirmation ? MB_OKCANCEL : MB_YESNO;
  const int answer = MessageBoxW(mainWindow, wide(text), wide(caption), buttons | MB_ICONWARNING);
  return answer == (confirmation ? IDOK : IDYES);
}

// A window that cannot be created is not reported: the update goes on without it.
void progressOpen(void*, const char16_t* title) {
  RECT dialog{};
  GetWindowRect(mainWindow, &dialog);
  const Placement place =
      placeProgressWindow(ScreenRect{dialog.left, dialog.top, dialog.right, dialog.bottom});
  progress.window =
      CreateWindowExW(0, PROGRESS_CLASSW, wide(title), PROGRESS_WINDOW_STYLE, place.x, place.y,
                      place.width, place.height, mainWindow, nullptr, appInstance, nullptr);
  progress.lastRaised = nullptr;
  progress.beforeFirstBlock = true;
  if (progress.window == nullptr) {
    return;
  }
  // No range is set: the default 0 to 100 takes the percentages as they are.
  SendMessageW(progress.window, PBM_SETPOS, 0, 0);
  bringToTop(mainWindow);
  bringToTop(progress.window);
}

void progressSet(void*, std::uint32_t position) {
  if (progress.window == nullptr) {
    return;
  }
  SendMessageW(progress.window, PBM_SETPOS, position, 0);
  if (progress.beforeFirstBlock) {
    progress.beforeFirstBlock = false;
    return;
  }
  raiseOnceInForeground();
}

void progressClose(void*) {
  if (progress.window != nullptr) {
    DestroyWindow(progress.window);
  }
  progress = ProgressState{};
}

void reportError(void*, const char16_t* message, const char16_t* caption, std::int32_t errorValue,
                 std::uint32_t systemError) {
  ReportError(message, caption, errorValue, systemError);
}

// The link stays open, but Update stays disabled: another update needs the unit to be
// connected anew.
void succeeded(void*) {
  EnableWindow(GetDlgItem(mainWindow, IDC_UPDATE), FALSE);
  RefreshVersionDisplay();
  char16_t text[MESSAGE_BUFFER_UNITS];
  loadMessage(MSG_UPDATE_SUCCEEDED, text);
  SetDlgItemTextW(mainWindow, IDC_STATUS_PANEL, wide(text));
}

// Device events are handled while a question box is open, so the detection of a unit
// swapped in meanwhile has already shown what it shows for that unit; nothing is added.
void refused(void*) {}

void sequenceStarts(void*) {}

const UpdatePort WINDOWS_UPDATE_PORT = {
    nullptr,     ask,       progressOpen, progressSet,    progressClose,
    reportError, succeeded, refused,      sequenceStarts, sleepUntilDeadline,
};

}  // namespace

const UpdatePort& windowsUpdatePort() { return WINDOWS_UPDATE_PORT; }

}  // namespace esc
