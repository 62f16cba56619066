// escupdate list and info on the emulated unit, and the choice of a unit with --device.
#include <nlohmann/json.hpp>

#include "resources/message_ids.h"
#include "tests/cli/cli_session.h"
#include "ui/cli/unit_discovery.h"

namespace esc::cli::test {
namespace {

using nlohmann::json;

TEST_F(CliRun, ListShowsTheUnitButNotTheOtherDevice) {
  EXPECT_EQ(run({"list"}), EXIT_OK);
  const std::string path = toUtf8(unit().path);
  EXPECT_EQ(recording.out, path + " (TUNEPUCK, product id 1)\n");
  // Nothing is sent to a unit that is only listed.
  EXPECT_TRUE(sim::entriesOf(simulation->bus, sim::EventKind::Write).empty());
  EXPECT_EQ(sim::openHandleCount(simulation->bus), 0u);
}

TEST_F(CliRun, ListJsonIsOneDocument) {
  EXPECT_EQ(run({"list", "--json"}, "product-id=2"), EXIT_OK);
  const json list = json::parse(recording.out);
  ASSERT_EQ(list["units"].size(), 1u);
  EXPECT_EQ(list["units"][0]["productId"], 2);
  EXPECT_EQ(list["units"][0]["label"], "CONF-POD");
  EXPECT_EQ(list["units"][0]["path"], toUtf8(unit().path));
}

TEST_F(CliRun, ListWithoutUnitsExitsWithNoUnit) {
  EXPECT_EQ(run({"list", "--json"}, "plugged=0"), EXIT_NO_UNIT);
  EXPECT_EQ(json::parse(recording.out), (json{{"units", json::array()}}));
}

TEST_F(CliRun, InfoShowsTheWindowsRowsClassificationImageAndReadyText) {
  EXPECT_EQ(run({"info"}, "unit-version=0x00010500,bootloader-version=2.3,esc-version=none"),
            EXIT_OK);
  const std::string expected = toUtf8(unit().path) +
                               " (TUNEPUCK, product id 1)\n"
                               "TUNEPUCK: 1.5\nESC-bootloader: 2.3\nESC: ----------\n"
                               "Model code 0x110fa0d2: supported, type 250, rating 210, 17 cells\n"
                               "Firmware image 157, 90256 bytes\n\n" +
                               text(MSG_CLI_READY) + "\n";
  EXPECT_EQ(recording.out, expected);
  EXPECT_EQ(sim::openHandleCount(simulation->bus), 0u);
}

struct InfoCase {
  const char* settings;
  const char* outcome;
  bool rowsEnabled;
  json classification;
  json image;
  json heading;
};

const InfoCase INFO[] = {
    {"model=0x140FA0FA",
     "supported",
     true,
     {{"result", "supported"},
      {"type", 250},
      {"rating", 250},
      {"cells", 20},
      {"targetVersion", "1.1"}},
     {{"id", 172}, {"present", true}, {"size", 90256}},
     nullptr},
    {"model=0x0A0640AA",
     "accepted-without-target",
     true,
     {{"result", "accepted-without-target"}},
     nullptr,
     nullptr},
    {"model=0x12345678",
     "incompatible",
     false,
     {{"result", "incompatible"}},
     nullptr,
     {{"id", MSG_INCOMPATIBLE_HEADING}, {"text", messageText(MSG_INCOMPATIBLE_HEADING)}}},
    {"wrong-mode=1",
     "wrong-mode",
     false,
     nullptr,
     nullptr,
     {{"id", MSG_WRONG_MODE}, {"text", messageText(MSG_WRONG_MODE)}}},
    {"esc-status=0",
     "no-updatable-esc",
     false,
     nullptr,
     nullptr,
     {{"id", MSG_NO_UPDATABLE_ESC}, {"text", messageText(MSG_NO_UPDATABLE_ESC)}}},
};

TEST_F(CliRun, InfoJsonTellsEachOutcomeAsTheWindowWould) {
  for (const InfoCase& c : INFO) {
    SCOPED_TRACE(c.settings);
    recording = Recording{};
    EXPECT_EQ(run({"info", "--json"}, c.settings), EXIT_OK);
    const json info = json::parse(recording.out);
    EXPECT_EQ(info["outcome"], c.outcome);
    EXPECT_EQ(info["classification"], c.classification);
    EXPECT_EQ(info["image"], c.image);
    EXPECT_EQ(info["unit"]["productId"], 1);
    ASSERT_EQ(info["rows"].size(), 3u);
    for (const json& row : info["rows"]) EXPECT_EQ(row["enabled"], c.rowsEnabled);
    // A unit the window gives up shows the closed rows.
    EXPECT_EQ(info["rows"][0]["version"], c.rowsEnabled ? "1.2.3" : "0.0.0");
    EXPECT_EQ(info["rows"][0]["label"], c.rowsEnabled ? "TUNEPUCK" : "programming unit");
    if (c.heading.is_null()) {
      EXPECT_FALSE(info.contains("heading"));
    } else {
      EXPECT_EQ(info["heading"], c.heading);
    }
  }
}

TEST_F(CliRun, InfoWithoutUnitShowsTheNoUnitPanel) {
  EXPECT_EQ(run({"info", "--json"}, "plugged=0"), EXIT_NO_UNIT);
  const json info = json::parse(recording.out);
  EXPECT_EQ(info["unit"], nullptr);
  EXPECT_EQ(info["outcome"], "no-unit");
  EXPECT_EQ(info["status"], text(MSG_NO_UNIT) + "\n\n" + text(MSG_CLI_INSTRUCTIONS));
}

TEST_F(CliRun, InfoWithTheProductLoaderOfAPlaceholderBuildSaysTheImageIsMissing) {
  EXPECT_EQ(run({"info"}, "", noImage), EXIT_OK);
  EXPECT_TRUE(contains(recording.out, "Firmware image 157: missing from this updater\n"));
}

TEST_F(CliRun, DeviceNamesTheUnitToUseWithoutRegardToCaseOnWindowsPaths) {
  std::string path = toUtf8(sim::makeSupportedUnit().path);
  for (char& c : path) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(run({"info", "--device", path}), EXIT_OK);
  EXPECT_TRUE(contains(recording.out, text(MSG_CLI_READY)));
}

TEST_F(CliRun, DeviceThatIsNoUnitOrNoDeviceIsAUsageErrorNamingIt) {
  EXPECT_EQ(run({"update", "--yes", "--device", "/dev/hidraw99"}), EXIT_USAGE);
  EXPECT_EQ(recording.err,
            "escupdate: --device /dev/hidraw99: no HID device (hidraw node) has this path\n");
  recording = Recording{};
  run({"list"});
  const std::string other = toUtf8(simulation->bus.devices[simulation->otherDevice].path);
  recording = Recording{};
  EXPECT_EQ(run({"update", "--yes", "--device=" + other}), EXIT_USAGE);
  EXPECT_EQ(recording.err,
            "escupdate: --device " + other + ": this HID device is no programming unit\n");
  EXPECT_TRUE(sim::entriesOf(simulation->bus, sim::EventKind::Write).empty());
}

TEST_F(CliRun, DeviceWithWaitWaitsForTheUnitAtThatPath) {
  const std::string path = toUtf8(sim::makeSupportedUnit().path);
  EXPECT_EQ(run({"info", "--wait=5", "--device", path}, "plug-after=1000"), EXIT_OK);
  EXPECT_TRUE(contains(recording.out, text(MSG_CLI_READY)));
}

DeviceCheck checkPath(const HidPlatform& platform, const std::u16string& path) {
  UnitProblem problem = UnitProblem::InUse;
  const DeviceCheck check = checkDevicePath(platform, path, false, nullptr, problem);
  EXPECT_EQ(problem, UnitProblem::None);
  return check;
}

TEST(UnitDiscovery, TheFilteredPlatformListsOnlyTheNamedDevice) {
  sim::Bus bus;
  sim::addDevice(bus, sim::makeOtherDevice(0x1234, 1, u"first"));
  sim::Device second = sim::makeSupportedUnit();
  second.path = u"second";
  sim::addDevice(bus, second);
  sim::Device third = sim::makeSupportedUnit();
  third.path = u"third";
  sim::addDevice(bus, third);
  std::vector<UnitEntry> units;
  ASSERT_TRUE(findUnits(bus.platform, units));
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(units[0].path, u"second");
  EXPECT_EQ(units[1].path, u"third");

  DeviceFilter filter{&bus.platform, u"THIRD", true};
  const HidPlatform only = restrictToDevice(filter);
  setHidPlatform(&only);
  HidLink link;
  EXPECT_EQ(open(link), LINK_OK);
  EXPECT_EQ(std::u16string(link.devicePath.get()), u"third");
  close(link);
  filter.ignoreCase = false;
  EXPECT_EQ(open(link), LINK_NO_UNIT);
  setHidPlatform(nullptr);

  EXPECT_EQ(checkPath(bus.platform, u"first"), DeviceCheck::NotAUnit);
  EXPECT_EQ(checkPath(bus.platform, u"second"), DeviceCheck::Unit);
  EXPECT_EQ(checkPath(bus.platform, u"fourth"), DeviceCheck::NoDevice);
  bus.listUnavailable = true;
  EXPECT_EQ(checkPath(bus.platform, u"second"), DeviceCheck::ListUnavailable);
}

}  // namespace
}  // namespace esc::cli::test
