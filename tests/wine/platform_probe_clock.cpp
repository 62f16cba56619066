// Clock and sleep checks of the platform probe: waits never end early, do not stretch to
// the system tick, and the monotonic clock counts real microseconds.
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "device/win32/platform_win32.h"
#include "device/win32/precise_clock.h"

namespace probe {
void check(bool passed, const char* format, ...);
const esc::HidPlatform& platform();
}  // namespace probe

namespace {

using probe::check;
using probe::platform;

constexpr int ROUNDS = 50;
constexpr std::uint64_t PERIOD_US = 20000;
// The 15.6 ms tick would add about 8 ms on average; a precise wait adds far less.
constexpr double MEAN_LATENESS_LIMIT_US = 4000.0;

void checkSleep() {
  const esc::HidPlatform& p = platform();
  const char* kinds[] = {"high-resolution timer", "standard timer", "Sleep"};
  std::printf("info sleep uses: %s\n", kinds[static_cast<int>(esc::sleepTimerInUse())]);
  std::uint64_t shortest = ~std::uint64_t{0};
  std::uint64_t longest = 0;
  const std::uint64_t firstTick = GetTickCount64();
  const std::uint64_t first = p.nowMicroseconds(p.context);
  for (int i = 0; i < ROUNDS; ++i) {
    const std::uint64_t start = p.nowMicroseconds(p.context);
    p.sleep(p.context, 20);
    const std::uint64_t elapsed = p.nowMicroseconds(p.context) - start;
    shortest = elapsed < shortest ? elapsed : shortest;
    longest = elapsed > longest ? elapsed : longest;
  }
  const std::uint64_t total = p.nowMicroseconds(p.context) - first;
  const std::uint64_t tickTotalMs = GetTickCount64() - firstTick;
  const double meanOvershoot = static_cast<double>(total) / ROUNDS - PERIOD_US;
  std::printf("info sleep(20) x %d: mean overshoot %.0f us, max overshoot %llu us\n", ROUNDS,
              meanOvershoot, static_cast<unsigned long long>(longest - PERIOD_US));
  check(shortest >= PERIOD_US, "no sleep(20) is shorter than 20 ms (shortest %llu us)",
        static_cast<unsigned long long>(shortest));
  check(meanOvershoot < MEAN_LATENESS_LIMIT_US,
        "sleep(20) overshoots by less than 4 ms on average");
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
  const std::uint64_t first = p.nowMicroseconds(p.context);
  std::uint64_t deadline = first;
  std::uint64_t earliest = ~std::uint64_t{0};
  std::uint64_t latest = 0;
  std::uint64_t totalLateness = 0;
  bool neverEarly = true;
  for (int i = 0; i < ROUNDS; ++i) {
    deadline += PERIOD_US;
    p.sleepUntil(p.context, deadline);
    const std::uint64_t now = p.nowMicroseconds(p.context);
    neverEarly = neverEarly && now >= deadline;
    const std::uint64_t lateness = now >= deadline ? now - deadline : 0;
    earliest = lateness < earliest ? lateness : earliest;
    latest = lateness > latest ? lateness : latest;
    totalLateness += lateness;
  }
  const double meanLateness = static_cast<double>(totalLateness) / ROUNDS;
  std::printf("info sleepUntil every 20 ms x %d: mean lateness %.0f us, max %llu us\n", ROUNDS,
              meanLateness, static_cast<unsigned long long>(latest));
  check(neverEarly, "sleepUntil never returns before its deadline");
  check(meanLateness < MEAN_LATENESS_LIMIT_US, "sleepUntil is late by less than 4 ms on average");

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
