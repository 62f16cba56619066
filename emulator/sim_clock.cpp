#include <algorithm>
#include <thread>

#include "emulator/sim_bus.h"

namespace esc::sim {
namespace {

// Slices of a real-clock wait, so the idle hook runs often enough for a window to stay
// responsive while the link blocks.
constexpr std::uint64_t IDLE_SLICE_MICROSECONDS = 10000;
constexpr std::uint64_t SPIN_MICROSECONDS = 1000;

}  // namespace

void useRealClock(Bus& bus, void (*idle)(void* context), void* idleContext) {
  bus.clock.kind = ClockKind::Real;
  bus.clock.realStart = std::chrono::steady_clock::now();
  bus.clock.idle = idle;
  bus.clock.idleContext = idleContext;
}

std::uint64_t nowMicroseconds(const Bus& bus) {
  if (bus.clock.kind == ClockKind::Virtual) {
    return bus.clock.virtualMicroseconds;
  }
  const auto elapsed = std::chrono::steady_clock::now() - bus.clock.realStart;
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
}

void waitMicroseconds(Bus& bus, std::uint64_t microseconds) {
  if (bus.clock.kind == ClockKind::Virtual) {
    bus.clock.virtualMicroseconds += microseconds;
    return;
  }
  const std::uint64_t deadline = nowMicroseconds(bus) + microseconds;
  std::uint64_t now = nowMicroseconds(bus);
  while (now + SPIN_MICROSECONDS < deadline) {
    const std::uint64_t slice =
        std::min(deadline - SPIN_MICROSECONDS - now, IDLE_SLICE_MICROSECONDS);
    std::this_thread::sleep_for(
        std::chrono::microseconds(static_cast<std::chrono::microseconds::rep>(slice)));
    if (bus.clock.idle != nullptr) {
      bus.clock.idle(bus.clock.idleContext);
    }
    now = nowMicroseconds(bus);
  }
  // A sleeping thread wakes late by a fraction of a millisecond; thousands of waits add
  // that up, so the last stretch watches the clock instead.
  while (now < deadline) {
    std::this_thread::yield();
    now = nowMicroseconds(bus);
  }
}

}  // namespace esc::sim
