#include <vector>

#include "tests/wine/driver.h"

namespace driver {
namespace {

constexpr DWORD HIT_TEST_TIMEOUT_MS = 300;
// Gives the program's thread time to take up each event before the next one.
constexpr DWORD BETWEEN_EVENTS_MS = 30;

// SendInput's absolute coordinates run from 0 to 65535 across the primary screen.
LONG normalised(LONG pixel, int screenPixels) {
  return static_cast<LONG>((static_cast<long long>(pixel) * 65535) / (screenPixels - 1));
}

void send(const std::vector<INPUT>& inputs) {
  for (INPUT input : inputs) {
    SendInput(1, &input, sizeof input);
    Sleep(BETWEEN_EVENTS_MS);
  }
}

INPUT mouse(DWORD flags, POINT at) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dx = normalised(at.x, GetSystemMetrics(SM_CXSCREEN));
  input.mi.dy = normalised(at.y, GetSystemMetrics(SM_CYSCREEN));
  input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE;
  return input;
}

INPUT key(WORD virtualKey, bool down) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = virtualKey;
  input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  return input;
}

}  // namespace

void clickAt(POINT screen) {
  send({mouse(MOUSEEVENTF_MOVE, screen), mouse(MOUSEEVENTF_LEFTDOWN, screen),
        mouse(MOUSEEVENTF_LEFTUP, screen)});
}

void clickOn(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  clickAt(POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2});
}

bool findCloseBox(HWND window, POINT& closeBox) {
  RECT rect{};
  GetWindowRect(window, &rect);
  const LONG y = rect.top + GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
  for (LONG x = rect.right - 1; x > rect.right - 80 && x > rect.left; --x) {
    DWORD_PTR hit = HTNOWHERE;
    if (SendMessageTimeoutW(window, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG,
                            HIT_TEST_TIMEOUT_MS, &hit) == 0) {
      return false;
    }
    if (hit == HTCLOSE) {
      closeBox = POINT{x - 3, y};
      return true;
    }
  }
  return false;
}

void pressKey(WORD virtualKey) { send({key(virtualKey, true), key(virtualKey, false)}); }

void pressKeyWith(WORD modifier, WORD virtualKey) {
  send({key(modifier, true), key(virtualKey, true), key(virtualKey, false), key(modifier, false)});
}

}  // namespace driver
