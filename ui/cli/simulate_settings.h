// The settings of --simulate[=SETTINGS]: a comma-separated list of name=value pairs for the
// emulated unit, read with the simulator program's own parsers (same values, same forms),
// plus three settings for tests and demonstrations.
#pragma once

#include <cstdint>
#include <string>

#include "emulator/sim_settings.h"

namespace esc::cli {

enum class SimulatedClock { Real, Virtual };

struct SimulateSettings {
  sim::UnitSettings unit = sim::defaultSettings();
  // Real: waits take as long as with a real unit. Virtual: the emulator's clock jumps
  // over every wait, so an update runs in well under a second.
  SimulatedClock clock = SimulatedClock::Real;
  // plug-after=MS: the unit is unplugged at start and plugged in MS milliseconds after
  // the program starts looking for it (for --wait).
  bool plugLater = false;
  std::uint32_t plugAfterMs = 0;
  // storm=N: the unit and another HID device come and go N times, visit n (from 1) at n
  // milliseconds after the start; the unit is then plugged in for good at N + 1 ms, or at
  // plug-after, which must come after the storm (implies plugged=0).
  std::uint32_t stormVisits = 0;
};

struct SimulateSetting {
  const char* name;
  const char* variable;  // the simulator program's ESCSIM_ variable; null for the CLI's own
  const char* form;
};

inline constexpr SimulateSetting SIMULATE_SETTINGS[] = {
    {"plugged", "ESCSIM_PLUGGED", "0 or 1"},
    {"model", "ESCSIM_MODEL", "a 32-bit model code in hex, e.g. 0x0A0640AA"},
    {"esc-version", "ESCSIM_ESC_VERSION", "major.minor, a 16-bit number or none"},
    {"bootloader-version", "ESCSIM_BOOTLOADER_VERSION", "a.b, a.b.c or a 32-bit number"},
    {"unit-version", "ESCSIM_UNIT_VERSION", "a.b, a.b.c or a 32-bit number"},
    {"product-id", "ESCSIM_PRODUCT_ID", "a 16-bit number (1 and 2 are units)"},
    {"wrong-mode", "ESCSIM_WRONG_MODE", "0 or 1"},
    {"esc-status", "ESCSIM_ESC_STATUS", "a 16-bit number (3: an updatable ESC)"},
    {"fault", "ESCSIM_FAULT",
     "none, lock-refused, unlock-status[:S], erase-status[:S], address-status[:S], "
     "block:N[:S], no-answer, unplug:N or ident-lost"},
    {"clock", nullptr, "real or virtual"},
    {"plug-after", nullptr, "milliseconds from 0 to 3600000"},
    {"storm", nullptr, "a number of visits from 1 to 100000"},
};

// Reads SETTINGS (may be empty: the defaults). A setting given twice, an unknown name, a
// pair without '=' or a malformed value returns false with `error` as one line naming it.
bool parseSimulateSettings(const std::string& text, SimulateSettings& settings, std::string& error);

}  // namespace esc::cli
