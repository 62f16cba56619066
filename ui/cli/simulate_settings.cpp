#include "ui/cli/simulate_settings.h"

#include <cstddef>
#include <set>
#include <string>

#include "ui/cli/shown_argument.h"

namespace esc::cli {
namespace {

constexpr std::uint32_t MAX_PLUG_AFTER_MS = 3600000;
constexpr std::uint32_t MAX_STORM_VISITS = 100000;

struct SingleVariable {
  const char* variable;
  const char* value;
};

// Hands the simulator's settings reader exactly one variable, so that it parses the value
// with the parser it uses for that variable and nothing else.
const char* lookupSingle(const char* variable, void* context) {
  const auto& single = *static_cast<const SingleVariable*>(context);
  return std::string(variable) == single.variable ? single.value : nullptr;
}

const SimulateSetting* findSetting(const std::string& name) {
  for (const SimulateSetting& setting : SIMULATE_SETTINGS) {
    if (name == setting.name) {
      return &setting;
    }
  }
  return nullptr;
}

bool parseDecimal(const std::string& text, std::uint32_t minimum, std::uint32_t maximum,
                  std::uint32_t& value) {
  if (text.empty() || text.size() > 7) {
    return false;
  }
  std::uint32_t result = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return false;
    }
    result = result * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (result < minimum || result > maximum) {
    return false;
  }
  value = result;
  return true;
}

// The CLI's own settings: how the emulated unit is paced and plugged, not what it reports.
bool applyOwnSetting(const std::string& name, const std::string& value,
                     SimulateSettings& settings) {
  if (name == "clock") {
    if (value != "real" && value != "virtual") {
      return false;
    }
    settings.clock = value == "virtual" ? SimulatedClock::Virtual : SimulatedClock::Real;
    return true;
  }
  if (name == "storm") {
    return parseDecimal(value, 1, MAX_STORM_VISITS, settings.stormVisits);
  }
  if (!parseDecimal(value, 0, MAX_PLUG_AFTER_MS, settings.plugAfterMs)) {
    return false;
  }
  settings.plugLater = true;
  return true;
}

// The simulator's parsers ignore what follows a blank, which suits its list fields; on a
// command line a blank inside a value is a typing error, so it is refused here. So is a NUL:
// the value reaches the simulator's reader as a C string, which would end at it and take
// the text before it for the whole value.
bool hasBlankOrNul(const std::string& text) {
  for (const char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '\0') {
      return true;
    }
  }
  return false;
}

}  // namespace

bool parseSimulateSettings(const std::string& text, SimulateSettings& settings,
                           std::string& error) {
  settings = SimulateSettings{};
  if (text.empty()) {
    return true;
  }
  std::set<std::string> seen;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = text.find(',', start);
    const std::size_t end = comma == std::string::npos ? text.size() : comma;
    const std::string pair = text.substr(start, end - start);
    start = end + 1;
    const std::size_t equals = pair.find('=');
    if (equals == std::string::npos) {
      error = "escupdate: --simulate: '" + shownArgument(pair) + "' is no name=value setting";
      return false;
    }
    const std::string name = pair.substr(0, equals);
    const std::string value = pair.substr(equals + 1);
    const SimulateSetting* setting = findSetting(name);
    if (setting == nullptr) {
      error = "escupdate: --simulate: unknown setting '" + shownArgument(name) + "'";
      return false;
    }
    if (!seen.insert(name).second) {
      error = "escupdate: --simulate: " + shownArgument(name) + " is given twice";
      return false;
    }
    bool valid = !value.empty() && !hasBlankOrNul(value);
    if (valid && setting->variable != nullptr) {
      SingleVariable single{setting->variable, value.c_str()};
      std::string unused;
      valid = sim::readSettings(lookupSingle, &single, settings.unit, unused);
    } else if (valid) {
      valid = applyOwnSetting(name, value, settings);
    }
    if (!valid) {
      error = "escupdate: --simulate: " + shownArgument(pair) + " is not valid; expected " +
              setting->form;
      return false;
    }
    if (comma == std::string::npos) {
      break;
    }
  }
  // The unit's one plug-in that lasts would otherwise fall inside the storm.
  if (settings.plugLater && settings.stormVisits != 0 &&
      settings.plugAfterMs <= settings.stormVisits) {
    error = "escupdate: --simulate: plug-after=" + std::to_string(settings.plugAfterMs) +
            " is not valid with storm=" + std::to_string(settings.stormVisits) +
            "; expected more than " + std::to_string(settings.stormVisits) +
            " (the storm's last visit, in milliseconds)";
    return false;
  }
  if (settings.plugLater || settings.stormVisits != 0) {
    settings.unit.plugged = false;
  }
  return true;
}

}  // namespace esc::cli
