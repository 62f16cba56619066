// escupdate --wait through a hot-plug storm of the simulated source: the unit and another
// HID device come and go a thousand times, some of the unit's visits ending while it is
// being identified, before the unit stays or the wait runs out.
#include <cstdio>

#include "resources/message_ids.h"
#include "tests/cli/cli_session.h"

namespace esc::cli::test {
namespace {

constexpr std::uint32_t STORM_VISITS = 500;
// Every visit is an arrival and a removal.
constexpr std::uint32_t STORM_CHANGES = 2 * STORM_VISITS;
constexpr std::uint64_t STORM_END_MICROSECONDS = (STORM_VISITS + 1) * 1000u;
const std::string STORM = "storm=" + std::to_string(STORM_VISITS);

void printSurvived(const char* run, std::uint32_t changes) {
  std::printf("[  storm   ] %s: %u arrivals and removals survived\n", run,
              static_cast<unsigned>(changes));
}

TEST_F(CliRun, InfoWaitsThroughAStormForTheUnitThatStays) {
  EXPECT_EQ(run({"info", "--wait=30"}, STORM), EXIT_OK);
  const std::uint32_t told = simulation->hotplug.delivered;
  printSurvived("info --wait", told);
  // The storm, then the arrival of the unit that stays: it is found at once.
  EXPECT_EQ(told, STORM_CHANGES + 1);
  EXPECT_EQ(sim::nowMicroseconds(simulation->bus), STORM_END_MICROSECONDS);
  EXPECT_TRUE(contains(recording.out, toUtf8(unit().path) + " (TUNEPUCK, product id 1)\n"));
  EXPECT_TRUE(contains(recording.out, "TUNEPUCK: 1.2.3\nESC-bootloader: 1.2\nESC: 1.0\n"));
  EXPECT_TRUE(contains(recording.out, text(MSG_CLI_READY) + "\n"));
  EXPECT_EQ(recording.err, text(MSG_CLI_WAITING) + "\n");
  // The program asked the unit at every visit that outlasted the arrival: of each six
  // visits, three ended as a request came and one before its answer.
  std::size_t failedWrites = 0;
  std::size_t failedReads = 0;
  for (const sim::LogEntry& entry : simulation->bus.log) {
    failedWrites += entry.kind == sim::EventKind::Write && !entry.succeeded ? 1u : 0u;
    failedReads += entry.kind == sim::EventKind::Read && !entry.succeeded ? 1u : 0u;
  }
  std::size_t droppedAtRequest = 0;
  std::size_t droppedBeforeAnswer = 0;
  for (std::uint32_t visit = 0; visit < STORM_VISITS; ++visit) {
    droppedAtRequest += visit % 6 == 1 || visit % 6 == 3 || visit % 6 == 4 ? 1u : 0u;
    droppedBeforeAnswer += visit % 6 == 2 ? 1u : 0u;
  }
  EXPECT_EQ(failedWrites, droppedAtRequest);
  EXPECT_EQ(failedReads, droppedBeforeAnswer);
  EXPECT_EQ(sim::openHandleCount(simulation->bus), 0u);
}

TEST_F(CliRun, UpdateWaitsThroughAStormAndWritesTheUnitThatStays) {
  EXPECT_EQ(run({"update", "--yes", "--wait=30"}, STORM), EXIT_OK);
  printSurvived("update --yes --wait", simulation->hotplug.delivered);
  EXPECT_EQ(simulation->hotplug.delivered, STORM_CHANGES + 1);
  EXPECT_EQ(simulationSummary(*simulation),
            "simulated unit: 1 erase(s), 1881 blocks and 90256 bytes written; its flash equals "
            "image 157");
  EXPECT_TRUE(contains(recording.out, text(MSG_UPDATE_SUCCEEDED) + "\n"));
  EXPECT_EQ(sim::nowMicroseconds(simulation->bus), STORM_END_MICROSECONDS + 42700000u);
}

TEST_F(CliRun, AStormThatLeavesNoUnitEndsTheWaitWithNoUnit) {
  EXPECT_EQ(run({"info", "--wait=2"}, STORM + ",plug-after=10000"), EXIT_NO_UNIT);
  printSurvived("info --wait=2, no unit stays", simulation->hotplug.delivered);
  EXPECT_EQ(simulation->hotplug.delivered, STORM_CHANGES);
  EXPECT_GE(sim::nowMicroseconds(simulation->bus), 2000000u);
  EXPECT_LE(sim::nowMicroseconds(simulation->bus), 2500000u);
  EXPECT_FALSE(contains(recording.out, toUtf8(unit().path)));
  EXPECT_TRUE(contains(recording.out, "0.0.0\n"));
  EXPECT_TRUE(contains(recording.err, text(MSG_NO_UNIT)));
  EXPECT_EQ(sim::openHandleCount(simulation->bus), 0u);
}

TEST_F(CliRun, UpdateThroughAStormThatLeavesNoUnitWritesNothing) {
  EXPECT_EQ(run({"update", "--yes", "--json", "--wait=1"}, STORM + ",plug-after=5000"),
            EXIT_NO_UNIT);
  EXPECT_TRUE(contains(recording.out, "\"result\":\"no-unit\""));
  EXPECT_EQ(unit().bootloader.erases, 0u);
  EXPECT_FALSE(sent(CMD_SYSTEM_LOCK));
}

// The same rule without a storm: a unit that stays but fails one identification is asked
// again at the next look, instead of ending the wait with "no unit".
TEST_F(CliRun, WaitAsksAgainAUnitWhoseIdentificationFailed) {
  EXPECT_EQ(run({"info", "--wait=5"}, "fault=ident-lost"), EXIT_OK);
  EXPECT_TRUE(contains(recording.out, text(MSG_CLI_READY) + "\n"));
  EXPECT_EQ(sim::nowMicroseconds(simulation->bus), 500000u);
  recording = Recording{};
  EXPECT_EQ(run({"update", "--yes", "--wait=1"}, "fault=ident-lost,esc-status=0"), EXIT_NO_UNIT);
  EXPECT_TRUE(contains(recording.err, text(MSG_NO_UPDATABLE_ESC)));
}

// The source on its own, with nobody asking the unit anything: each visit is one arrival
// and one removal, told in order, and steps at one instant are told one by one.
TEST(SimulatedStorm, EveryVisitIsOneArrivalAndOneRemoval) {
  SimulateSettings settings;
  std::string error;
  ASSERT_TRUE(parseSimulateSettings("storm=7,clock=virtual", settings, error)) << error;
  Simulation simulation;
  setUpSimulation(simulation, settings);
  EXPECT_FALSE(simulation.bus.devices[simulation.unit].plugged);
  const HotplugSource source = simulatedHotplugSource(simulation.hotplug);
  using C = HotplugChange;
  struct Told {
    C change;
    std::uint64_t atMicroseconds;
    bool unitPlugged;
    bool otherPlugged;
  };
  const Told expected[] = {
      {C::Arrival, 1000, false, true},  {C::Removal, 1000, false, true},
      {C::Arrival, 2000, true, true},   {C::Removal, 2500, false, true},
      {C::Arrival, 3000, true, true},   {C::Removal, 3500, false, true},
      {C::Arrival, 4000, true, true},   {C::Removal, 4500, false, true},
      {C::Arrival, 5000, true, true},   {C::Removal, 5500, false, true},
      {C::Removal, 6000, false, false}, {C::Arrival, 6500, false, true},
      {C::Arrival, 7000, false, true},  {C::Removal, 7000, false, true},
      {C::Arrival, 8000, true, true},   {C::None, 508000, true, true},
  };
  for (const Told& told : expected) {
    SCOPED_TRACE(told.atMicroseconds);
    EXPECT_EQ(source.waitForChange(source.context, 500), told.change);
    EXPECT_EQ(sim::nowMicroseconds(simulation.bus), told.atMicroseconds);
    EXPECT_EQ(simulation.bus.devices[simulation.unit].plugged, told.unitPlugged);
    EXPECT_EQ(simulation.bus.devices[simulation.otherDevice].plugged, told.otherPlugged);
  }
  // Drops whose request never came are withdrawn with their visit.
  EXPECT_TRUE(simulation.bus.faults.empty());
}

TEST(SimulatedStorm, AUnitDroppingOutAtARequestIsToldAsARemoval) {
  SimulateSettings settings;
  std::string error;
  ASSERT_TRUE(parseSimulateSettings("storm=2,clock=virtual", settings, error)) << error;
  Simulation simulation;
  setUpSimulation(simulation, settings);
  sim::install(simulation.bus);
  const HotplugSource source = simulatedHotplugSource(simulation.hotplug);
  ASSERT_EQ(source.waitForChange(source.context, 500), HotplugChange::Arrival);
  ASSERT_EQ(source.waitForChange(source.context, 500), HotplugChange::Removal);
  // The second visit drops out as its first request comes.
  ASSERT_EQ(source.waitForChange(source.context, 500), HotplugChange::Arrival);
  HidLink link;
  EXPECT_EQ(open(link), LINK_WRITE_FAILED);
  close(link);
  EXPECT_EQ(source.waitForChange(source.context, 500), HotplugChange::Removal);
  EXPECT_EQ(sim::nowMicroseconds(simulation.bus), 2000u);
  // Its own removal half-way through the visit changes nothing more.
  EXPECT_EQ(source.waitForChange(source.context, 500), HotplugChange::None);
  EXPECT_EQ(sim::nowMicroseconds(simulation.bus), 2500u);
  setHidPlatform(nullptr);
}

}  // namespace
}  // namespace esc::cli::test
