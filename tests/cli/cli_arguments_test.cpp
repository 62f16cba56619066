// The command line's argument parser and the --simulate settings parser, case by case.
#include "ui/cli/cli_arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/cli/simulate_settings.h"

namespace esc::cli {
namespace {

struct ArgumentCase {
  std::vector<std::string> words;
  Verb verb;
  bool yes;
  bool json;
  bool wait;
  std::uint32_t waitSeconds;
  const char* device;    // null: not given
  const char* simulate;  // null: not given
};

const ArgumentCase VALID[] = {
    {{"list"}, Verb::List, false, false, false, 0, nullptr, nullptr},
    {{"info", "--json"}, Verb::Info, false, true, false, 0, nullptr, nullptr},
    {{"--json", "info"}, Verb::Info, false, true, false, 0, nullptr, nullptr},
    {{"update", "-y"}, Verb::Update, true, false, false, 0, nullptr, nullptr},
    {{"update", "--yes", "--json"}, Verb::Update, true, true, false, 0, nullptr, nullptr},
    {{"update", "--assume-yes"}, Verb::Update, true, false, false, 0, nullptr, nullptr},
    {{"update", "--wait"}, Verb::Update, false, false, true, 0, nullptr, nullptr},
    {{"update", "--wait=30"}, Verb::Update, false, false, true, 30, nullptr, nullptr},
    {{"info", "--wait=86400"}, Verb::Info, false, false, true, 86400, nullptr, nullptr},
    {{"info", "--device", "/dev/hidraw3"},
     Verb::Info,
     false,
     false,
     false,
     0,
     "/dev/hidraw3",
     nullptr},
    {{"info", "--device=/dev/hidraw3"},
     Verb::Info,
     false,
     false,
     false,
     0,
     "/dev/hidraw3",
     nullptr},
    // A path that starts with a dash is still the option's value.
    {{"list", "--device", "-odd"}, Verb::List, false, false, false, 0, "-odd", nullptr},
    {{"info", "--simulate"}, Verb::Info, false, false, false, 0, nullptr, ""},
    {{"info", "--simulate=model=0x0A0640AA,fault=block:500"},
     Verb::Info,
     false,
     false,
     false,
     0,
     nullptr,
     "model=0x0A0640AA,fault=block:500"},
    // The last --wait counts.
    {{"list", "--wait=5", "--wait"}, Verb::List, false, false, true, 0, nullptr, nullptr},
};

TEST(CliArguments, ValidCommandLinesGiveTheirVerbAndOptions) {
  for (const ArgumentCase& c : VALID) {
    SCOPED_TRACE(testing::PrintToString(c.words));
    CliArguments arguments;
    std::string error;
    ASSERT_TRUE(parseArguments(c.words, arguments, error)) << error;
    EXPECT_EQ(arguments.verb, c.verb);
    EXPECT_EQ(arguments.assumeYes, c.yes);
    EXPECT_EQ(arguments.json, c.json);
    EXPECT_EQ(arguments.wait, c.wait);
    EXPECT_EQ(arguments.waitSeconds, c.waitSeconds);
    EXPECT_EQ(arguments.deviceGiven, c.device != nullptr);
    EXPECT_EQ(arguments.devicePath, c.device != nullptr ? c.device : "");
    EXPECT_EQ(arguments.simulate, c.simulate != nullptr);
    EXPECT_EQ(arguments.simulateSettings, c.simulate != nullptr ? c.simulate : "");
    EXPECT_FALSE(arguments.help);
  }
}

struct HelpCase {
  std::vector<std::string> words;
  Verb verb;
  Verb helpVerb;
};

const HelpCase HELP[] = {
    {{"--help"}, Verb::None, Verb::None},
    {{"-h"}, Verb::None, Verb::None},
    {{"help"}, Verb::Help, Verb::None},
    {{"help", "update"}, Verb::Help, Verb::Update},
    {{"update", "--help"}, Verb::Update, Verb::None},
    {{"list", "-h", "--json"}, Verb::List, Verb::None},
};

TEST(CliArguments, HelpNeedsNoOtherArgumentAndNamesItsVerb) {
  for (const HelpCase& c : HELP) {
    SCOPED_TRACE(testing::PrintToString(c.words));
    CliArguments arguments;
    std::string error;
    ASSERT_TRUE(parseArguments(c.words, arguments, error)) << error;
    EXPECT_TRUE(arguments.help || arguments.verb == Verb::Help);
    EXPECT_EQ(arguments.verb, c.verb);
    EXPECT_EQ(arguments.helpVerb, c.helpVerb);
  }
}

struct ErrorCase {
  std::vector<std::string> words;
  const char* named;  // what the one-line error must name
};

const ErrorCase ERRORS[] = {
    {{}, "no verb"},
    {{"--json"}, "no verb"},
    {{"flash"}, "flash"},
    {{"list", "info"}, "info"},
    {{"help", "list", "info"}, "info"},
    {{"list", "--frobnicate"}, "--frobnicate"},
    {{"list", "-x"}, "-x"},
    {{"list", "--json=1"}, "--json=1"},
    {{"update", "--yes=no"}, "--yes=no"},
    {{"info", "--yes"}, "--yes"},
    {{"list", "--wait=0"}, "--wait=0"},
    {{"list", "--wait=86401"}, "--wait=86401"},
    {{"list", "--wait=ten"}, "--wait=ten"},
    {{"list", "--wait="}, "--wait="},
    {{"list", "--wait=-5"}, "--wait=-5"},
    {{"list", "--wait=99999999999999999999"}, "--wait=99999999999999999999"},
    {{"info", "--device"}, "--device"},
    {{"info", "--device="}, "--device="},
};

TEST(CliArguments, MalformedCommandLinesGiveOneLineNamingTheArgument) {
  for (const ErrorCase& c : ERRORS) {
    SCOPED_TRACE(testing::PrintToString(c.words));
    CliArguments arguments;
    std::string error;
    EXPECT_FALSE(parseArguments(c.words, arguments, error));
    EXPECT_NE(error.find(c.named), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_EQ(error.rfind("escupdate: ", 0), 0u) << error;
  }
}

TEST(CliArguments, AfterDoubleDashEverythingIsAVerbPosition) {
  CliArguments arguments;
  std::string error;
  EXPECT_FALSE(parseArguments({"--", "--json"}, arguments, error));
  EXPECT_NE(error.find("--json: unknown verb"), std::string::npos) << error;
  EXPECT_TRUE(parseArguments({"--json", "--", "list"}, arguments, error)) << error;
  EXPECT_EQ(arguments.verb, Verb::List);
}

TEST(CliArguments, AParseStartsFromNothingWhateverTheRecordHeld) {
  CliArguments arguments;
  std::string error;
  ASSERT_TRUE(parseArguments({"update", "--yes", "--json", "--device=/dev/x"}, arguments, error));
  ASSERT_TRUE(parseArguments({"list"}, arguments, error));
  EXPECT_FALSE(arguments.assumeYes);
  EXPECT_FALSE(arguments.json);
  EXPECT_FALSE(arguments.deviceGiven);
}

// --simulate: the simulator's own parsers behind the CLI's names.
struct SettingsCase {
  const char* text;
  bool plugged;
  std::uint32_t model;
  std::uint16_t escVersion;
  std::uint32_t bootloader;
  std::uint32_t unitVersion;
  std::uint16_t productId;
  bool wrongMode;
  std::uint16_t escStatus;
  sim::FaultChoice fault;
  std::uint32_t block;
  std::uint32_t status;
  SimulatedClock clock;
  bool plugLater;
  std::uint32_t plugAfterMs;
};

constexpr auto NONE = sim::FaultChoice::None;
constexpr auto REAL = SimulatedClock::Real;
constexpr auto VIRTUAL = SimulatedClock::Virtual;

const SettingsCase SETTINGS[] = {
    {"", true, 0x110FA0D2, 0x0100, 0x0102, 0x01000203, 1, false, 3, NONE, 0, 0, REAL, false, 0},
    {"model=0x0A0640AA,fault=block:500", true, 0x0A0640AA, 0x0100, 0x0102, 0x01000203, 1, false, 3,
     sim::FaultChoice::BlockFails, 500, 7, REAL, false, 0},
    {"model=140fa0fa", true, 0x140FA0FA, 0x0100, 0x0102, 0x01000203, 1, false, 3, NONE, 0, 0, REAL,
     false, 0},
    {"esc-version=none,bootloader-version=2.0.1,unit-version=0x00010500", true, 0x110FA0D2, 0xFFFF,
     0x02000001, 0x00010500, 1, false, 3, NONE, 0, 0, REAL, false, 0},
    {"esc-version=1.1,product-id=2,wrong-mode=1,esc-status=0x2", true, 0x110FA0D2, 0x0101, 0x0102,
     0x01000203, 2, true, 2, NONE, 0, 0, REAL, false, 0},
    {"plugged=0,fault=unplug:3", false, 0x110FA0D2, 0x0100, 0x0102, 0x01000203, 1, false, 3,
     sim::FaultChoice::UnplugAtBlock, 3, 0, REAL, false, 0},
    {"fault=erase-status:0x8000002A,clock=virtual", true, 0x110FA0D2, 0x0100, 0x0102, 0x01000203, 1,
     false, 3, sim::FaultChoice::EraseStatus, 0, 0x8000002A, VIRTUAL, false, 0},
    // plug-after leaves the unit out at start, whatever plugged says.
    {"plugged=1,plug-after=1500", false, 0x110FA0D2, 0x0100, 0x0102, 0x01000203, 1, false, 3, NONE,
     0, 0, REAL, true, 1500},
    {"plug-after=0,fault=no-answer", false, 0x110FA0D2, 0x0100, 0x0102, 0x01000203, 1, false, 3,
     sim::FaultChoice::NoAnswer, 0, 0, REAL, true, 0},
};

TEST(SimulateSettings, ValidListsSetTheUnitAsTheSimulatorVariablesWould) {
  for (const SettingsCase& c : SETTINGS) {
    SCOPED_TRACE(c.text);
    SimulateSettings settings;
    std::string error;
    ASSERT_TRUE(parseSimulateSettings(c.text, settings, error)) << error;
    EXPECT_EQ(settings.unit.plugged, c.plugged);
    EXPECT_EQ(settings.unit.modelCode, c.model);
    EXPECT_EQ(settings.unit.escFirmwareVersion, c.escVersion);
    EXPECT_EQ(settings.unit.bootloaderVersion, c.bootloader);
    EXPECT_EQ(settings.unit.unitFirmwareVersion, c.unitVersion);
    EXPECT_EQ(settings.unit.productId, c.productId);
    EXPECT_EQ(settings.unit.wrongMode, c.wrongMode);
    EXPECT_EQ(settings.unit.escStatus, c.escStatus);
    EXPECT_EQ(settings.unit.fault.choice, c.fault);
    EXPECT_EQ(settings.unit.fault.block, c.block);
    EXPECT_EQ(settings.unit.fault.status, c.status);
    EXPECT_EQ(settings.clock, c.clock);
    EXPECT_EQ(settings.plugLater, c.plugLater);
    EXPECT_EQ(settings.plugAfterMs, c.plugAfterMs);
  }
}

struct SettingsError {
  const char* text;
  const char* named;
};

const SettingsError SETTINGS_ERRORS[] = {
    {"model", "'model'"},
    {"model=", "model="},
    {"model=xyz", "model=xyz"},
    {"model=0x1FFFFFFFF", "model=0x1FFFFFFFF"},
    {"colour=red", "'colour'"},
    {"MODEL=0x1", "'MODEL'"},
    {"model=0x1,model=0x2", "model is given twice"},
    {"model=0x1,", "''"},
    {",model=0x1", "''"},
    {"model=0x1 junk", "model=0x1 junk"},
    {"esc-version=1.2.3", "esc-version=1.2.3"},
    {"esc-version=256.0", "esc-version=256.0"},
    {"bootloader-version=1.2.3.4", "bootloader-version=1.2.3.4"},
    {"product-id=65536", "product-id=65536"},
    {"wrong-mode=2", "wrong-mode=2"},
    {"plugged=yes", "plugged=yes"},
    {"esc-status=-1", "esc-status=-1"},
    {"fault=block", "fault=block"},
    {"fault=block:0", "fault=block:0"},
    {"fault=unplug:2:7", "fault=unplug:2:7"},
    {"fault=melt", "fault=melt"},
    {"clock=fast", "clock=fast"},
    {"plug-after=-1", "plug-after=-1"},
    {"plug-after=3600001", "plug-after=3600001"},
    {"plug-after=1e3", "plug-after=1e3"},
    {"storm=0", "storm=0"},
    {"storm=100001", "storm=100001"},
    {"storm=many", "storm=many"},
    // The unit that stays must come after the storm's last visit.
    {"storm=500,plug-after=500", "plug-after=500"},
    {"plug-after=0,storm=1", "plug-after=0"},
};

struct StormCase {
  const char* text;
  std::uint32_t visits;
  bool plugLater;
  std::uint32_t plugAfterMs;
};

const StormCase STORM_CASES[] = {
    {"", 0, false, 0},
    {"storm=1", 1, false, 0},
    {"storm=500,plug-after=501", 500, true, 501},
    {"plug-after=100001,storm=100000", 100000, true, 100001},
};

TEST(SimulateSettings, AStormLeavesTheUnitOutAtStart) {
  for (const StormCase& c : STORM_CASES) {
    SCOPED_TRACE(c.text);
    SimulateSettings settings;
    std::string error;
    ASSERT_TRUE(parseSimulateSettings(c.text, settings, error)) << error;
    EXPECT_EQ(settings.stormVisits, c.visits);
    EXPECT_EQ(settings.plugLater, c.plugLater);
    EXPECT_EQ(settings.plugAfterMs, c.plugAfterMs);
    EXPECT_EQ(settings.unit.plugged, c.visits == 0);
  }
}

TEST(SimulateSettings, MalformedListsGiveOneLineNamingTheSetting) {
  for (const SettingsError& c : SETTINGS_ERRORS) {
    SCOPED_TRACE(c.text);
    SimulateSettings settings;
    std::string error;
    EXPECT_FALSE(parseSimulateSettings(c.text, settings, error));
    EXPECT_NE(error.find(c.named), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_NE(error.find("--simulate"), std::string::npos) << error;
  }
}

TEST(SimulateSettings, EveryUnitSettingIsOneOfTheSimulatorsVariables) {
  for (const SimulateSetting& setting : SIMULATE_SETTINGS) {
    if (setting.variable == nullptr) continue;
    SCOPED_TRACE(setting.name);
    bool known = false;
    for (const sim::SettingOption& option : sim::SETTING_OPTIONS) {
      known = known || std::string(option.variable) == setting.variable;
    }
    EXPECT_TRUE(known);
  }
}

}  // namespace
}  // namespace esc::cli
