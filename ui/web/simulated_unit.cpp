// The simulated programming unit of the page's ?simulate mode, built as a WebAssembly
// module of its own so that the product's carries no emulator code. It holds the emulated
// bus of escupdate --simulate, set up from the same settings; web/simulate/
// simulated_hid.js puts a navigator.hid-shaped interface in front of it. The bus runs on
// its virtual clock: every pause is the page's own, taken on the page's clock.
#include <emscripten.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/sim_bus.h"
#include "ui/cli/simulate_settings.h"
#include "updater/classification.h"
#include "updater/firmware_image.h"

namespace {

using namespace esc;

// Any vendor id but the build's own makes a device that is no unit.
constexpr std::uint16_t OTHER_DEVICE_VENDOR_ID =
    static_cast<std::uint16_t>(UNIT_VENDOR_ID ^ 0x8000);

struct SimulatedUnit {
  sim::Bus bus;
  std::size_t unit = sim::NO_DEVICE;
  std::int32_t plugAfterMs = -1;
  std::string text;  // the last text handed out
};

SimulatedUnit* simulated = nullptr;

const HidPlatform& platform() { return simulated->bus.platform; }

// The command line's messages start with its own name; the page names its parameter.
std::string pageMessage(const std::string& error) {
  static const std::string PREFIX = "escupdate: --simulate: ";
  return "?simulate: " +
         (error.compare(0, PREFIX.size(), PREFIX) == 0 ? error.substr(PREFIX.size()) : error);
}

bool flashEqualsImage(const sim::Device& unit) {
  HidLink view;
  std::copy(std::begin(unit.identity.escIdent), std::end(unit.identity.escIdent), view.escIdent);
  UpdateTarget target{};
  if (classifyController(escModelCode(view), target) != ClassificationResult::Supported) {
    return false;
  }
  const FirmwareImage image = loadFirmwareImage(selectFirmwareImage(target));
  const std::vector<std::uint8_t> flash = sim::writtenFirmware(unit);
  return image.data != nullptr && flash.size() == image.size &&
         std::equal(flash.begin(), flash.end(), image.data);
}

}  // namespace

extern "C" {

// Sets the bus up from the settings of ?simulate=...; returns "" or the one line that
// names the setting that cannot be read.
EMSCRIPTEN_KEEPALIVE const char* esc_sim_set_up(const char* settingsText) {
  cli::SimulateSettings settings;
  std::string error;
  delete simulated;
  simulated = new SimulatedUnit;
  if (!cli::parseSimulateSettings(settingsText, settings, error)) {
    simulated->text = pageMessage(error);
  } else if (settings.stormVisits != 0) {
    simulated->text = "?simulate: storm is not available in the page";
  } else if (settings.clock == cli::SimulatedClock::Virtual) {
    simulated->text =
        "?simulate: clock=virtual is not available in the page, which waits in real time";
  }
  if (!simulated->text.empty()) {
    return simulated->text.c_str();
  }
  sim::Bus& bus = simulated->bus;
  sim::addDevice(bus, sim::makeOtherDevice(OTHER_DEVICE_VENDOR_ID, 1, {}));
  sim::Device unit = sim::makeSupportedUnit();
  sim::applyIdentity(settings.unit, unit);
  simulated->unit = sim::addDevice(bus, unit);
  if (!settings.unit.plugged || settings.plugLater) {
    sim::unplug(bus, simulated->unit);
  }
  if (settings.plugLater) {
    simulated->plugAfterMs = static_cast<std::int32_t>(settings.plugAfterMs);
  }
  sim::armFault(bus, settings.unit.fault);
  return "";
}

EMSCRIPTEN_KEEPALIVE int esc_sim_device_count() {
  return static_cast<int>(simulated->bus.devices.size());
}

EMSCRIPTEN_KEEPALIVE int esc_sim_unit_index() { return static_cast<int>(simulated->unit); }

// -1, or when the unit is to be plugged in after the page has started.
EMSCRIPTEN_KEEPALIVE int esc_sim_plug_after_ms() { return simulated->plugAfterMs; }

// vendor id << 16 | product id.
EMSCRIPTEN_KEEPALIVE unsigned esc_sim_identity(int device) {
  const sim::Device& d = simulated->bus.devices[static_cast<std::size_t>(device)];
  return unsigned{d.vendorId} << 16 | d.productId;
}

// input length << 16 | output length, report id byte included.
EMSCRIPTEN_KEEPALIVE unsigned esc_sim_report_lengths(int device) {
  const sim::Device& d = simulated->bus.devices[static_cast<std::size_t>(device)];
  return unsigned{d.inputReportLength} << 16 | d.outputReportLength;
}

EMSCRIPTEN_KEEPALIVE int esc_sim_plugged(int device) {
  return simulated->bus.devices[static_cast<std::size_t>(device)].plugged ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE void esc_sim_set_plugged(int device, int plugged) {
  if (plugged != 0) {
    sim::plug(simulated->bus, static_cast<std::size_t>(device));
  } else {
    sim::unplug(simulated->bus, static_cast<std::size_t>(device));
  }
}

// A handle, or 0 when the device cannot be opened.
EMSCRIPTEN_KEEPALIVE unsigned esc_sim_open(int device) {
  const std::u16string path = simulated->bus.devices[static_cast<std::size_t>(device)].path;
  const DeviceHandle handle = platform().openDevice(platform().context, path.c_str());
  return handle == INVALID_DEVICE_HANDLE ? 0 : static_cast<unsigned>(handle);
}

EMSCRIPTEN_KEEPALIVE void esc_sim_close(unsigned handle) {
  platform().closeDevice(platform().context, handle);
}

// One output report, id byte first, of the device's declared length.
EMSCRIPTEN_KEEPALIVE int esc_sim_write(unsigned handle, const std::uint8_t* report,
                                       unsigned length) {
  return platform().writeReport(platform().context, handle, report, length, 0) ? 1 : 0;
}

// The answer waiting, id byte first; 0 when there is none (the unit stays silent, or its
// answer was lost or cut short).
EMSCRIPTEN_KEEPALIVE int esc_sim_read(unsigned handle, std::uint8_t* report, unsigned length) {
  return platform().readReport(platform().context, handle, report, length, 0) ? 1 : 0;
}

// What the unit went through, for tests and the curious: one line.
EMSCRIPTEN_KEEPALIVE const char* esc_sim_summary() {
  const sim::Device& unit = simulated->bus.devices[simulated->unit];
  simulated->text = std::to_string(unit.bootloader.erases) + " erase(s), " +
                    std::to_string(unit.bootloader.blocksWritten) + " blocks, " +
                    std::to_string(sim::writtenFirmware(unit).size()) + " bytes; flash " +
                    (flashEqualsImage(unit) ? "equals" : "differs from") + " the image";
  return simulated->text.c_str();
}

}  // extern "C"
