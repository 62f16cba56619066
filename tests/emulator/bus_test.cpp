// The simulated bus: where faults strike, plugging in and out, its clocks and its log.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "device/bootloader.h"
#include "emulator/sim_bus.h"
#include "tests/device/link_session.h"

namespace esc::test {
namespace {

using sim::EventKind;
using sim::FaultKind;

std::uint32_t lastError() { return hidPlatform().lastError(hidPlatform().context); }

TEST(Faults, AnExchangeNumberStrikesThatExchangeOnly) {
  OpenSession session;
  const std::uint32_t next = session.bus.exchanges + 1;
  session.bus.faults.push_back(sim::atExchange(FaultKind::WriteFails, next + 1));

  EXPECT_EQ(setSystemLock(session.link, LockState::Set), LINK_OK);
  EXPECT_EQ(setSystemLock(session.link, LockState::Set), LINK_WRITE_FAILED);
  EXPECT_EQ(setSystemLock(session.link, LockState::Set), LINK_OK);
}

TEST(Faults, ACommandAloneStrikesEveryRequestOfItAndAnOccurrenceOnlyThatOne) {
  OpenSession session;
  const std::uint8_t data[48] = {};
  session.bus.faults.push_back(sim::onCommand(FaultKind::ReadFails, CMD_SET_ADDRESS));
  sim::Fault third = sim::atBlock(FaultKind::ErrorStatus, 3);
  third.status = 0x1234;
  session.bus.faults.push_back(third);

  EXPECT_EQ(setFlashAddress(session.link), LINK_READ_FAILED);
  EXPECT_EQ(setFlashAddress(session.link), LINK_READ_FAILED);
  std::vector<std::int32_t> results;
  for (int block = 1; block <= 4; ++block) {
    results.push_back(writeBlock(session.link, data, 12));
  }
  // The unit itself refuses these blocks (no erase), with its own status.
  const auto own = static_cast<std::int32_t>(sim::UNIT_STATUS_NOT_UNLOCKED);
  EXPECT_EQ(results, (std::vector<std::int32_t>{own, own, 0x1234, own}));
}

TEST(Faults, AnErrorStatusAnswerCarriesTheMarkerAndTheStatusLittleEndian) {
  OpenSession session;
  sim::Fault fault = sim::onCommand(FaultKind::ErrorStatus, CMD_GET_UNIT_INFO);
  fault.status = 0xA1B2C3D4;
  session.bus.faults.push_back(fault);
  HidReport answer{};

  ASSERT_EQ(exchange(session.link, reportOf(recordOf({1, CMD_GET_UNIT_INFO})), answer), LINK_OK);

  EXPECT_EQ(std::vector<std::uint8_t>(answer.bytes, answer.bytes + REPORT_SIZE),
            recordOf({0x02, 0xFF, 0x04, 0x00, 0xD4, 0xC3, 0xB2, 0xA1}));
}

TEST(Faults, AShapedAnswerLeavesTheUnitActingOnTheRequest) {
  OpenSession session;
  sim::Fault refusal = sim::onCommand(FaultKind::AnswerByte3, CMD_WRITE_PROTECT);
  refusal.byte3 = 0x05;
  session.bus.faults.push_back(refusal);
  ASSERT_EQ(setSystemLock(session.link, LockState::Set), LINK_OK);

  EXPECT_EQ(setWriteProtection(session.link, WriteProtection::Unlock), ERROR_FUNCTION_FAILED);
  EXPECT_FALSE(session.device().bootloader.writeProtected);
}

TEST(Faults, ALostRequestLeavesTheUnitUnchanged) {
  for (const FaultKind kind : {FaultKind::WriteFails, FaultKind::WriteTimesOut, FaultKind::NoAnswer,
                               FaultKind::UnplugBeforeWrite}) {
    SCOPED_TRACE(static_cast<int>(kind));
    OpenSession session;
    const std::uint32_t received = session.device().requests;
    session.bus.faults.push_back(sim::onCommand(kind, CMD_SYSTEM_LOCK));

    EXPECT_NE(setSystemLock(session.link, LockState::Set), LINK_OK);

    EXPECT_FALSE(session.device().bootloader.systemLocked);
    EXPECT_EQ(session.device().requests, received + (kind == FaultKind::NoAnswer ? 1u : 0u));
  }
}

TEST(Plugging, AnUnpluggedUnitLeavesTheListAndItsHandlesStayDeadAfterAReplug) {
  OpenSession session;
  const DeviceHandle old = session.link.deviceHandle;
  ASSERT_EQ(setSystemLock(session.link, LockState::Set), LINK_OK);
  session.device().bootloader.flash[0] = 0x42;

  sim::unplug(session.bus, session.unit);
  EXPECT_TRUE(sim::pluggedPaths(session.bus).empty());
  EXPECT_EQ(sim::findDevice(session.bus, session.device().path.c_str()), sim::NO_DEVICE);
  sim::plug(session.bus, session.unit);

  EXPECT_EQ(setSystemLock(session.link, LockState::Reset), LINK_WRITE_FAILED);
  EXPECT_EQ(lastError(), sim::SIM_ERROR_DEVICE_NOT_CONNECTED);
  ASSERT_EQ(open(session.link), LINK_OK);
  EXPECT_NE(session.link.deviceHandle, old);
  EXPECT_FALSE(session.device().bootloader.systemLocked);
  EXPECT_EQ(session.device().bootloader.flash[0], 0x42);
}

TEST(Plugging, PathsAreListedInOrderAndFoundWhateverTheirLetterCase) {
  Session session;
  sim::addDevice(session.bus, sim::makeOtherDevice(0x046D, 0xC077, u"\\\\?\\HID#Mouse"));
  const std::size_t unit = sim::addDevice(session.bus, sim::makeSupportedUnit());
  sim::addDevice(session.bus, sim::makeOtherDevice(0x046D, 0xC31C, u"\\\\?\\hid#keyboard"));
  sim::unplug(session.bus, 2);

  EXPECT_EQ(sim::pluggedPaths(session.bus),
            (std::vector<std::u16string>{u"\\\\?\\HID#Mouse", session.bus.devices[unit].path}));
  EXPECT_EQ(sim::findDevice(session.bus, u"\\\\?\\hid#mouse"), 0u);
  EXPECT_EQ(sim::findDevice(session.bus, u"\\\\?\\hid#keyboard"), sim::NO_DEVICE);
  EXPECT_EQ(sim::findDevice(session.bus, u"\\\\?\\hid#mous"), sim::NO_DEVICE);
  EXPECT_EQ(sim::findDevice(session.bus, nullptr), sim::NO_DEVICE);
}

TEST(VirtualClock, WaitsAdvanceItAtOnceByExactlyTheirLength) {
  sim::Bus bus;
  const HidPlatform& platform = bus.platform;
  platform.sleep(platform.context, 20);
  EXPECT_EQ(platform.nowMicroseconds(platform.context), 20'000u);
  platform.sleepUntil(platform.context, 4'020'500);
  EXPECT_EQ(platform.nowMicroseconds(platform.context), 4'020'500u);
  platform.sleepUntil(platform.context, 1'000);
  EXPECT_EQ(platform.nowMicroseconds(platform.context), 4'020'500u);

  const auto sleeps = sim::entriesOf(bus, EventKind::Sleep);
  ASSERT_EQ(sleeps.size(), 3u);
  EXPECT_EQ(sleeps[1]->timeMicroseconds, 20'000u);
  EXPECT_EQ(sleeps[1]->sleptMicroseconds, 4'000'500u);
  EXPECT_EQ(sleeps[2]->sleptMicroseconds, 0u);
}

struct IdleProbe {
  sim::Bus* bus;
  std::size_t unplugDevice;
  int calls;
};

void onIdle(void* context) {
  auto* probe = static_cast<IdleProbe*>(context);
  ++probe->calls;
  if (probe->unplugDevice != sim::NO_DEVICE) {
    sim::unplug(*probe->bus, probe->unplugDevice);
  }
}

TEST(RealClock, ASleepTakesRealTimeAndKeepsCallingTheIdleHook) {
  sim::Bus bus;
  IdleProbe probe{&bus, sim::NO_DEVICE, 0};
  sim::useRealClock(bus, onIdle, &probe);
  const auto start = std::chrono::steady_clock::now();

  bus.platform.sleep(bus.platform.context, 30);

  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
  EXPECT_GE(probe.calls, 1);
  EXPECT_GE(sim::nowMicroseconds(bus), 30'000u);
}

// The demo program pulls the unit from its window while the link waits for an answer.
TEST(RealClock, AWaitingReadEndsAsSoonAsTheUnitIsPulled) {
  Session session;
  const std::size_t unit = sim::addDevice(session.bus, sim::makeSupportedUnit());
  ASSERT_EQ(open(session.link), LINK_OK);
  IdleProbe probe{&session.bus, unit, 0};
  sim::useRealClock(session.bus, onIdle, &probe);
  session.bus.faults.push_back(sim::onCommand(FaultKind::NoAnswer, CMD_SYSTEM_LOCK));
  const auto start = std::chrono::steady_clock::now();

  EXPECT_EQ(setSystemLock(session.link, LockState::Set), LINK_READ_FAILED);

  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(lastError(), sim::SIM_ERROR_DEVICE_NOT_CONNECTED);
}

TEST(Log, EveryReportIsLoggedWithItsDirectionExchangeAndTime) {
  Session session;
  sim::addDevice(session.bus, sim::makeSupportedUnit());
  session.bus.clock.virtualMicroseconds = 777;
  ASSERT_EQ(open(session.link), LINK_OK);

  std::vector<EventKind> kinds;
  for (const sim::LogEntry& entry : session.bus.log) {
    kinds.push_back(entry.kind);
    EXPECT_EQ(entry.timeMicroseconds, 777u);
  }
  // Each request is preceded by dropping whatever input was already waiting.
  EXPECT_EQ(kinds, (std::vector<EventKind>{EventKind::Enumerate, EventKind::Open,
                                           EventKind::Discard, EventKind::Write, EventKind::Read,
                                           EventKind::Discard, EventKind::Write, EventKind::Read,
                                           EventKind::Discard, EventKind::Write, EventKind::Read}));
  const auto reads = sim::entriesOf(session.bus, EventKind::Read);
  for (std::size_t i = 0; i < reads.size(); ++i) {
    EXPECT_EQ(reads[i]->exchange, i + 1);
    ASSERT_EQ(reads[i]->bytes.size(), REPORT_SIZE);
    EXPECT_EQ(reads[i]->bytes[0], INPUT_REPORT_ID);
  }
  EXPECT_EQ(reads[2]->bytes[4], 0xD2);  // the model code's low byte
}

}  // namespace
}  // namespace esc::test
