// Waits that last what they say, and the monotonic clock they are measured against.
#pragma once

#include <cstdint>

namespace esc {

enum class SleepTimer {
  HighResolution,  // a waitable timer that is not bound to the 15.6 ms system tick
  Standard,        // a waitable timer on the system tick: never short, may run long
  SleepCall        // no timer could be created: Sleep in slices, never short
};

// Blocks until monotonicMicroseconds has reached `deadlineMicroseconds`; returns at once
// when it already has. The thread's last-error value is the same afterwards.
void sleepUntilMicroseconds(std::uint64_t deadlineMicroseconds);

// Blocks for at least `milliseconds`, measured on monotonicMicroseconds.
void sleepAtLeast(std::uint32_t milliseconds);

// Microseconds on the performance counter: monotonic, from an arbitrary origin.
std::uint64_t monotonicMicroseconds();

// Which kind of wait sleepAtLeast uses on this system.
SleepTimer sleepTimerInUse();

}  // namespace esc
