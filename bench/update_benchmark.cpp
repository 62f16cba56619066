// Times a full update against the emulated unit on the real clock and reports it as a
// ratio to the waits the procedure must make (42,700 ms for a 90256-byte image). The
// difference is what the program itself adds: transfers, progress, timer overshoot.
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "emulator/sim_bus.h"
#include "resources/messages.h"
#include "updater/run_update.h"

namespace {

bool yes(void*, esc::Question, const char16_t*, const char16_t*) { return true; }
void ignoreTitle(void*, const char16_t*) {}
void ignorePosition(void*, std::uint32_t) {}
void ignore(void*) {}
bool failed = false;
void recordError(void*, const char16_t*, const char16_t*, std::int32_t errorValue,
                 std::uint32_t systemError) {
  std::fprintf(stderr, "update failed: %d (last error %u)\n", errorValue, systemError);
  failed = true;
}

constexpr double MANDATED_WAITS_MS = 42700.0;

}  // namespace

int main() {
  esc::sim::Bus bus;
  const std::size_t unit = esc::sim::installSupportedUnit(bus);
  esc::sim::useRealClock(bus, nullptr, nullptr);

  esc::HidLink link;
  esc::UpdateTarget target{};
  if (esc::open(link) != esc::LINK_OK || esc::classifyController(esc::escModelCode(link), target) !=
                                             esc::ClassificationResult::Supported) {
    std::fprintf(stderr, "the emulated unit was not identified\n");
    return 1;
  }
  const std::size_t writesBefore = esc::sim::entriesOf(bus, esc::sim::EventKind::Write).size();
  const esc::UpdatePort port{
      nullptr,     yes,    ignoreTitle, ignorePosition, ignore,
      recordError, ignore, ignore,      ignore,         esc::sleepUntilDeadline};

  const auto started = std::chrono::steady_clock::now();
  esc::runUpdate(link, target, port);
  const auto ended = std::chrono::steady_clock::now();
  if (failed || bus.devices[unit].bootloader.blocksWritten != 1881) return 1;

  const auto writes = esc::sim::entriesOf(bus, esc::sim::EventKind::Write);
  const auto reads = esc::sim::entriesOf(bus, esc::sim::EventKind::Read);
  const double lockToRelease =
      static_cast<double>(reads.back()->timeMicroseconds - writes[writesBefore]->timeMicroseconds) /
      1000.0;
  const double wall = std::chrono::duration<double, std::milli>(ended - started).count();
  std::printf("lock to release: %.1f ms, ratio %.4f to the %.0f ms of mandated waits\n",
              lockToRelease, lockToRelease / MANDATED_WAITS_MS, MANDATED_WAITS_MS);
  std::printf("whole procedure: %.1f ms, ratio %.4f\n", wall, wall / MANDATED_WAITS_MS);
  esc::close(link);
  return 0;
}
