// One request and one answer: what reaches the unit, what comes back, and what a failed
// transfer leaves behind.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "device/bootloader.h"
#include "device/report_layout.h"
#include "tests/device/link_session.h"

namespace esc::test {
namespace {

using sim::EventKind;
using sim::FaultKind;

struct Operation {
  const char* name;
  std::function<std::int32_t(HidLink&)> run;
};

const std::uint8_t BLOCK[56] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};

const Operation OPERATIONS[] = {
    {"exchange",
     [](HidLink& link) {
       HidReport answer{};
       return exchange(link, reportOf(recordOf({1, CMD_GET_UNIT_INFO})), answer);
     }},
    {"identify", [](HidLink& link) { return identify(link); }},
    {"lock set", [](HidLink& link) { return setSystemLock(link, LockState::Set); }},
    {"lock reset", [](HidLink& link) { return setSystemLock(link, LockState::Reset); }},
    {"unlock", [](HidLink& link) { return setWriteProtection(link, WriteProtection::Unlock); }},
    {"restore", [](HidLink& link) { return setWriteProtection(link, WriteProtection::Restore); }},
    {"erase", [](HidLink& link) { return eraseFirmware(link); }},
    {"address", [](HidLink& link) { return setFlashAddress(link); }},
    {"block of 0 words", [](HidLink& link) { return writeBlock(link, BLOCK, 0); }},
    {"block of 12 words", [](HidLink& link) { return writeBlock(link, BLOCK, 12); }},
    {"block of 14 words", [](HidLink& link) { return writeBlock(link, BLOCK, 14); }},
};

TEST(ClosedLink, EveryOperationReturnsMinusOneAndSendsNothing) {
  for (const Operation& operation : OPERATIONS) {
    SCOPED_TRACE(operation.name);
    OpenSession session;
    close(session.link);
    session.bus.log.clear();

    EXPECT_EQ(operation.run(session.link), LINK_UNAVAILABLE);

    EXPECT_TRUE(session.bus.log.empty());
    EXPECT_FALSE(isOpen(session.link));
  }
}

TEST(ClosedLink, ANeverOpenedLinkSendsNothingEither) {
  for (const Operation& operation : OPERATIONS) {
    SCOPED_TRACE(operation.name);
    Session session;
    sim::addDevice(session.bus, sim::makeSupportedUnit());

    EXPECT_EQ(operation.run(session.link), LINK_UNAVAILABLE);

    EXPECT_TRUE(session.bus.log.empty());
  }
}

// A silent or stuck unit must not hang the program: the transfer gives up after its
// timeout on the platform's clock, and the platform's error stays for the caller.
TEST(Timeouts, AnAnswerThatNeverComesFailsTheReadAfterTheReadTimeout) {
  OpenSession session;
  session.bus.faults.push_back(sim::onCommand(FaultKind::NoAnswer, CMD_SET_ADDRESS));
  const std::uint64_t before = sim::nowMicroseconds(session.bus);

  EXPECT_EQ(setFlashAddress(session.link), LINK_READ_FAILED);

  EXPECT_EQ(sim::nowMicroseconds(session.bus) - before, std::uint64_t{LINK_READ_TIMEOUT_MS} * 1000);
  EXPECT_EQ(hidPlatform().lastError(hidPlatform().context), sim::SIM_ERROR_TIMEOUT);
  EXPECT_TRUE(isOpen(session.link));
}

TEST(Timeouts, AWriteThatNeverCompletesFailsAfterTheWriteTimeoutWithoutReading) {
  OpenSession session;
  session.bus.faults.push_back(sim::onCommand(FaultKind::WriteTimesOut, CMD_SET_ADDRESS));
  const std::uint64_t before = sim::nowMicroseconds(session.bus);

  EXPECT_EQ(setFlashAddress(session.link), LINK_WRITE_FAILED);

  EXPECT_EQ(sim::nowMicroseconds(session.bus) - before,
            std::uint64_t{LINK_WRITE_TIMEOUT_MS} * 1000);
  EXPECT_EQ(hidPlatform().lastError(hidPlatform().context), sim::SIM_ERROR_TIMEOUT);
  EXPECT_TRUE(sim::entriesOf(session.bus, EventKind::Read).empty());
}

TEST(TransferFailures, EachCommandReportsMinusTwoOrMinusThreeAndKeepsTheLinkOpen) {
  struct Case {
    FaultKind fault;
    std::int32_t result;
    std::uint32_t error;
    std::size_t reads;
  };
  const Case cases[] = {
      {FaultKind::WriteFails, LINK_WRITE_FAILED, sim::SIM_ERROR_GEN_FAILURE, 0},
      {FaultKind::UnplugBeforeWrite, LINK_WRITE_FAILED, sim::SIM_ERROR_DEVICE_NOT_CONNECTED, 0},
      {FaultKind::ReadFails, LINK_READ_FAILED, sim::SIM_ERROR_GEN_FAILURE, 1},
      {FaultKind::UnplugBeforeRead, LINK_READ_FAILED, sim::SIM_ERROR_DEVICE_NOT_CONNECTED, 1},
  };
  for (const Operation& operation : OPERATIONS) {
    if (std::string(operation.name) == "identify") {
      continue;  // its failures are covered with identification
    }
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << operation.name << ", fault " << static_cast<int>(c.fault));
      OpenSession session;
      session.bus.faults.push_back(sim::atExchange(c.fault, session.bus.exchanges + 1));

      EXPECT_EQ(operation.run(session.link), c.result);

      EXPECT_EQ(hidPlatform().lastError(hidPlatform().context), c.error);
      EXPECT_EQ(sim::entriesOf(session.bus, EventKind::Read).size(), c.reads);
      EXPECT_TRUE(isOpen(session.link));
    }
  }
}

TEST(TransferFailures, AFailedReadLeavesOnlyTheClearedAnswerRecord) {
  OpenSession session;
  session.bus.faults.push_back(sim::atExchange(FaultKind::ReadFails, session.bus.exchanges + 1));
  HidReport answer;
  for (std::uint8_t& byte : answer.bytes) {
    byte = 0xAA;
  }

  EXPECT_EQ(exchange(session.link, reportOf(recordOf({1, CMD_GET_UNIT_INFO})), answer),
            LINK_READ_FAILED);

  EXPECT_EQ(std::vector<std::uint8_t>(answer.bytes, answer.bytes + REPORT_SIZE), recordOf({0x02}));
}

// A platform read that delivers less than the declared report is a failed read, and none
// of the bytes that did arrive are taken as an answer.
TEST(TransferFailures, AShortAnswerIsAFailedReadAndNoneOfItIsTaken) {
  const std::uint16_t declared[] = {60, 64};
  for (const std::uint16_t length : declared) {
    for (const std::uint32_t delivered : {0u, 4u, 30u, 59u, std::uint32_t{length} - 1}) {
      SCOPED_TRACE(testing::Message() << length << " declared, " << delivered << " arrived");
      Session session;
      sim::Device unit = sim::makeSupportedUnit();
      unit.inputReportLength = length;
      sim::addDevice(session.bus, unit);
      ASSERT_EQ(open(session.link), LINK_OK);
      sim::Fault fault = sim::onCommand(FaultKind::ShortAnswer, CMD_SYSTEM_LOCK);
      fault.length = delivered;
      session.bus.faults.push_back(fault);

      // The unit's whole answer would be a success (byte 3 = 0x01).
      EXPECT_EQ(setSystemLock(session.link, LockState::Set), LINK_READ_FAILED);
      HidReport answer;
      EXPECT_EQ(exchange(session.link, reportOf(recordOf({1, CMD_SYSTEM_LOCK, 1, 1})), answer),
                LINK_READ_FAILED);
      EXPECT_EQ(std::vector<std::uint8_t>(answer.bytes, answer.bytes + REPORT_SIZE),
                recordOf({0x02}));
      EXPECT_EQ(hidPlatform().lastError(hidPlatform().context), sim::SIM_ERROR_INVALID_DATA);
    }
  }
}

TEST(Framing, TheRequestAlwaysCarriesTheOutputReportId) {
  OpenSession session;
  HidReport answer{};
  ASSERT_EQ(exchange(session.link, reportOf(recordOf({0x00, CMD_GET_UNIT_INFO})), answer), LINK_OK);
  EXPECT_EQ(writtenRequests(session.bus).at(0), recordOf({0x01, CMD_GET_UNIT_INFO}));
}

TEST(Framing, RequestAndAnswerMayShareOneRecord) {
  OpenSession session;
  HidReport record = reportOf(recordOf({1, CMD_GET_UNIT_INFO}));

  ASSERT_EQ(exchange(session.link, record, record), LINK_OK);

  EXPECT_EQ(writtenRequests(session.bus).at(0), recordOf({1, CMD_GET_UNIT_INFO}));
  EXPECT_EQ(record.bytes[0], INPUT_REPORT_ID);
  EXPECT_EQ(record.bytes[4], ESC_STATUS_READY);
}

// A report waiting before a request (the late answer to a request whose read gave up, or
// one the unit sent unasked) would otherwise be taken for the next answer and shift every
// answer after it by one.
TEST(StaleInput, WhatWaitsBeforeARequestIsDroppedSoTheAnswerBelongsToIt) {
  sim::Fault stray = sim::onCommand(FaultKind::StrayReport, CMD_SYSTEM_LOCK, 1);
  stray.raw = reportOf(recordOf({0x02, CMD_SYSTEM_LOCK, 0, 1}));
  const struct {
    const char* name;
    sim::Fault fault;
    std::int32_t firstResult;
  } cases[] = {
      {"late answer", sim::onCommand(FaultKind::LateAnswer, CMD_SYSTEM_LOCK, 1), LINK_READ_FAILED},
      {"stray report", stray, LINK_OK},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OpenSession session;
    session.bus.faults.push_back(c.fault);
    EXPECT_EQ(setSystemLock(session.link, LockState::Set), c.firstResult);

    HidReport answer{};
    ASSERT_EQ(exchange(session.link, reportOf(recordOf({1, CMD_GET_UNIT_INFO})), answer), LINK_OK);

    EXPECT_EQ(answer.bytes[1], CMD_GET_UNIT_INFO);
    EXPECT_EQ(answer.bytes[4], ESC_STATUS_READY);
    const auto discards = sim::entriesOf(session.bus, EventKind::Discard);
    ASSERT_EQ(discards.size(), 2u);
    EXPECT_EQ(discards[1]->discarded, 1u);
    EXPECT_TRUE(session.device().pendingAnswers.empty());
  }
}

TEST(Unplugging, TheLinkStaysOpenAndEveryLaterCommandFailsUntilItIsReopened) {
  OpenSession session;
  std::uint8_t data[48] = {};
  ASSERT_EQ(setSystemLock(session.link, LockState::Set), LINK_OK);
  ASSERT_EQ(setWriteProtection(session.link, WriteProtection::Unlock), LINK_OK);
  ASSERT_EQ(eraseFirmware(session.link), LINK_OK);
  ASSERT_EQ(setFlashAddress(session.link), LINK_OK);
  session.bus.faults.push_back(sim::atBlock(FaultKind::UnplugBeforeRead, 3));

  EXPECT_EQ(writeBlock(session.link, data, 12), LINK_OK);
  EXPECT_EQ(writeBlock(session.link, data, 12), LINK_OK);
  EXPECT_EQ(writeBlock(session.link, data, 12), LINK_READ_FAILED);
  EXPECT_EQ(hidPlatform().lastError(hidPlatform().context), sim::SIM_ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_TRUE(isOpen(session.link));

  EXPECT_EQ(writeBlock(session.link, data, 12), LINK_WRITE_FAILED);
  EXPECT_EQ(setWriteProtection(session.link, WriteProtection::Restore), LINK_WRITE_FAILED);
  EXPECT_EQ(hidPlatform().lastError(hidPlatform().context), sim::SIM_ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_TRUE(sim::pluggedPaths(session.bus).empty());

  EXPECT_EQ(open(session.link), LINK_NO_UNIT);
  expectCleared(session.link);
}

}  // namespace
}  // namespace esc::test
