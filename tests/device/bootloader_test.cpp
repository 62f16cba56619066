// The bootloader commands: their request bytes, how each answer is judged, and the wait
// inside the erase.
#include "device/bootloader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "tests/device/link_session.h"

namespace esc::test {
namespace {

using sim::EventKind;

struct Command {
  const char* name;
  DeviceCommand code;
  std::function<std::int32_t(HidLink&)> run;
};

const Command LOCK_SET = {"lock set", CMD_SYSTEM_LOCK,
                          [](HidLink& l) { return setSystemLock(l, LockState::Set); }};
const Command LOCK_RESET = {"lock reset", CMD_SYSTEM_LOCK,
                            [](HidLink& l) { return setSystemLock(l, LockState::Reset); }};
const Command UNLOCK = {"unlock", CMD_WRITE_PROTECT,
                        [](HidLink& l) { return setWriteProtection(l, WriteProtection::Unlock); }};
const Command RESTORE = {"restore", CMD_WRITE_PROTECT, [](HidLink& l) {
                           return setWriteProtection(l, WriteProtection::Restore);
                         }};
const Command ERASE = {"erase", CMD_ERASE, [](HidLink& l) { return eraseFirmware(l); }};
const Command ADDRESS = {"address", CMD_SET_ADDRESS, [](HidLink& l) { return setFlashAddress(l); }};
const Command BLOCK = {"block", CMD_WRITE_BLOCK, [](HidLink& l) {
                         static const std::uint8_t data[48] = {};
                         return writeBlock(l, data, 12);
                       }};

// 57 9A 3E 6B is the guard word 0x6B3E9A57, little-endian.
TEST(BootloaderRequests, EachCommandSendsItsFixedBytesAndZerosElsewhere) {
  const std::pair<Command, std::vector<std::uint8_t>> cases[] = {
      {LOCK_SET, recordOf({0x01, 0x0B, 0x01, 0x01})},
      {LOCK_RESET, recordOf({0x01, 0x0B, 0x01, 0x00})},
      {UNLOCK, recordOf({0x01, 0x20, 0x01, 0x00})},
      {RESTORE, recordOf({0x01, 0x20, 0x01, 0x01})},
      {ERASE, recordOf({0x01, 0x1E, 0x04, 0x00, 0x57, 0x9A, 0x3E, 0x6B})},
      {ADDRESS, recordOf({0x01, 0x1F, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, 0x57, 0x9A, 0x3E, 0x6B})},
  };
  for (const auto& [command, expected] : cases) {
    SCOPED_TRACE(command.name);
    OpenSession session;
    command.run(session.link);
    EXPECT_EQ(writtenRequests(session.bus), std::vector<std::vector<std::uint8_t>>{expected});
  }
}

TEST(BootloaderRequests, ABlockCarriesItsByteCountAndExactlyThatManyDataBytes) {
  for (const std::uint32_t words : {0u, 1u, 4u, 12u, 14u}) {
    SCOPED_TRACE(testing::Message() << words << " words");
    OpenSession session;
    // Exactly words * 4 bytes, so reading past them is caught by the address sanitizer.
    std::vector<std::uint8_t> data(words * 4);
    for (std::size_t i = 0; i < data.size(); ++i) {
      data[i] = static_cast<std::uint8_t>(0xC0 + i);
    }

    writeBlock(session.link, words != 0 ? data.data() : nullptr, words);

    std::vector<std::uint8_t> expected = recordOf({0x01, 0x1B, static_cast<int>(words * 4)});
    std::copy(data.begin(), data.end(), expected.begin() + 4);
    EXPECT_EQ(writtenRequests(session.bus), std::vector<std::vector<std::uint8_t>>{expected});
  }
}

TEST(BootloaderRequests, TooManyWordsOrMissingDataAreRefusedWithoutSending) {
  OpenSession session;
  const std::uint8_t data[64] = {};
  EXPECT_EQ(writeBlock(session.link, data, 15), LINK_UNAVAILABLE);
  EXPECT_EQ(writeBlock(session.link, data, UINT32_MAX), LINK_UNAVAILABLE);
  EXPECT_EQ(writeBlock(session.link, nullptr, 1), LINK_UNAVAILABLE);
  EXPECT_TRUE(session.bus.log.empty());
}

struct Evaluation {
  const char* name;
  Command command;
  std::vector<std::uint8_t> answer;
  std::int32_t result;
};

const Evaluation EVALUATIONS[] = {
    {"lock set: byte 3 = 1 under the marker", LOCK_SET, markerAnswer(0, 0x01), LINK_OK},
    {"lock set: byte 3 = 1 with a status", LOCK_SET, markerAnswer(5, 0x01), LINK_OK},
    {"lock set: byte 3 = 0", LOCK_SET, recordOf({0x02, 0x0B, 0x00, 0x00}), ERROR_FUNCTION_FAILED},
    {"lock set: byte 3 = 2", LOCK_SET, recordOf({0x02, 0x0B, 0x00, 0x02}), ERROR_FUNCTION_FAILED},
    {"lock set: marker, byte 3 = 0", LOCK_SET, markerAnswer(0, 0x00), ERROR_FUNCTION_FAILED},
    {"lock reset: anything read", LOCK_RESET, markerAnswer(7, 0x55), LINK_OK},
    {"unlock: marker, status 0, byte 3 = 7", UNLOCK, markerAnswer(0, 0x07), LINK_OK},
    {"unlock: marker, status 9", UNLOCK, markerAnswer(9, 0x00), 9},
    {"unlock: marker, top-bit status", UNLOCK, markerAnswer(0x80000001), INT32_MIN + 1},
    {"unlock: byte 3 = 0", UNLOCK, recordOf({0x02, 0x20, 0x00, 0x00, 0x09}), LINK_OK},
    {"unlock: byte 3 = 2", UNLOCK, recordOf({0x02, 0x20, 0x00, 0x02}), ERROR_FUNCTION_FAILED},
    {"restore: anything read", RESTORE, markerAnswer(9, 0x02), LINK_OK},
    {"erase: data answer", ERASE, recordOf({0x02, 0x1E, 0x00, 0x00, 0x11}), LINK_OK},
    {"erase: marker, status 0", ERASE, markerAnswer(0), LINK_OK},
    {"erase: marker, status 17", ERASE, markerAnswer(17), 17},
    {"erase: marker, all 32 bits set", ERASE, markerAnswer(0xFFFFFFFF), -1},
    {"erase: marker, top bit only", ERASE, markerAnswer(0x80000000), INT32_MIN},
    {"address: marker, status 0", ADDRESS, markerAnswer(0, 0x03), LINK_OK},
    {"address: marker, status 17", ADDRESS, markerAnswer(17), 17},
    {"address: no marker, byte 3 and status set", ADDRESS, recordOf({0x02, 0x1F, 0x00, 0x33, 0x11}),
     LINK_OK},
    {"block: marker, status 0", BLOCK, markerAnswer(0, 0x01), LINK_OK},
    {"block: marker, 32-bit status", BLOCK, markerAnswer(0x12345678), 0x12345678},
    {"block: no marker, status bytes set", BLOCK, recordOf({0x02, 0xFE, 0x00, 0x01, 0x05}),
     LINK_OK},
};

TEST(BootloaderAnswers, EachCommandJudgesItsAnswerAsItsOwnRuleSays) {
  for (const Evaluation& evaluation : EVALUATIONS) {
    SCOPED_TRACE(evaluation.name);
    OpenSession session;
    session.bus.faults.push_back(rawAnswerOn(evaluation.command.code, evaluation.answer));

    EXPECT_EQ(evaluation.command.run(session.link), evaluation.result);

    EXPECT_EQ(sim::entriesOf(session.bus, EventKind::Read).size(), 1u);
    EXPECT_TRUE(isOpen(session.link));
  }
}

TEST(BootloaderAnswers, TheUnitsOwnAnswersToAnUpdateSequenceAllSucceed) {
  OpenSession session;
  const std::uint8_t data[48] = {};
  EXPECT_EQ(setSystemLock(session.link, LockState::Set), LINK_OK);
  EXPECT_EQ(setWriteProtection(session.link, WriteProtection::Unlock), LINK_OK);
  EXPECT_EQ(eraseFirmware(session.link), LINK_OK);
  EXPECT_EQ(setFlashAddress(session.link), LINK_OK);
  EXPECT_EQ(writeBlock(session.link, data, 12), LINK_OK);
  EXPECT_EQ(setWriteProtection(session.link, WriteProtection::Restore), LINK_OK);
  EXPECT_EQ(setSystemLock(session.link, LockState::Reset), LINK_OK);
}

TEST(EraseTiming, TheAnswerIsReadNoSoonerThan1000MsAfterTheRequest) {
  OpenSession session;
  ASSERT_EQ(setSystemLock(session.link, LockState::Set), LINK_OK);
  ASSERT_EQ(setWriteProtection(session.link, WriteProtection::Unlock), LINK_OK);
  session.bus.log.clear();

  ASSERT_EQ(eraseFirmware(session.link), LINK_OK);

  ASSERT_EQ(session.bus.log.size(), 4u);
  EXPECT_EQ(session.bus.log[0].kind, EventKind::Discard);
  EXPECT_EQ(session.bus.log[1].kind, EventKind::Write);
  EXPECT_EQ(session.bus.log[2].kind, EventKind::Sleep);
  EXPECT_EQ(session.bus.log[2].sleptMicroseconds, 1'000'000u);
  EXPECT_EQ(session.bus.log[3].kind, EventKind::Read);
  EXPECT_GE(session.bus.log[3].timeMicroseconds - session.bus.log[1].timeMicroseconds, 1'000'000u);
}

TEST(EraseTiming, NoOtherCommandWaitsBetweenRequestAndAnswer) {
  for (const Command& command : {LOCK_SET, LOCK_RESET, UNLOCK, RESTORE, ADDRESS, BLOCK}) {
    SCOPED_TRACE(command.name);
    OpenSession session;
    command.run(session.link);
    EXPECT_TRUE(sim::entriesOf(session.bus, EventKind::Sleep).empty());
    EXPECT_EQ(sim::nowMicroseconds(session.bus), 0u);
  }
}

TEST(EraseTiming, AFailedEraseRequestIsNeitherWaitedForNorRead) {
  OpenSession session;
  session.bus.faults.push_back(sim::onCommand(sim::FaultKind::WriteFails, CMD_ERASE));

  EXPECT_EQ(eraseFirmware(session.link), LINK_WRITE_FAILED);

  EXPECT_TRUE(sim::entriesOf(session.bus, EventKind::Sleep).empty());
  EXPECT_TRUE(sim::entriesOf(session.bus, EventKind::Read).empty());
}

}  // namespace
}  // namespace esc::test
