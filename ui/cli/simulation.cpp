#include "ui/cli/simulation.h"

#include <algorithm>
#include <iterator>

#include "updater/classification.h"
#include "updater/firmware_image.h"

namespace esc::cli {
namespace {

// Any vendor id but the build's own makes a device that is no unit.
constexpr std::uint16_t OTHER_DEVICE_VENDOR_ID =
    static_cast<std::uint16_t>(UNIT_VENDOR_ID ^ 0x8000);
constexpr std::uint16_t OTHER_DEVICE_PRODUCT_ID = 0x0001;

HotplugChange waitForStep(void* context, std::uint32_t timeoutMs) {
  SimulatedHotplug& hotplug = *static_cast<SimulatedHotplug*>(context);
  sim::Bus& bus = *hotplug.bus;
  const std::uint64_t now = sim::nowMicroseconds(bus);
  const std::uint64_t end = now + std::uint64_t{timeoutMs} * 1000u;
  if (hotplug.next >= hotplug.schedule.size() ||
      hotplug.schedule[hotplug.next].atMicroseconds > end) {
    sim::waitMicroseconds(bus, end - now);
    return HotplugChange::None;
  }
  const PlugStep step = hotplug.schedule[hotplug.next++];
  if (step.atMicroseconds > now) {
    sim::waitMicroseconds(bus, step.atMicroseconds - now);
  }
  if (step.plug) {
    sim::plug(bus, hotplug.unit);
    return HotplugChange::Arrival;
  }
  sim::unplug(bus, hotplug.unit);
  return HotplugChange::Removal;
}

}  // namespace

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
  hotplug.bus = &bus;
  hotplug.unit = simulation.unit;
  hotplug.schedule.clear();
  hotplug.next = 0;
  if (settings.plugLater) {
    hotplug.schedule.push_back(
        PlugStep{sim::nowMicroseconds(bus) + std::uint64_t{settings.plugAfterMs} * 1000u, true});
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

HotplugSource simulatedHotplugSource(SimulatedHotplug& hotplug) {
  return HotplugSource{&hotplug, waitForStep};
}

}  // namespace esc::cli
