// Clock and sleep checks of the platform probe: waits never end early, do not stretch to
// the system tick, and the monotonic clock counts real microseconds.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <numeric>

#include "device/win32/platform_win32.h"
#include "device/win32/precise_clock.h"
#include "tests/wine/platform_probe.h"

namespace {

using probe::check;
using probe::platform;

constexpr int ROUNDS = 50;
constexpr std::int64_t PERIOD_US = 20000;
// The 15.6 ms tick would make the typical wait about 8 to 11 ms late; a precise wait is
// late by far less. The median keeps a few waits stretched by a busy machine from
// deciding the check.
constexpr std::int64_t MEDIAN_LATENESS_LIMIT_US = 4000;

// Lateness of each wait against its due time, in microseconds; negative when early.
struct Lateness {
  std::int64_t samples[ROUNDS];
  std::int64_t earliest;
  std::int64_t median;
  std::int64_t latest;
  double mean;
};

void summarize(Lateness& lateness) {
  std::int64_t sorted[ROUNDS];
  std::copy(lateness.samples, lateness.samples + ROUNDS, sorted);
  std::sort(sorted, sorted + ROUNDS);
  lateness.earliest = sorted[0];
  lateness.median = sorted[ROUNDS / 2];
  lateness.latest = sorted[ROUNDS - 1];
  lateness.mean =
      static_cast<double>(std::accumulate(sorted, sorted + ROUNDS, std::int64_t{0})) / ROUNDS;
}

void printLateness(const char* what, const Lateness& lateness) {
  std::printf("info %s x %d: lateness mean %.0f us, median %lld us, max %lld us\n", what, ROUNDS,
              lateness.mean, static_cast<long long>(lateness.median),
              static_cast<long long>(lateness.latest));
}

std::int64_t signedDifference(std::uint64_t later, std::uint64_t earlier) {
  return later >= earlier ? static_cast<std::int64_t>(later - earlier)
                          : -static_cast<std::int64_t>(earlier - later);
}

void checkSleep() {
  const esc::HidPlatform& p = platform();
  const char* kinds[] = {"high-resolution timer", "standard timer", "Sleep"};
  std::printf("info sleep uses: %s\n", kinds[static_cast<int>(esc::sleepTimerInUse())]);
  Lateness lateness{};
  const std::uint64_t firstTick = GetTickCount64();
  const std::uint64_t first = p.nowMicroseconds(p.context);
  for (int i = 0; i < ROUNDS; ++i) {
    const std::uint64_t start = p.nowMicroseconds(p.context);
    p.sleep(p.context, 20);
    lateness.samples[i] = signedDifference(p.nowMicroseconds(p.context), start) - PERIOD_US;
  }
  const std::uint64_t total = p.nowMicroseconds(p.context) - first;
  const std::uint64_t tickTotalMs = GetTickCount64() - firstTick;
  summarize(lateness);
  printLateness("sleep(20)", lateness);
  check(lateness.earliest >= 0, "no sleep(20) is shorter than 20 ms (least lateness %lld us)",
        static_cast<long long>(lateness.earliest));
  check(lateness.median < MEDIAN_LATENESS_LIMIT_US, "sleep(20) typically overshoots by < 4 ms");
  const double clockMs = static_cast<double>(total) / 1000.0;
  const double tickMs = static_cast<double>(tickTotalMs);
  check(clockMs > tickMs - 40.0 && clockMs < tickMs + 40.0,
        "the monotonic clock counts microseconds (%.1f ms against %.0f ms of GetTickCount64)",
        clockMs, tickMs);

  const std::uint64_t start = p.nowMicroseconds(p.context);
  p.sleep(p.context, 0);
  const std::uint64_t zeroElapsed = p.nowMicroseconds(p.context) - start;
  check(zeroElapsed < 5000, "sleep(0) returns at once");
  SetLastError(4321);
  p.sleep(p.context, 1);
  check(GetLastError() == 4321, "sleep leaves the thread's last error alone");
}

// Paced waits, as between data blocks: each deadline is the previous one plus the period,
// so lateness must not add up over the rounds.
void checkSleepUntil() {
  const esc::HidPlatform& p = platform();
  Lateness lateness{};
  std::uint64_t deadline = p.nowMicroseconds(p.context);
  for (int i = 0; i < ROUNDS; ++i) {
    deadline += PERIOD_US;
    p.sleepUntil(p.context, deadline);
    lateness.samples[i] = signedDifference(p.nowMicroseconds(p.context), deadline);
  }
  summarize(lateness);
  printLateness("sleepUntil every 20 ms", lateness);
  check(lateness.earliest >= 0, "sleepUntil never returns before its deadline");
  check(lateness.median < MEDIAN_LATENESS_LIMIT_US, "sleepUntil is typically late by < 4 ms");

  const std::uint64_t start = p.nowMicroseconds(p.context);
  p.sleepUntil(p.context, start - 1000);
  p.sleepUntil(p.context, 0);
  const std::uint64_t pastElapsed = p.nowMicroseconds(p.context) - start;
  check(pastElapsed < 5000, "sleepUntil with a passed deadline returns at once");
  SetLastError(4322);
  p.sleepUntil(p.context, p.nowMicroseconds(p.context) + 1000);
  check(GetLastError() == 4322, "sleepUntil leaves the thread's last error alone");
}

void checkMonotonic() {
  const esc::HidPlatform& p = platform();
  bool monotonic = true;
  std::uint64_t previous = p.nowMicroseconds(p.context);
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t now = p.nowMicroseconds(p.context);
    monotonic = monotonic && now >= previous;
    previous = now;
  }
  check(monotonic, "the clock never runs backwards");
}

}  // namespace

namespace probe {

void checkClock() {
  checkSleep();
  checkSleepUntil();
  checkMonotonic();
}

}  // namespace probe
