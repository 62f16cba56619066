#include "ui/sim/sim_readout.h"

#include <algorithm>

#include "device/report_layout.h"
#include "updater/classification.h"
#include "updater/firmware_image.h"

namespace esc::sim {
namespace {

const char* yesNo(bool value) { return value ? "yes" : "no"; }
const char* onOff(bool value) { return value ? "on" : "off"; }

void addLine(std::string& text, const char* name, const std::string& value) {
  text += name;
  text += ": ";
  text += value;
  text += "\r\n";
}

bool openedByProgram(const Bus& bus, std::size_t unit) {
  const Device& device = bus.devices[unit];
  return std::any_of(bus.handles.begin(), bus.handles.end(), [&](const OpenHandle& handle) {
    return handle.open && handle.device == unit && handle.generation == device.generation;
  });
}

bool flashHoldsImage(const Device& unit, const FirmwareImage& image) {
  if (image.data == nullptr) {
    return false;
  }
  const std::vector<std::uint8_t> written = writtenFirmware(unit);
  return written.size() == image.size && std::equal(written.begin(), written.end(), image.data);
}

// A fault counts from the bus's requests: it waits until its command's count reaches it.
std::size_t faultsWaiting(const Bus& bus) {
  return static_cast<std::size_t>(
      std::count_if(bus.faults.begin(), bus.faults.end(), [&bus](const Fault& fault) {
        return fault.command && fault.occurrence > bus.commandRequests[*fault.command];
      }));
}

}  // namespace

std::uint16_t imageForModel(std::uint32_t modelCode) {
  UpdateTarget target{};
  if (classifyController(modelCode, target) != ClassificationResult::Supported) {
    return FALLBACK_IMAGE_ID;
  }
  return selectFirmwareImage(target);
}

std::string describeUnit(const Bus& bus, std::size_t unit) {
  const Device& device = bus.devices[unit];
  const Bootloader& bootloader = device.bootloader;
  const std::uint16_t imageId = imageForModel(readLe32(device.identity.escIdent));

  std::string text;
  addLine(text, "unit plugged", yesNo(device.plugged));
  addLine(text, "opened by the program", yesNo(openedByProgram(bus, unit)));
  addLine(text, "system lock", onOff(bootloader.systemLocked));
  addLine(text, "write protection", onOff(bootloader.writeProtected));
  addLine(text, "erases", std::to_string(bootloader.erases));
  addLine(text, "blocks written", std::to_string(bootloader.blocksWritten));
  addLine(text, "bytes written", std::to_string(bootloader.writtenEnd));
  addLine(text, "image", std::to_string(imageId));
  addLine(text, "flash equals image", yesNo(flashHoldsImage(device, loadFirmwareImage(imageId))));
  addLine(text, "faults waiting", std::to_string(faultsWaiting(bus)));
  addLine(text, "device searches", std::to_string(entriesOf(bus, EventKind::Enumerate).size()));
  addLine(text, "requests", std::to_string(bus.exchanges));
  return text;
}

}  // namespace esc::sim
