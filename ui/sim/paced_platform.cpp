#include "ui/sim/paced_platform.h"

#include "device/win32/platform_win32.h"
#include "emulator/sim_bus.h"

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

// The bus's real clock calls its idle hook every few milliseconds of a wait, and only
// the unit's own waits run on that clock: those of a transfer it keeps waiting. The
// handler is that hook.
void installTransferWaitHandler(void* context, TransferWaitHandler handler) {
  Clock& clock = static_cast<Bus*>(context)->clock;
  clock.idle = handler.whileWaiting;
  clock.idleContext = handler.context;
}

}  // namespace

HidPlatform pacedPlatform(const HidPlatform& bus) {
  HidPlatform paced = bus;
  paced.sleep = sleep;
  paced.nowMicroseconds = now;
  paced.sleepUntil = sleepUntil;
  paced.setTransferWaitHandler = installTransferWaitHandler;
  return paced;
}

}  // namespace esc::sim
