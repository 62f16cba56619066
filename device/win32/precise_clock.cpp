#include "device/win32/precise_clock.h"

#include <windows.h>

#include <algorithm>

namespace esc {
namespace {

// CREATE_WAITABLE_TIMER_HIGH_RESOLUTION (Windows 10 1803 and later); older SDK headers
// lack the name. Older systems refuse the flag, and the standard timer takes over.
constexpr DWORD HIGH_RESOLUTION_TIMER_FLAG = 0x00000002;
constexpr DWORD TIMER_RIGHTS = TIMER_MODIFY_STATE | SYNCHRONIZE;
// How long before a deadline the timer hands over to watching the clock.
constexpr std::uint64_t TIMER_MARGIN_MICROSECONDS = 2000;

struct WaitTimer {
  HANDLE handle = nullptr;
  SleepTimer kind = SleepTimer::SleepCall;

  WaitTimer() {
    const DWORD savedError = GetLastError();
    handle = CreateWaitableTimerExW(nullptr, nullptr, HIGH_RESOLUTION_TIMER_FLAG, TIMER_RIGHTS);
    if (handle != nullptr) {
      kind = SleepTimer::HighResolution;
    } else {
      handle = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_RIGHTS);
      if (handle != nullptr) {
        kind = SleepTimer::Standard;
      }
    }
    SetLastError(savedError);
  }
  ~WaitTimer() {
    if (handle != nullptr) {
      CloseHandle(handle);
    }
  }
  WaitTimer(const WaitTimer&) = delete;
  WaitTimer& operator=(const WaitTimer&) = delete;
};

// One timer for the whole run: the sleeps between data blocks come in their thousands.
const WaitTimer& waitTimer() {
  static const WaitTimer timer;
  return timer;
}

std::uint64_t performanceFrequency() {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<std::uint64_t>(frequency.QuadPart);
}

// Waits about `microseconds`; the caller's loop on the clock makes up for any shortfall.
void waitSlice(const WaitTimer& timer, std::uint64_t microseconds) {
  if (timer.handle != nullptr) {
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(microseconds * 10u);  // relative, in 100 ns
    if (SetWaitableTimer(timer.handle, &due, 0, nullptr, nullptr, FALSE) &&
        WaitForSingleObject(timer.handle, INFINITE) == WAIT_OBJECT_0) {
      return;
    }
  }
  // Rounded up to whole milliseconds; kept below INFINITE, which would never return.
  const std::uint64_t milliseconds =
      std::min<std::uint64_t>((microseconds + 999u) / 1000u, INFINITE - 1u);
  Sleep(static_cast<DWORD>(milliseconds));
}

}  // namespace

void sleepUntilMicroseconds(std::uint64_t deadlineMicroseconds) {
  const DWORD savedError = GetLastError();
  const WaitTimer& timer = waitTimer();
  // Even a high-resolution timer wakes up to a millisecond late, and an update waits
  // almost two thousand times: the timer sleeps until shortly before the deadline, and
  // the last stretch is spent watching the clock, giving the processor away meanwhile.
  std::uint64_t now = monotonicMicroseconds();
  while (now + TIMER_MARGIN_MICROSECONDS < deadlineMicroseconds) {
    waitSlice(timer, deadlineMicroseconds - TIMER_MARGIN_MICROSECONDS - now);
    now = monotonicMicroseconds();
  }
  while (now < deadlineMicroseconds) {
    SwitchToThread();
    now = monotonicMicroseconds();
  }
  SetLastError(savedError);
}

void sleepAtLeast(std::uint32_t milliseconds) {
  sleepUntilMicroseconds(monotonicMicroseconds() + std::uint64_t{milliseconds} * 1000u);
}

std::uint64_t monotonicMicroseconds() {
  static const std::uint64_t frequency = performanceFrequency();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  const auto ticks = static_cast<std::uint64_t>(counter.QuadPart);
  // Split so that the multiplication cannot overflow however long the system runs.
  return ticks / frequency * 1000000u + ticks % frequency * 1000000u / frequency;
}

SleepTimer sleepTimerInUse() { return waitTimer().kind; }

}  // namespace esc
