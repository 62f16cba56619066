#include <windows.h>
// commctrl.h relies on the Windows types being declared first.
#include <commctrl.h>

#include "resources/message_ids.h"
#include "resources/resource_ids.h"
#include "ui/win32/dialog_geometry.h"
#include "ui/win32/main_dialog.h"
#include "ui/win32/message_pump.h"
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
WNDPROC progressBarProcedure = nullptr;

// From the lock request until the update has ended: the taskbar button shows the
// progress and device notifications are held. Until the writing stops (before the error
// box, or with the success text) the PC is kept awake and the session must not end.
struct Sequence {
  bool running;
  bool writing;
  std::uint32_t taskbarPosition;
};

Sequence sequence{};

const UpdateSignals& signalsOf(void* context) {
  return *static_cast<const UpdateSignals*>(context);
}

void showTaskbarProgress(void* context, TaskbarProgress state, std::uint32_t position) {
  const UpdateSignals& signals = signalsOf(context);
  signals.showTaskbarProgress(signals.context, mainWindow, state, position);
}

// The writing is over, whether it succeeded or not: what was typed or clicked into the
// windows meanwhile is dropped, so that none of it acts on the error box or the dialog
// afterwards, and the system may sleep again.
void stopWriting(void* context) {
  dropQueuedInput(mainWindow);
  sequence.writing = false;
  const UpdateSignals& signals = signalsOf(context);
  signals.keepSystemAwake(signals.context, false);
  signals.showShutdownReason(signals.context, mainWindow, nullptr);
}

// The update has ended: the taskbar button shows no progress any more, and the device
// notifications held meanwhile are handled once the update procedure has returned.
void endSequence(void* context) {
  showTaskbarProgress(context, TaskbarProgress::None, 0);
  ReleaseDeviceNotifications();
  sequence = Sequence{};
}

void bringToTop(HWND window) { SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, KEEP_PLACE_AND_SIZE); }

// Once the user has put one of the two windows in front, both are brought up together,
// so the progress window does not end up behind its dialog.
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

// The progress window is a stock progress bar, which closes on request like any window.
// Closing it must not be mistaken for stopping the update, so it stays until the blocks
// are written.
LRESULT CALLBACK KeepProgressWindowOpen(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE || (message == WM_SYSCOMMAND && isCloseSystemCommand(wParam))) {
    return 0;
  }
  return CallWindowProcW(progressBarProcedure, window, message, wParam, lParam);
}

// The unit's removal while the box is open is shown at once: the link closes, and the
// update fails at the lock once the user goes on. Arrivals are held, so that no box opens
// on top of this one, and handled as soon as it closes, before the update looks at the
// link again: a unit swapped in is detected before anything is sent. If detection gave
// it up, its heading (and box) have told the user why, and the link is closed as
// detection leaves it: the update ends as if declined, instead of reporting a failed
// lock for a unit that is there.
bool ask(void*, Question question, const char16_t* caption, const char16_t* text) {
  const bool confirmation = question == Question::Confirmation;
  const UINT buttons = confirmation ? MB_OKCANCEL : MB_YESNO;
  const int answer =
      ShowMessageBox(text, caption, buttons | MB_ICONWARNING, HeldNotifications::ArrivalsOnly);
  const bool swappedUnitGivenUp = HandleHeldDeviceNotifications() && !isOpen(deviceLink);
  return answer == (confirmation ? IDOK : IDYES) && !swappedUnitGivenUp;
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
  progressBarProcedure = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
      progress.window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(KeepProgressWindowOpen)));
  // No range is set: the default 0 to 100 takes the percentages as they are.
  SendMessageW(progress.window, PBM_SETPOS, 0, 0);
  bringToTop(mainWindow);
  bringToTop(progress.window);
}

// The taskbar button changes only with the percentage, not with each of the 1881 blocks.
void progressSet(void* context, std::uint32_t position) {
  if (sequence.running && position != sequence.taskbarPosition) {
    sequence.taskbarPosition = position;
    showTaskbarProgress(context, TaskbarProgress::Normal, position);
  }
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

// The taskbar button shows the failure until the box is dismissed.
void reportError(void* context, const char16_t* message, const char16_t* caption,
                 std::int32_t errorValue, std::uint32_t systemError) {
  const bool wasWriting = sequence.running;
  if (wasWriting) {
    stopWriting(context);
    showTaskbarProgress(context, TaskbarProgress::Error, sequence.taskbarPosition);
  }
  ReportError(message, caption, errorValue, systemError);
  if (wasWriting) {
    endSequence(context);
  }
}

// The link stays open, but Update stays disabled: another update needs the unit to be
// connected anew.
void succeeded(void* context) {
  EnableWindow(GetDlgItem(mainWindow, IDC_UPDATE), FALSE);
  RefreshVersionDisplay();
  char16_t text[MESSAGE_BUFFER_UNITS];
  loadMessage(MSG_UPDATE_SUCCEEDED, text);
  SetDlgItemTextW(mainWindow, IDC_STATUS_PANEL, wide(text));
  stopWriting(context);
  endSequence(context);
}

// Only a unit that detection left open gets here: one accepted without target, or one
// whose identification failed at its arrival, swapped in while a question was open (or
// already there when an Update command came with the button disabled). Detection has
// already run for it, since the question's device events were handled when its box
// closed: the dialog shows what detection shows for that unit, and the link is as
// detection left it. There is nothing to add.
void refused(void*) {}

void sequenceStarts(void* context) {
  HoldDeviceNotifications();
  sequence = Sequence{true, true, 0};
  const UpdateSignals& signals = signalsOf(context);
  signals.keepSystemAwake(signals.context, true);
  char16_t reason[MESSAGE_BUFFER_UNITS];
  loadMessage(MSG_SHUTDOWN_BLOCKED, reason);
  signals.showShutdownReason(signals.context, mainWindow, reason);
  showTaskbarProgress(context, TaskbarProgress::Normal, 0);
}

void waitUntil(void*, std::uint64_t deadlineMicroseconds) {
  waitHandlingMessages(mainWindow, deadlineMicroseconds);
}

}  // namespace

bool UpdateIsWriting() { return sequence.writing; }

UpdatePort windowsUpdatePort(const UpdateSignals& signals) {
  return UpdatePort{const_cast<UpdateSignals*>(&signals),
                    ask,
                    progressOpen,
                    progressSet,
                    progressClose,
                    reportError,
                    succeeded,
                    refused,
                    sequenceStarts,
                    waitUntil};
}

}  // namespace esc
