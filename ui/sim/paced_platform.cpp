#include "ui/sim/paced_platform.h"

#include "device/win32/platform_win32.h"

namespace esc::sim {
namespace {

// Shorter waits run without the hook, so that it can never make a wait overshoot.
constexpr std::uint64_t HOOK_MARGIN_MICROSECONDS = 3000;

struct WaitHook {
  void (*function)(void* context);
  void* context;
};

WaitHook waitHook{};

std::uint64_t now(void*) {
  const HidPlatform& windows = windowsHidPlatform();
  return windows.nowMicroseconds(windows.context);
}

void sleepUntil(void*, std::uint64_t deadlineMicroseconds) {
  const HidPlatform& windows = windowsHidPlatform();
  if (waitHook.function != nullptr &&
      deadlineMicroseconds > windows.nowMicroseconds(windows.context) + HOOK_MARGIN_MICROSECONDS) {
    waitHook.function(waitHook.context);
  }
  windows.sleepUntil(windows.context, deadlineMicroseconds);
}

void sleep(void* context, std::uint32_t milliseconds) {
  sleepUntil(context, now(context) + std::uint64_t{milliseconds} * 1000u);
}

}  // namespace

HidPlatform pacedPlatform(const HidPlatform& bus, void (*beforeWait)(void* context),
                          void* hookContext) {
  waitHook = WaitHook{beforeWait, hookContext};
  HidPlatform paced = bus;
  paced.sleep = sleep;
  paced.nowMicroseconds = now;
  paced.sleepUntil = sleepUntil;
  return paced;
}

}  // namespace esc::sim
