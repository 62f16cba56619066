#include "ui/sim/paced_platform.h"

#include "device/win32/platform_win32.h"

namespace esc::sim {
namespace {

// The bus's context comes with every call; the waits and the clock are Windows' own.
void sleep(void*, std::uint32_t milliseconds) {
  const HidPlatform& windows = windowsHidPlatform();
  windows.sleep(windows.context, milliseconds);
}

std::uint64_t now(void*) {
  const HidPlatform& windows = windowsHidPlatform();
  return windows.nowMicroseconds(windows.context);
}

void sleepUntil(void*, std::uint64_t deadlineMicroseconds) {
  const HidPlatform& windows = windowsHidPlatform();
  windows.sleepUntil(windows.context, deadlineMicroseconds);
}

}  // namespace

HidPlatform pacedPlatform(const HidPlatform& bus) {
  HidPlatform paced = bus;
  paced.sleep = sleep;
  paced.nowMicroseconds = now;
  paced.sleepUntil = sleepUntil;
  return paced;
}

}  // namespace esc::sim
