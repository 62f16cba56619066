// Times full updates against the emulated unit with the Windows program's own waits (the
// dialog's pauses, which handle the thread's messages and sleep on the precise timer in
// between) and reports each as a ratio to the 42,700 ms of waits the procedure must make
// for a 90256-byte image. Not a test: it prints what it measured.
//
//   esc_wine_benchmark [runs]
//
// runs defaults to 1.

#include <cstdio>
#include <cstdlib>

#include "device/win32/platform_win32.h"
#include "device/win32/precise_clock.h"
#include "emulator/sim_bus.h"
#include "ui/sim/paced_platform.h"
#include "ui/win32/message_pump.h"
#include "updater/run_update.h"

namespace {

constexpr double MANDATED_WAITS_MS = 42700.0;
constexpr std::uint32_t IMAGE_BLOCKS = 1881;

bool failed = false;
bool confirm(void*, esc::Question, const char16_t*, const char16_t*) { return true; }
void ignoreTitle(void*, const char16_t*) {}
void ignorePosition(void*, std::uint32_t) {}
void ignore(void*) {}
// The dialog's pause, with no window of its own here: the thread's message queue is still
// looked at as often as in the program.
void waitHandlingMessages(void*, std::uint64_t deadlineMicroseconds) {
  esc::waitHandlingMessages(nullptr, deadlineMicroseconds);
}
// The dialog's handling of a transfer that waits for the unit, likewise.
void handleMessagesWhileTransferWaits(void*) { esc::dropQueuedInput(nullptr); }
void recordError(void*, const char16_t*, const char16_t*, std::int32_t errorValue,
                 std::uint32_t systemError) {
  std::printf("update failed: %d (system error %u)\n", errorValue, systemError);
  failed = true;
}

const char* timerName(esc::SleepTimer timer) {
  switch (timer) {
    case esc::SleepTimer::HighResolution:
      return "high-resolution waitable timer";
    case esc::SleepTimer::Standard:
      return "waitable timer on the system tick";
    case esc::SleepTimer::SleepCall:
      return "Sleep";
  }
  return "?";
}

// One update on a fresh bus; returns the milliseconds from the lock request to the
// release answer, or a negative value when the update did not complete.
double timeOneUpdate() {
  esc::sim::Bus bus;
  const std::size_t unit = esc::sim::addDevice(bus, esc::sim::makeSupportedUnit());
  esc::sim::useRealClock(bus, nullptr, nullptr);
  esc::HidPlatform paced = esc::sim::pacedPlatform(bus.platform);
  esc::setHidPlatform(&paced);
  esc::setTransferWaitHandler(esc::TransferWaitHandler{nullptr, handleMessagesWhileTransferWaits});

  esc::HidLink link;
  esc::UpdateTarget target{};
  if (esc::open(link) != esc::LINK_OK || esc::classifyController(esc::escModelCode(link), target) !=
                                             esc::ClassificationResult::Supported) {
    std::printf("the emulated unit was not identified\n");
    return -1.0;
  }
  const std::size_t writesBefore = esc::sim::entriesOf(bus, esc::sim::EventKind::Write).size();
  const esc::UpdatePort port{
      nullptr,     confirm, ignoreTitle, ignorePosition, ignore,
      recordError, ignore,  ignore,      ignore,         waitHandlingMessages};
  failed = false;
  esc::runUpdate(link, target, port);
  esc::close(link);
  if (failed || bus.devices[unit].bootloader.blocksWritten != IMAGE_BLOCKS) {
    return -1.0;
  }
  const auto writes = esc::sim::entriesOf(bus, esc::sim::EventKind::Write);
  const auto reads = esc::sim::entriesOf(bus, esc::sim::EventKind::Read);
  return static_cast<double>(reads.back()->timeMicroseconds -
                             writes[writesBefore]->timeMicroseconds) /
         1000.0;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 1;
  if (argc > 1) {
    runs = std::atoi(argv[1]);
  }
  std::printf(
      "pauses handle the thread's messages at least every 20 ms; waits use: %s, then the clock "
      "for the last 2 ms\n",
      timerName(esc::sleepTimerInUse()));
  double worst = 0.0;
  for (int run = 1; run <= runs; ++run) {
    const double milliseconds = timeOneUpdate();
    if (milliseconds < 0.0) {
      return 1;
    }
    const double ratio = milliseconds / MANDATED_WAITS_MS;
    worst = ratio > worst ? ratio : worst;
    std::printf("run %d: lock to release %.1f ms, ratio %.4f to %.0f ms of waits\n", run,
                milliseconds, ratio, MANDATED_WAITS_MS);
    std::fflush(stdout);
  }
  std::printf("worst ratio: %.4f\n", worst);
  return 0;
}
