#include "ui/cli/simulation.h"

#include <algorithm>
#include <iterator>

#include "ui/cli/cli_program.h"
#include "updater/classification.h"
#include "updater/firmware_image.h"

namespace esc::cli {
namespace {

// Any vendor id but the build's own makes a device that is no unit.
constexpr std::uint16_t OTHER_DEVICE_VENDOR_ID =
    static_cast<std::uint16_t>(UNIT_VENDOR_ID ^ 0x8000);
constexpr std::uint16_t OTHER_DEVICE_PRODUCT_ID = 0x0001;

// How each visit of a storm ends, in turn: the unit gone again before the program looks,
// the unit dropping out at one of the three requests of its identification (or before
// the answer to the first), and the other HID device going and coming back.
struct StormVisit {
  bool unit;
  std::uint32_t dropAtRequest;  // 0: the unit is pulled at the instant it came
  bool dropsBeforeAnswer;
};

constexpr StormVisit STORM_VISITS[] = {
    {true, 0, false}, {true, 1, false}, {true, 1, true},
    {true, 2, false}, {true, 3, false}, {false, 0, false},
};

constexpr std::uint64_t VISIT_MICROSECONDS = 1000;
// A visit's second half; for the unit a removal that changes nothing once it has dropped.
constexpr std::uint64_t VISIT_END_MICROSECONDS = 500;

bool sameFault(const sim::Fault& a, const sim::Fault& b) {
  return a.kind == b.kind && a.exchange == b.exchange && a.command == b.command &&
         a.occurrence == b.occurrence;
}

// A drop whose request never came (the program did not ask that much) ends with the visit.
void withdrawDrop(SimulatedHotplug& hotplug) {
  if (!hotplug.drop) {
    return;
  }
  std::vector<sim::Fault>& faults = hotplug.bus->faults;
  for (auto fault = faults.begin(); fault != faults.end(); ++fault) {
    if (sameFault(*fault, *hotplug.drop)) {
      faults.erase(fault);
      break;
    }
  }
  hotplug.drop.reset();
}

void carryOut(SimulatedHotplug& hotplug, const PlugStep& step) {
  sim::Bus& bus = *hotplug.bus;
  withdrawDrop(hotplug);
  if (!step.plug) {
    sim::unplug(bus, step.device);
    return;
  }
  sim::plug(bus, step.device);
  if (step.dropAtRequest != 0) {
    const sim::FaultKind kind = step.dropsBeforeAnswer ? sim::FaultKind::UnplugBeforeRead
                                                       : sim::FaultKind::UnplugBeforeWrite;
    hotplug.drop = sim::atExchange(kind, bus.exchanges + step.dropAtRequest);
    bus.faults.push_back(*hotplug.drop);
  }
}

void noteChanges(SimulatedHotplug& hotplug) {
  const std::vector<sim::Device>& devices = hotplug.bus->devices;
  for (std::size_t device = 0; device < devices.size(); ++device) {
    const bool plugged = devices[device].plugged;
    if (hotplug.told[device] != plugged) {
      hotplug.told[device] = plugged;
      hotplug.untold.push_back(plugged ? HotplugChange::Arrival : HotplugChange::Removal);
    }
  }
}

HotplugChange waitForStep(void* context, std::uint32_t timeoutMs) {
  SimulatedHotplug& hotplug = *static_cast<SimulatedHotplug*>(context);
  sim::Bus& bus = *hotplug.bus;
  noteChanges(hotplug);
  if (hotplug.untold.empty()) {
    const std::uint64_t now = sim::nowMicroseconds(bus);
    const std::uint64_t end = now + std::uint64_t{timeoutMs} * 1000u;
    if (hotplug.next >= hotplug.schedule.size() ||
        hotplug.schedule[hotplug.next].atMicroseconds > end) {
      sim::waitMicroseconds(bus, end - now);
      return HotplugChange::None;
    }
    const std::uint64_t at = hotplug.schedule[hotplug.next].atMicroseconds;
    if (at > now) {
      sim::waitMicroseconds(bus, at - now);
    }
    // Each step is noted on its own: a plug-in and a removal at one instant are two changes.
    while (hotplug.next < hotplug.schedule.size() &&
           hotplug.schedule[hotplug.next].atMicroseconds == at) {
      carryOut(hotplug, hotplug.schedule[hotplug.next++]);
      noteChanges(hotplug);
    }
  }
  if (hotplug.untold.empty()) {
    return HotplugChange::None;
  }
  const HotplugChange change = hotplug.untold.front();
  hotplug.untold.pop_front();
  ++hotplug.delivered;
  return change;
}

void scheduleStorm(Simulation& simulation, std::uint64_t start, std::uint32_t visits) {
  std::vector<PlugStep>& schedule = simulation.hotplug.schedule;
  for (std::uint32_t visit = 0; visit < visits; ++visit) {
    const StormVisit& kind = STORM_VISITS[visit % std::size(STORM_VISITS)];
    const std::uint64_t at = start + (visit + 1) * VISIT_MICROSECONDS;
    if (!kind.unit) {
      schedule.push_back(PlugStep{at, simulation.otherDevice, false});
      schedule.push_back(PlugStep{at + VISIT_END_MICROSECONDS, simulation.otherDevice, true});
    } else if (kind.dropAtRequest == 0) {
      schedule.push_back(PlugStep{at, simulation.unit, true});
      schedule.push_back(PlugStep{at, simulation.unit, false});
    } else {
      schedule.push_back(
          PlugStep{at, simulation.unit, true, kind.dropAtRequest, kind.dropsBeforeAnswer});
      schedule.push_back(PlugStep{at + VISIT_END_MICROSECONDS, simulation.unit, false});
    }
  }
}

}  // namespace

void useLinuxPaths(Simulation& simulation) {
  std::vector<sim::Device>& devices = simulation.bus.devices;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const std::string path = "/dev/hidraw" + std::to_string(i);
    devices[i].path.assign(path.begin(), path.end());
  }
}

void setUpSimulation(Simulation& simulation, const SimulateSettings& settings) {
  sim::Bus& bus = simulation.bus;
  if (settings.clock == SimulatedClock::Real) {
    sim::useRealClock(bus, nullptr, nullptr);
  }
  simulation.otherDevice = sim::addDevice(
      bus, sim::makeOtherDevice(OTHER_DEVICE_VENDOR_ID, OTHER_DEVICE_PRODUCT_ID, {}));
  sim::Device unit = sim::makeSupportedUnit();
  sim::applyIdentity(settings.unit, unit);
  simulation.unit = sim::addDevice(bus, unit);
  if (!settings.unit.plugged) {
    sim::unplug(bus, simulation.unit);
  }
  sim::armFault(bus, settings.unit.fault);

  SimulatedHotplug& hotplug = simulation.hotplug;
  hotplug = SimulatedHotplug{};
  hotplug.bus = &bus;
  for (const sim::Device& device : bus.devices) {
    hotplug.told.push_back(device.plugged);
  }
  const std::uint64_t start = sim::nowMicroseconds(bus);
  scheduleStorm(simulation, start, settings.stormVisits);
  if (settings.plugLater) {
    hotplug.schedule.push_back(
        PlugStep{start + std::uint64_t{settings.plugAfterMs} * 1000u, simulation.unit, true});
  } else if (settings.stormVisits != 0) {
    hotplug.schedule.push_back(
        PlugStep{start + (std::uint64_t{settings.stormVisits} + 1) * VISIT_MICROSECONDS,
                 simulation.unit, true});
  }
}

std::string simulationSummary(const Simulation& simulation) {
  const sim::Device& unit = simulation.bus.devices[simulation.unit];
  const std::vector<std::uint8_t> flash = sim::writtenFirmware(unit);
  HidLink view;
  std::copy(std::begin(unit.identity.escIdent), std::end(unit.identity.escIdent), view.escIdent);
  UpdateTarget target{};
  std::string equals = "no image for its model";
  if (classifyController(escModelCode(view), target) == ClassificationResult::Supported) {
    const std::uint16_t imageId = selectFirmwareImage(target);
    const FirmwareImage image = loadFirmwareImage(imageId);
    const bool same = image.data != nullptr && flash.size() == image.size &&
                      std::equal(flash.begin(), flash.end(), image.data);
    equals = std::string(same ? "equals" : "differs from") + " image " + std::to_string(imageId);
  }
  return "simulated unit: " + std::to_string(unit.bootloader.erases) + " erase(s), " +
         std::to_string(unit.bootloader.blocksWritten) + " blocks and " +
         std::to_string(flash.size()) + " bytes written; its flash " + equals;
}

std::string stormSummary(const Simulation& simulation) {
  return "simulated storm: " + std::to_string(simulation.hotplug.delivered) +
         " arrivals and removals told";
}

HotplugSource simulatedHotplugSource(SimulatedHotplug& hotplug) {
  return HotplugSource{&hotplug, waitForStep};
}

bool readCommandLine(const std::vector<std::string>& words, CliArguments& arguments,
                     SimulateSettings& settings, std::string& error) {
  return parseArguments(words, arguments, error) &&
         (!arguments.simulate ||
          parseSimulateSettings(arguments.simulateSettings, settings, error));
}

std::string simulationReport(const CliArguments& arguments, const SimulateSettings& settings,
                             const Simulation& simulation, int status) {
  if (!arguments.simulate || arguments.help || arguments.version || status == EXIT_USAGE) {
    return {};
  }
  std::string report;
  if (arguments.verb == Verb::Update) {
    report += "escupdate: " + simulationSummary(simulation) + "\n";
  }
  if (settings.stormVisits != 0) {
    report += "escupdate: " + stormSummary(simulation) + "\n";
  }
  return report;
}

}  // namespace esc::cli
