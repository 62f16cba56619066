// The settings of escupdate's --simulate with any text. The parser depends on nothing but
// the text; a refusal is one line naming a setting of it; an accepted list sets each named
// field to what the simulator's own parser reads from the same value, and leaves every
// other field at its default.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/sim_settings.h"
#include "fuzz/fuzz_check.h"
#include "ui/cli/shown_argument.h"
#include "ui/cli/simulate_settings.h"

namespace esc::cli {
namespace {

using fuzz::check;
using fuzz::hasControl;

constexpr std::uint32_t MAX_PLUG_AFTER_MS = 3600000;
constexpr std::uint32_t MAX_STORM_VISITS = 100000;

struct Pair {
  std::string text;
  std::string name;
  std::string value;
};

std::vector<Pair> splitPairs(const std::string& text) {
  std::vector<Pair> pairs;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    Pair pair;
    pair.text = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const std::size_t equals = pair.text.find('=');
    pair.name = pair.text.substr(0, equals);
    pair.value = equals == std::string::npos ? std::string() : pair.text.substr(equals + 1);
    pairs.push_back(pair);
    if (comma == std::string::npos) {
      return pairs;
    }
    start = comma + 1;
  }
}

bool sameFault(const sim::FaultSetting& a, const sim::FaultSetting& b) {
  return a.choice == b.choice && a.block == b.block && a.status == b.status;
}

bool sameUnit(const sim::UnitSettings& a, const sim::UnitSettings& b) {
  return a.plugged == b.plugged && a.modelCode == b.modelCode &&
         a.escFirmwareVersion == b.escFirmwareVersion &&
         a.bootloaderVersion == b.bootloaderVersion &&
         a.unitFirmwareVersion == b.unitFirmwareVersion && a.productId == b.productId &&
         a.wrongMode == b.wrongMode && a.escStatus == b.escStatus && sameFault(a.fault, b.fault) &&
         a.notificationsRefused == b.notificationsRefused;
}

bool sameSettings(const SimulateSettings& a, const SimulateSettings& b) {
  return sameUnit(a.unit, b.unit) && a.clock == b.clock && a.plugLater == b.plugLater &&
         a.plugAfterMs == b.plugAfterMs && a.stormVisits == b.stormVisits;
}

// Settings as a previous parse, or garbage, may have left them: a parse starts from nothing.
SimulateSettings dirtySettings() {
  SimulateSettings settings;
  settings.unit.plugged = false;
  settings.unit.modelCode = 0xDEADBEEF;
  settings.unit.productId = 77;
  settings.unit.fault = sim::FaultSetting{sim::FaultChoice::BlockFails, 9, 9};
  settings.unit.notificationsRefused = true;
  settings.clock = SimulatedClock::Virtual;
  settings.plugLater = true;
  settings.plugAfterMs = 99;
  settings.stormVisits = 5;
  return settings;
}

// The simulator's parser for the setting, given the value as the same string, reads what
// the list set. `field` is the parsed field; `parse` starts from a copy of the defaults.
template <typename Value>
void checkSame(bool (*parse)(const std::string&, Value&), const std::string& value, Value field,
               Value fallback, const char* what) {
  Value read = fallback;
  check(parse(value, read), what);
  check(read == field, what);
}

void checkField(const Pair& pair, const SimulateSettings& settings,
                const sim::UnitSettings& defaults) {
  const sim::UnitSettings& unit = settings.unit;
  const std::string& name = pair.name;
  const std::string& value = pair.value;
  if (name == "plugged") {
    // plug-after and storm leave the unit out at start, whatever plugged says.
    bool plugged = defaults.plugged;
    check(sim::parseSwitch(value, plugged), "plugged as the simulator reads it");
    check(unit.plugged == (plugged && !settings.plugLater && settings.stormVisits == 0),
          "plugged as the simulator reads it");
  } else if (name == "model") {
    checkSame(sim::parseModelCode, value, unit.modelCode, defaults.modelCode, "model");
  } else if (name == "esc-version") {
    checkSame(sim::parseEscVersion, value, unit.escFirmwareVersion, defaults.escFirmwareVersion,
              "esc-version");
  } else if (name == "bootloader-version") {
    checkSame(sim::parsePackedVersion, value, unit.bootloaderVersion, defaults.bootloaderVersion,
              "bootloader-version");
  } else if (name == "unit-version") {
    checkSame(sim::parsePackedVersion, value, unit.unitFirmwareVersion,
              defaults.unitFirmwareVersion, "unit-version");
  } else if (name == "product-id") {
    checkSame(sim::parseNumber16, value, unit.productId, defaults.productId, "product-id");
  } else if (name == "wrong-mode") {
    checkSame(sim::parseSwitch, value, unit.wrongMode, defaults.wrongMode, "wrong-mode");
  } else if (name == "esc-status") {
    checkSame(sim::parseNumber16, value, unit.escStatus, defaults.escStatus, "esc-status");
  } else if (name == "fault") {
    sim::FaultSetting fault = defaults.fault;
    check(sim::parseFault(value, fault) && sameFault(fault, unit.fault), "fault");
  } else if (name == "clock") {
    check(value == (settings.clock == SimulatedClock::Virtual ? "virtual" : "real"), "clock");
  } else if (name == "storm") {
    check(!value.empty() && value.size() <= 7 &&
              value.find_first_not_of("0123456789") == std::string::npos &&
              std::stoul(value) == settings.stormVisits,
          "storm");
  } else {
    check(name == "plug-after", "only known settings are accepted");
    check(settings.plugLater && !value.empty() && value.size() <= 7 &&
              value.find_first_not_of("0123456789") == std::string::npos &&
              std::stoul(value) == settings.plugAfterMs,
          "plug-after");
  }
}

void checkAccepted(const std::string& text, const SimulateSettings& settings) {
  static const sim::UnitSettings DEFAULTS = sim::defaultSettings();
  check(settings.plugAfterMs <= MAX_PLUG_AFTER_MS, "plug-after at most an hour");
  check(!settings.plugLater || !settings.unit.plugged, "plugged later means out at start");
  check(settings.stormVisits <= MAX_STORM_VISITS, "a storm of at most 100000 visits");
  check(settings.stormVisits == 0 || !settings.unit.plugged, "a storm starts with the unit out");
  check(!settings.plugLater || settings.stormVisits == 0 ||
            settings.plugAfterMs > settings.stormVisits,
        "the unit is plugged in for good after the storm");
  // Every field left alone keeps its default: a copy of the defaults with just the named
  // fields taken over must be the record.
  SimulateSettings expected;
  expected.unit = DEFAULTS;
  if (text.empty()) {
    check(sameSettings(settings, expected), "no text, the defaults");
    return;
  }
  std::vector<std::string> names;
  for (const Pair& pair : splitPairs(text)) {
    for (const std::string& seen : names) {
      check(seen != pair.name, "a setting at most once");
    }
    names.push_back(pair.name);
    checkField(pair, settings, DEFAULTS);
    const sim::UnitSettings& unit = settings.unit;
    if (pair.name == "plugged") expected.unit.plugged = unit.plugged;
    if (pair.name == "model") expected.unit.modelCode = unit.modelCode;
    if (pair.name == "esc-version") expected.unit.escFirmwareVersion = unit.escFirmwareVersion;
    if (pair.name == "bootloader-version") expected.unit.bootloaderVersion = unit.bootloaderVersion;
    if (pair.name == "unit-version") expected.unit.unitFirmwareVersion = unit.unitFirmwareVersion;
    if (pair.name == "product-id") expected.unit.productId = unit.productId;
    if (pair.name == "wrong-mode") expected.unit.wrongMode = unit.wrongMode;
    if (pair.name == "esc-status") expected.unit.escStatus = unit.escStatus;
    if (pair.name == "fault") expected.unit.fault = unit.fault;
    if (pair.name == "clock") expected.clock = settings.clock;
    if (pair.name == "storm") {
      expected.stormVisits = settings.stormVisits;
      expected.unit.plugged = false;
    }
    if (pair.name == "plug-after") {
      expected.plugLater = true;
      expected.plugAfterMs = settings.plugAfterMs;
      expected.unit.plugged = false;
    }
  }
  check(sameSettings(settings, expected), "fields not named keep their defaults");
}

void checkRefused(const std::string& text, const std::string& error) {
  const std::string start = "escupdate: --simulate: ";
  check(error.rfind(start, 0) == 0, "a refusal names --simulate first");
  check(!hasControl(error), "a refusal is one line of plain text");
  bool named = false;
  for (const Pair& pair : splitPairs(text)) {
    named = named || error.find(shownArgument(pair.name), start.size()) != std::string::npos;
  }
  check(named, "a refusal names a setting of the text");
}

void runOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  SimulateSettings settings;
  std::string error;
  const bool accepted = parseSimulateSettings(text, settings, error);

  SimulateSettings again = dirtySettings();
  std::string againError = "stale";
  check(parseSimulateSettings(text, again, againError) == accepted,
        "the same text, the same verdict");
  if (accepted) {
    check(sameSettings(settings, again), "a parse depends on the text alone");
    checkAccepted(text, settings);
  } else {
    check(error == againError, "the same text, the same refusal");
    checkRefused(text, error);
  }
}

}  // namespace
}  // namespace esc::cli

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  esc::cli::runOneInput(data, size);
  return 0;
}
