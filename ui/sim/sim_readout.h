// The simulator's read-out of the emulated unit, one "name: value" line per fact, so that
// a person can read it and a test can pick single values out of it.
#pragma once

#include <cstddef>
#include <string>

#include "emulator/sim_bus.h"

namespace esc::sim {

// Plugged, opened by the program, lock and protection state, what the last erase and
// writes left in the flash, whether that equals the image this build sends to the unit's
// ESC, armed faults not yet met, and how many device searches and requests the bus has
// carried. Lines end with CR LF.
std::string describeUnit(const Bus& bus, std::size_t unit);

// The image this build would send to an ESC with this model code.
std::uint16_t imageForModel(std::uint32_t modelCode);

}  // namespace esc::sim
