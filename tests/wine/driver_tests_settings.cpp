// The simulator's settings: the texts its ESCSIM_* variables and fields accept, and how
// an armed fault is placed among the requests. These run inside the driver, without
// starting the program.
#include <cstring>
#include <map>
#include <string>

#include "device/report_layout.h"
#include "emulator/sim_settings.h"
#include "tests/wine/driver_tests.h"

namespace driver {
namespace {

using esc::sim::FaultChoice;
using esc::sim::FaultSetting;

struct NumberCase {
  const char* text;
  bool accepted;
  std::uint32_t value;
};

template <typename Value>
void checkNumberCases(Test& test, const char* parser, bool (*parse)(const std::string&, Value&),
                      const NumberCase* cases, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const NumberCase& c = cases[i];
    Value value = 0;
    const bool accepted = parse(c.text, value);
    check(test, accepted == c.accepted && (!accepted || value == c.value),
          "%s(\"%s\"): %s 0x%08x, expected %s 0x%08x", parser, c.text,
          accepted ? "accepted" : "refused", static_cast<unsigned>(value),
          c.accepted ? "accepted" : "refused", static_cast<unsigned>(c.value));
  }
}

template <std::size_t N, typename Value>
void checkNumberCases(Test& test, const char* parser, bool (*parse)(const std::string&, Value&),
                      const NumberCase (&cases)[N]) {
  checkNumberCases(test, parser, parse, cases, N);
}

const NumberCase PACKED_VERSIONS[] = {
    {"1.2.3", true, 0x01000203},
    {"2.3", true, 0x00000203},
    {"0x00010500", true, 0x00010500},
    {"255.255.255", true, 0xFF00FFFF},
    {"12345", true, 12345},
    {" 1.5  shown as 1.5", true, 0x0105},
    {"1.2.3.4", false, 0},
    {"256.1", false, 0},
    {"1.", false, 0},
    {"", false, 0},
    {"0x1FFFFFFFF", false, 0},
    {"0x", false, 0},
    {"1.-2", false, 0},
};

const NumberCase ESC_VERSIONS[] = {
    {"1.0", true, 0x0100},    {"1.1", true, 0x0101}, {"none", true, 0xFFFF},
    {"0xFFFE", true, 0xFFFE}, {"257", true, 257},    {"1.2.3", false, 0},
    {"65536", false, 0},      {"None", false, 0},    {"1.256", false, 0},
};

const NumberCase MODEL_CODES[] = {
    {"0x0A0640AA", true, 0x0A0640AA},
    {"110fa0d2", true, 0x110FA0D2},
    {"0x110FA0D2  supported, rating 210, 17 cells", true, 0x110FA0D2},
    {"xyz", false, 0},
    {"0x", false, 0},
    {"0x123456789", false, 0},
    {"", false, 0},
};

const NumberCase NUMBERS16[] = {
    {"3", true, 3},      {"0x0003", true, 3}, {"65535", true, 65535}, {"3  updatable ESC", true, 3},
    {"65536", false, 0}, {"-1", false, 0},    {"three", false, 0},
};

struct FaultCase {
  const char* text;
  bool accepted;
  FaultSetting fault;
};

const FaultCase FAULTS[] = {
    {"none", true, {FaultChoice::None, 0, 0}},
    {"lock-refused", true, {FaultChoice::LockRefused, 0, 0}},
    {"unlock-status", true, {FaultChoice::UnlockStatus, 0, 0x04}},
    {"erase-status:0", true, {FaultChoice::EraseStatus, 0, 0}},
    {"address-status:0x1234", true, {FaultChoice::AddressStatus, 0, 0x1234}},
    {"block:3", true, {FaultChoice::BlockFails, 3, 0x07}},
    {"block:3:0x8000002A", true, {FaultChoice::BlockFails, 3, 0x8000002A}},
    {"no-answer", true, {FaultChoice::NoAnswer, 0, 0}},
    {"unplug:500", true, {FaultChoice::UnplugAtBlock, 500, 0}},
    {"ident-lost", true, {FaultChoice::IdentLost, 0, 0}},
    {"block:0", false, {}},
    {"block", false, {}},
    {"block:x", false, {}},
    {"unplug:2:5", false, {}},
    {"lock-refused:1", false, {}},
    {"ident-lost:1", false, {}},
    {"erase-status:1:2", false, {}},
    {"bogus", false, {}},
    {"", false, {}},
};

bool sameFault(const FaultSetting& a, const FaultSetting& b) {
  return a.choice == b.choice && a.block == b.block && a.status == b.status;
}

const char* lookupIn(const char* variable, void* context) {
  const auto& values = *static_cast<const std::map<std::string, std::string>*>(context);
  const auto found = values.find(variable);
  return found == values.end() ? nullptr : found->second.c_str();
}

}  // namespace

void settingParsersAcceptTheDocumentedForms(Test& test) {
  checkNumberCases(test, "parsePackedVersion", esc::sim::parsePackedVersion, PACKED_VERSIONS);
  checkNumberCases(test, "parseEscVersion", esc::sim::parseEscVersion, ESC_VERSIONS);
  checkNumberCases(test, "parseModelCode", esc::sim::parseModelCode, MODEL_CODES);
  checkNumberCases(test, "parseNumber16", esc::sim::parseNumber16, NUMBERS16);
  for (const FaultCase& c : FAULTS) {
    if (!c.accepted) {
      continue;
    }
    FaultSetting fault;
    check(test, esc::sim::parseFault(c.text, fault) && sameFault(fault, c.fault),
          "parseFault(\"%s\") did not give the expected fault", c.text);
    FaultSetting again;
    check(test, esc::sim::parseFault(esc::sim::faultText(fault), again) && sameFault(again, fault),
          "faultText of \"%s\" (\"%s\") does not read back", c.text,
          esc::sim::faultText(fault).c_str());
  }
  bool value = false;
  check(test, esc::sim::parseSwitch("1", value) && value, "parseSwitch(\"1\")");
  check(test, esc::sim::parseSwitch("0", value) && !value, "parseSwitch(\"0\")");
}

void settingParsersRefuseMalformedTexts(Test& test) {
  for (const FaultCase& c : FAULTS) {
    if (c.accepted) {
      continue;
    }
    FaultSetting fault{FaultChoice::LockRefused, 9, 9};
    check(
        test,
        !esc::sim::parseFault(c.text, fault) && sameFault(fault, {FaultChoice::LockRefused, 9, 9}),
        "parseFault(\"%s\") was accepted or changed its result", c.text);
  }
  for (const char* text : {"2", "yes", "", "01"}) {
    bool value = true;
    check(test, !esc::sim::parseSwitch(text, value) && value, "parseSwitch(\"%s\") was accepted",
          text);
  }
}

void faultsCountFromTheRequestsSeenSoFar(Test& test) {
  esc::sim::Bus bus;
  bus.commandRequests[esc::CMD_WRITE_BLOCK] = 1881;
  bus.commandRequests[esc::CMD_SYSTEM_LOCK] = 2;

  esc::sim::armFault(bus, {FaultChoice::BlockFails, 3, 0x8000002A});
  if (check(test, bus.faults.size() == 1, "%zu faults armed for block:3", bus.faults.size())) {
    const esc::sim::Fault& fault = bus.faults[0];
    check(test,
          fault.kind == esc::sim::FaultKind::ErrorStatus && fault.command &&
              *fault.command == esc::CMD_WRITE_BLOCK && fault.occurrence == 1884 &&
              fault.status == 0x8000002A,
          "block:3 after 1881 blocks is not the 1884th block with status 0x8000002A");
  }

  // Arming again replaces the earlier fault.
  esc::sim::armFault(bus, {FaultChoice::LockRefused, 0, 0});
  if (check(test, bus.faults.size() == 1, "%zu faults armed for lock-refused", bus.faults.size())) {
    const esc::sim::Fault& fault = bus.faults[0];
    check(test,
          fault.kind == esc::sim::FaultKind::AnswerByte3 && fault.command &&
              *fault.command == esc::CMD_SYSTEM_LOCK && fault.occurrence == 3 && fault.byte3 == 0,
          "lock-refused after two locks is not the third lock answered with byte 3 = 0");
  }

  esc::sim::armFault(bus, {FaultChoice::UnplugAtBlock, 2, 0});
  check(test,
        bus.faults.size() == 1 && bus.faults[0].kind == esc::sim::FaultKind::UnplugBeforeWrite &&
            bus.faults[0].occurrence == 1883,
        "unplug:2 after 1881 blocks is not an unplug before the 1883rd block");

  bus.commandRequests[esc::CMD_GET_ESC_IDENT] = 1;
  esc::sim::armFault(bus, {FaultChoice::IdentLost, 0, 0});
  check(test,
        bus.faults.size() == 1 && bus.faults[0].kind == esc::sim::FaultKind::ReadFails &&
            bus.faults[0].command && *bus.faults[0].command == esc::CMD_GET_ESC_IDENT &&
            bus.faults[0].occurrence == 2,
        "ident-lost after one identification is not the second one's answer lost");

  esc::sim::armFault(bus, {FaultChoice::None, 0, 0});
  check(test, bus.faults.empty(), "none left %zu faults armed", bus.faults.size());
}

void settingsFromTheEnvironmentNameTheBadVariable(Test& test) {
  std::map<std::string, std::string> values = {
      {"ESCSIM_MODEL", "0x0A0640AA"},
      {"ESCSIM_ESC_VERSION", "none"},
      {"ESCSIM_UNIT_VERSION", "2.1.5"},
      {"ESCSIM_PRODUCT_ID", "2"},
      {"ESCSIM_PLUGGED", "0"},
      {"ESCSIM_FAULT", "block:7"},
      {"ESCSIM_REFUSE_NOTIFICATIONS", "1"},
  };
  esc::sim::UnitSettings settings = esc::sim::defaultSettings();
  std::string error;
  if (check(test, esc::sim::readSettings(lookupIn, &values, settings, error),
            "valid settings refused: %s", error.c_str())) {
    check(test,
          settings.modelCode == 0x0A0640AA && settings.escFirmwareVersion == 0xFFFF &&
              settings.unitFirmwareVersion == 0x02000105 && settings.productId == 2 &&
              !settings.plugged && settings.fault.choice == FaultChoice::BlockFails &&
              settings.fault.block == 7 && settings.notificationsRefused,
          "the settings were not taken as given");
  }

  esc::sim::Device unit = esc::sim::makeSupportedUnit();
  esc::sim::applyIdentity(settings, unit);
  check(test,
        esc::readLe32(unit.identity.escIdent) == 0x0A0640AA &&
            esc::readLe16(unit.identity.escInfo + 4) == 0xFFFF &&
            unit.identity.firmwareVersion == 0x02000105 && unit.productId == 2,
        "the unit does not report the settings");

  values["ESCSIM_PRODUCT_ID"] = "70000";
  error.clear();
  check(test,
        !esc::sim::readSettings(lookupIn, &values, settings, error) &&
            error.find("ESCSIM_PRODUCT_ID=70000") != std::string::npos,
        "a product id of 70000 was not refused by name: \"%s\"", error.c_str());
}

}  // namespace driver
