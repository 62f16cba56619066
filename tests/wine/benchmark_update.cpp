// Times full updates against the emulated unit with the Windows program's own waits (the
// precise timer behind sleepUntil) and reports each as a ratio to the 42,700 ms of waits
// the procedure must make for a 90256-byte image. Not a test: it prints what it measured.
//
//   esc_wine_benchmark [runs] [--spin-ms N]
//
// runs defaults to 1. --spin-ms N compares another way of waiting: the platform's timer
// only until N ms before each deadline, then polling the clock until it is reached. It
// shows how much of the difference is the timer's lateness.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/win32/platform_win32.h"
#include "device/win32/precise_clock.h"
#include "emulator/sim_bus.h"
#include "ui/sim/paced_platform.h"
#include "updater/run_update.h"

namespace {

constexpr double MANDATED_WAITS_MS = 42700.0;
constexpr std::uint32_t IMAGE_BLOCKS = 1881;

bool failed = false;
std::uint64_t spinMicroseconds = 0;

void sleepUntilThenSpin(void*, std::uint64_t deadlineMicroseconds) {
  const esc::HidPlatform& windows = esc::windowsHidPlatform();
  if (deadlineMicroseconds > spinMicroseconds) {
    windows.sleepUntil(windows.context, deadlineMicroseconds - spinMicroseconds);
  }
  while (windows.nowMicroseconds(windows.context) < deadlineMicroseconds) {
    YieldProcessor();
  }
}

void sleepThenSpin(void* context, std::uint32_t milliseconds) {
  const esc::HidPlatform& windows = esc::windowsHidPlatform();
  sleepUntilThenSpin(
      context, windows.nowMicroseconds(windows.context) + std::uint64_t{milliseconds} * 1000u);
}

bool confirm(void*, esc::Question, const char16_t*, const char16_t*) { return true; }
void ignoreTitle(void*, const char16_t*) {}
void ignorePosition(void*, std::uint32_t) {}
void ignore(void*) {}
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
  esc::HidPlatform paced = esc::sim::pacedPlatform(bus.platform, nullptr, nullptr);
  if (spinMicroseconds != 0) {
    paced.sleepUntil = sleepUntilThenSpin;
    paced.sleep = sleepThenSpin;
  }
  esc::setHidPlatform(&paced);

  esc::HidLink link;
  esc::UpdateTarget target{};
  if (esc::open(link) != esc::LINK_OK || esc::classifyController(esc::escModelCode(link), target) !=
                                             esc::ClassificationResult::Supported) {
    std::printf("the emulated unit was not identified\n");
    return -1.0;
  }
  const std::size_t writesBefore = esc::sim::entriesOf(bus, esc::sim::EventKind::Write).size();
  const esc::UpdatePort port{nullptr, confirm,     ignoreTitle, ignorePosition,
                             ignore,  recordError, ignore};
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
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--spin-ms") == 0 && i + 1 < argc) {
      spinMicroseconds = std::strtoull(argv[++i], nullptr, 10) * 1000u;
    } else {
      runs = std::atoi(argv[i]);
    }
  }
  std::printf("waits use: %s%s\n", timerName(esc::sleepTimerInUse()),
              spinMicroseconds != 0 ? ", then polling the clock" : "");
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
