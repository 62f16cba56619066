#include "ui/win32/message_pump.h"

#include <algorithm>

#include "device/hid_platform.h"

namespace esc {
namespace {

// Longest stretch without retrieving messages inside a pause. Windows judges a window
// hung after 5 s; this keeps it painting smoothly as well.
constexpr std::uint64_t LONGEST_SLICE_MICROSECONDS = 20000;

// Touch and pointer input (WM_TOUCH to the end of the WM_POINTER messages), which the
// system would turn into mouse input.
constexpr UINT TOUCH_AND_POINTER_FIRST = 0x0240;
constexpr UINT TOUCH_AND_POINTER_LAST = 0x0257;

bool quitRequested = false;
int quitExitCode = 0;

std::uint64_t now() {
  const HidPlatform& platform = hidPlatform();
  return platform.nowMicroseconds(platform.context);
}

bool isUserInput(UINT message) {
  return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
         (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
         (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK) ||
         (message >= TOUCH_AND_POINTER_FIRST && message <= TOUCH_AND_POINTER_LAST);
}

// The dialog's controls, the progress window and the message boxes all lead up to the
// dialog through their parents and owners.
bool aimedAt(HWND target, HWND window) {
  return target == nullptr || window == nullptr || GetAncestor(target, GA_ROOTOWNER) == window;
}

void handleWaitingMessages(HWND window, std::uint64_t deadlineMicroseconds) {
  MSG message;
  while (now() < deadlineMicroseconds && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      quitRequested = true;
      quitExitCode = static_cast<int>(message.wParam);
      continue;
    }
    if (!isUserInput(message.message) || !aimedAt(message.hwnd, window)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
}

}  // namespace

void dropQueuedInput(HWND window) {
  handleWaitingMessages(window, now() + LONGEST_SLICE_MICROSECONDS);
}

void waitHandlingMessages(HWND window, std::uint64_t deadlineMicroseconds) {
  const HidPlatform& platform = hidPlatform();
  for (;;) {
    handleWaitingMessages(window, deadlineMicroseconds);
    const std::uint64_t current = now();
    if (current >= deadlineMicroseconds) {
      return;
    }
    const std::uint64_t sliceEnd =
        std::min(deadlineMicroseconds, current + LONGEST_SLICE_MICROSECONDS);
    platform.sleepUntil(platform.context, sliceEnd);
    if (sliceEnd == deadlineMicroseconds) {
      return;
    }
  }
}

void postRememberedQuit() {
  if (quitRequested) {
    quitRequested = false;
    PostQuitMessage(quitExitCode);
  }
}

}  // namespace esc
