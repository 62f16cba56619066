// The emulated programming unit behind --simulate: the bus with the unit and one other HID
// device on it, set up from the settings, and its hot-plug source. The source is a
// schedule of plug-ins and removals on the bus's clock, so a test can script as many
// arrivals and removals as it likes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/sim_bus.h"
#include "ui/cli/cli_environment.h"
#include "ui/cli/simulate_settings.h"

namespace esc::cli {

struct PlugStep {
  std::uint64_t atMicroseconds;  // on the bus's clock
  bool plug;                     // plug in, or pull out
};

struct SimulatedHotplug {
  sim::Bus* bus = nullptr;
  std::size_t unit = sim::NO_DEVICE;
  std::vector<PlugStep> schedule;  // in time order
  std::size_t next = 0;
};

struct Simulation {
  sim::Bus bus;
  std::size_t unit = sim::NO_DEVICE;
  std::size_t otherDevice = sim::NO_DEVICE;
  SimulatedHotplug hotplug;
};

// Puts a HID device that is no unit and then the unit on the bus, gives the unit the
// settings' identity, plugs it or schedules its plug-in, arms the fault and starts the
// bus's clock (real or virtual). Does not install the bus as the platform.
void setUpSimulation(Simulation& simulation, const SimulateSettings& settings);

// One line on what the emulated unit went through, for the end of a simulated update:
// erases, blocks and bytes written, and whether its flash now holds, byte for byte, the
// image this build writes to its model.
std::string simulationSummary(const Simulation& simulation);

// Waits on the bus's clock for the next scheduled step within the timeout and carries it
// out; None when no step falls within it.
HotplugSource simulatedHotplugSource(SimulatedHotplug& hotplug);

}  // namespace esc::cli
