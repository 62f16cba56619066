// The emulated programming unit behind --simulate: the bus with the unit and one other HID
// device on it, set up from the settings, and its hot-plug source. The source is a
// schedule of plug-ins and removals on the bus's clock, so a test can script as many
// arrivals and removals as it likes, down to a unit that drops out again while the program
// is still asking it who it is, as on a flapping hub.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "emulator/sim_bus.h"
#include "ui/cli/cli_arguments.h"
#include "ui/cli/cli_environment.h"
#include "ui/cli/simulate_settings.h"

namespace esc::cli {

struct PlugStep {
  std::uint64_t atMicroseconds;  // on the bus's clock
  std::size_t device;            // index on the bus
  bool plug;                     // plug in, or pull out
  // Plug-ins only: the device drops out again at the nth request it gets from now (from 1),
  // before the request reaches it, or with `dropsBeforeAnswer` before its answer does; 0:
  // it stays until a later step.
  std::uint32_t dropAtRequest = 0;
  bool dropsBeforeAnswer = false;
};

struct SimulatedHotplug {
  sim::Bus* bus = nullptr;
  std::vector<PlugStep> schedule;  // in time order
  std::size_t next = 0;
  // Per device: plugged as far as the program has been told.
  std::vector<bool> told;
  // Changes on the bus the program has not been told of yet, oldest first: several steps
  // at one instant are carried out together, and then told one by one.
  std::deque<HotplugChange> untold;
  // The drop of the current plug-in, while it waits for its request.
  std::optional<sim::Fault> drop;
  std::uint32_t delivered = 0;  // arrivals and removals told so far
};

struct Simulation {
  sim::Bus bus;
  std::size_t unit = sim::NO_DEVICE;
  std::size_t otherDevice = sim::NO_DEVICE;
  SimulatedHotplug hotplug;
};

// Puts a HID device that is no unit and then the unit on the bus, gives the unit the
// settings' identity, plugs it or schedules its plug-in (after the storm, if there is
// one), arms the fault and starts the bus's clock (real or virtual). Does not install the
// bus as the platform.
void setUpSimulation(Simulation& simulation, const SimulateSettings& settings);

// Gives the emulated devices paths shaped like Linux hidraw nodes (/dev/hidraw0, ...)
// instead of Windows interface paths: the Linux program shows those.
void useLinuxPaths(Simulation& simulation);

// One line on what the emulated unit went through, for the end of a simulated update:
// erases, blocks and bytes written, and whether its flash now holds, byte for byte, the
// image this build writes to its model.
std::string simulationSummary(const Simulation& simulation);
// "simulated storm: N arrivals and removals told", for the end of a run with storm=N.
std::string stormSummary(const Simulation& simulation);

// Tells a change the bus made by itself (a device that dropped out at a request) or one
// carried out earlier and not told yet, at once. Otherwise waits on the bus's clock for
// the next scheduled steps within the timeout, carries out every step of that instant and
// tells the first change; None when no step falls within it or the steps changed nothing.
HotplugSource simulatedHotplugSource(SimulatedHotplug& hotplug);

// The command line's words read into the arguments and, with --simulate, its settings. On
// false, `error` is the one line to print before exiting with the usage status.
bool readCommandLine(const std::vector<std::string>& words, CliArguments& arguments,
                     SimulateSettings& settings, std::string& error);
// What a simulated run adds on standard error once the verb has ended with `status`: the
// summary of an update, the count of a storm, each line starting "escupdate: "; empty
// without --simulate, for help, and after a usage error.
std::string simulationReport(const CliArguments& arguments, const SimulateSettings& settings,
                             const Simulation& simulation, int status);

}  // namespace esc::cli
