// The update procedure end to end: the command sequence, blocks, progress, waits, the
// questions and the failure path of each step.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ios>
#include <ostream>
#include <vector>

#include "tests/updater/update_session.h"

namespace esc::test {
namespace {

struct ModelCase {
  std::uint32_t modelCode;
  std::uint16_t imageId;
};

// Cases print readably, so that a test's description is no dump of a record's padding.
void PrintTo(const ModelCase& c, std::ostream* out) {
  *out << "model 0x" << std::hex << c.modelCode << std::dec << ", image " << c.imageId;
}

class FullUpdateTest : public RunUpdateTest, public testing::WithParamInterface<ModelCase> {};

TEST_P(FullUpdateTest, WritesTheSelectedImageByteForByte) {
  setModelCode(GetParam().modelCode);
  connect();
  run();

  const FirmwareImage image = loadFirmwareImage(GetParam().imageId);
  ASSERT_NE(image.data, nullptr);
  const std::vector<std::uint8_t> expected(image.data, image.data + image.size);
  EXPECT_EQ(sim::writtenFirmware(bus.devices[unit]), expected);
  EXPECT_EQ(recorder.successes, 1);
  EXPECT_EQ(recorder.errors, 0);
  EXPECT_TRUE(isOpen(link));
  EXPECT_EQ(escFirmwareVersion(link), 0x0101);
  EXPECT_FALSE(bus.devices[unit].bootloader.systemLocked);
  EXPECT_TRUE(bus.devices[unit].bootloader.writeProtected);
}

INSTANTIATE_TEST_SUITE_P(SupportedModels, FullUpdateTest,
                         testing::Values(ModelCase{0x110FA0AA, 158}, ModelCase{0x110FA0D2, 157},
                                         ModelCase{0x110FA0FA, 151}, ModelCase{0x140FA0AA, 174},
                                         ModelCase{0x140FA0D2, 173}, ModelCase{0x140FA0FA, 172}));

TEST_F(RunUpdateTest, SendsTheCommandSequenceWithTwelveWordBlocksAndAPaddedLastBlock) {
  connect();
  run();
  const auto requests = updateRequests();
  ASSERT_EQ(requests.size(), 4u + 1881u + 2u);

  const std::vector<std::uint8_t> lock{0x01, 0x0B, 0x01, 0x01};
  const std::vector<std::uint8_t> unlock{0x01, 0x20, 0x01, 0x00};
  EXPECT_EQ(std::vector<std::uint8_t>(requests[0].begin(), requests[0].begin() + 4), lock);
  EXPECT_EQ(std::vector<std::uint8_t>(requests[1].begin(), requests[1].begin() + 4), unlock);
  EXPECT_EQ(requests[2][1], CMD_ERASE);
  EXPECT_EQ(requests[3][1], CMD_SET_ADDRESS);

  const FirmwareImage image = loadFirmwareImage(157);
  for (std::size_t block = 0; block < 1880; ++block) {
    const auto& request = requests[4 + block];
    ASSERT_EQ(request[1], CMD_WRITE_BLOCK) << block;
    ASSERT_EQ(request[2], 0x30) << block;
    ASSERT_EQ(std::memcmp(request.data() + 4, image.data + block * 48, 48), 0) << block;
  }
  const auto& last = requests[4 + 1880];
  EXPECT_EQ(last[1], CMD_WRITE_BLOCK);
  EXPECT_EQ(last[2], 0x10);
  EXPECT_EQ(std::memcmp(last.data() + 4, image.data + 1880 * 48, 16), 0);

  const std::vector<std::uint8_t> restore{0x01, 0x20, 0x01, 0x01};
  const std::vector<std::uint8_t> release{0x01, 0x0B, 0x01, 0x00};
  const auto& closing1 = requests[requests.size() - 2];
  const auto& closing2 = requests[requests.size() - 1];
  EXPECT_EQ(std::vector<std::uint8_t>(closing1.begin(), closing1.begin() + 4), restore);
  EXPECT_EQ(std::vector<std::uint8_t>(closing2.begin(), closing2.begin() + 4), release);
}

TEST_F(RunUpdateTest, ProgressRunsFromZeroToOneHundredInAWindowWithItsTitle) {
  connect();
  run();
  EXPECT_EQ(recorder.progressTitle, english(MessageId{40029}));
  EXPECT_EQ(recorder.progressOpens, 1);
  EXPECT_EQ(recorder.progressCloses, 1);
  ASSERT_EQ(recorder.positions.size(), 1u + 1881u);
  EXPECT_EQ(recorder.positions[0], 0u);
  EXPECT_EQ(recorder.positions[1], 0u);
  EXPECT_EQ(recorder.positions[1880], 99u);
  EXPECT_EQ(recorder.positions[1881], 100u);
  for (std::size_t i = 1; i < recorder.positions.size(); ++i) {
    EXPECT_LE(recorder.positions[i - 1], recorder.positions[i]);
  }
}

TEST_F(RunUpdateTest, MandatedWaitsAddUpToFortyTwoSecondsSevenHundred) {
  connect();
  const auto writesBefore = sim::entriesOf(bus, EventKind::Write).size();
  run();
  const auto writes = sim::entriesOf(bus, EventKind::Write);
  const auto reads = sim::entriesOf(bus, EventKind::Read);
  const std::uint64_t lockSent = writes[writesBefore]->timeMicroseconds;
  const std::uint64_t releaseAnswered = reads.back()->timeMicroseconds;
  EXPECT_EQ(releaseAnswered - lockSent, 42700 * MS);
}

TEST_F(RunUpdateTest, PausesFollowEachAnswer) {
  connect();
  run();
  const auto writes = sim::entriesOf(bus, EventKind::Write);
  const auto reads = sim::entriesOf(bus, EventKind::Read);
  ASSERT_EQ(writes.size(), reads.size());
  const std::size_t lock = writesBeforeUpdate;
  // Lock, unlock: 20 ms. Erase: answer read 1000 ms after its request, then 4020 ms.
  EXPECT_EQ(writes[lock + 1]->timeMicroseconds - reads[lock]->timeMicroseconds, 20 * MS);
  EXPECT_EQ(writes[lock + 2]->timeMicroseconds - reads[lock + 1]->timeMicroseconds, 20 * MS);
  EXPECT_EQ(reads[lock + 2]->timeMicroseconds - writes[lock + 2]->timeMicroseconds, 1000 * MS);
  EXPECT_EQ(writes[lock + 3]->timeMicroseconds - reads[lock + 2]->timeMicroseconds, 4020 * MS);
  for (std::size_t i = lock + 3; i + 1 < lock + 4 + 1881; ++i) {
    ASSERT_EQ(writes[i + 1]->timeMicroseconds - reads[i]->timeMicroseconds, 20 * MS) << i;
  }
  // The two closing commands follow the last block's pause without one between them.
  const std::size_t restore = lock + 4 + 1881;
  EXPECT_EQ(writes[restore]->timeMicroseconds - reads[restore - 1]->timeMicroseconds, 20 * MS);
  EXPECT_EQ(writes[restore + 1]->timeMicroseconds, reads[restore]->timeMicroseconds);
  // Every pause goes through the front end, which may handle its events inside it; the
  // sequence was announced just before the lock request.
  EXPECT_EQ(recorder.waits, 4 + 1 + 1881);
  EXPECT_EQ(recorder.writesAtSequenceStart, static_cast<long>(lock));
}

TEST_F(RunUpdateTest, UpdatePressedWithTheLinkClosedShowsOneErrorWithoutCodeLine) {
  run();
  EXPECT_TRUE(recorder.questions.empty());
  EXPECT_EQ(recorder.errors, 1);
  EXPECT_EQ(recorder.errorMessage, english(MessageId{40022}));
  EXPECT_EQ(recorder.errorCaption, english(MessageId{40002}));
  EXPECT_EQ(recorder.errorValue, LINK_UNAVAILABLE);
  EXPECT_TRUE(sim::entriesOf(bus, EventKind::Write).empty());
}

TEST_F(RunUpdateTest, CancelledConfirmationSendsNothingAndKeepsTheLinkOpen) {
  connect();
  recorder.confirm = false;
  run();
  ASSERT_EQ(recorder.questions.size(), 1u);
  EXPECT_EQ(recorder.questions[0], Question::Confirmation);
  EXPECT_EQ(recorder.questionTexts[0], english(MessageId{40038}));
  EXPECT_EQ(updateWriteAttempts(), 0u);
  EXPECT_EQ(recorder.errors + recorder.successes, 0);
  EXPECT_TRUE(isOpen(link));
}

struct VersionCase {
  std::uint16_t installed;
  bool asks;
};

void PrintTo(const VersionCase& c, std::ostream* out) {
  *out << "installed 0x" << std::hex << c.installed << std::dec << (c.asks ? ", asks" : "");
}

class VersionQuestionTest : public RunUpdateTest,
                            public testing::WithParamInterface<VersionCase> {};

TEST_P(VersionQuestionTest, AsksOnlyWhenTheInstalledVersionIsNotOlder) {
  setInstalledVersion(GetParam().installed);
  connect();
  recorder.acceptOlder = false;
  run();
  if (GetParam().asks) {
    ASSERT_EQ(recorder.questions.size(), 2u);
    EXPECT_EQ(recorder.questions[1], Question::OlderFirmware);
    EXPECT_EQ(recorder.questionTexts[1], english(MessageId{40023}));
    EXPECT_EQ(updateWriteAttempts(), 0u);
    EXPECT_EQ(recorder.errors + recorder.successes, 0);
    EXPECT_TRUE(isOpen(link));
  } else {
    EXPECT_EQ(recorder.questions.size(), 1u);
    EXPECT_EQ(recorder.successes, 1);
  }
}

INSTANTIATE_TEST_SUITE_P(InstalledVersions, VersionQuestionTest,
                         testing::Values(VersionCase{0x0100, false}, VersionCase{0x0101, true},
                                         VersionCase{0x0102, true}, VersionCase{0xFFFF, false}));

TEST_F(RunUpdateTest, YesToTheVersionQuestionGoesOn) {
  setInstalledVersion(0x0101);
  connect();
  run();
  EXPECT_EQ(recorder.questions.size(), 2u);
  EXPECT_EQ(recorder.successes, 1);
}

struct FailureCase {
  const char* name;
  sim::Fault fault;
  MessageId message;
  std::int32_t errorValue;
  std::uint32_t systemError;
  bool progressShown;
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class FailureTest : public RunUpdateTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(FailureTest, ReportsTheStepsMessageAndCodesAndSendsNoClosingCommand) {
  connect();
  bus.faults.push_back(GetParam().fault);
  run();
  EXPECT_EQ(recorder.successes, 0);
  ASSERT_EQ(recorder.errors, 1);
  EXPECT_EQ(recorder.errorMessage, english(GetParam().message));
  EXPECT_EQ(recorder.errorCaption, english(MessageId{40002}));
  EXPECT_EQ(recorder.errorValue, GetParam().errorValue);
  EXPECT_EQ(recorder.systemError, GetParam().systemError);
  EXPECT_FALSE(recorder.linkOpenAtError);
  EXPECT_FALSE(recorder.progressOpenAtError);
  EXPECT_EQ(recorder.progressOpens, GetParam().progressShown ? 1 : 0);
  EXPECT_FALSE(isOpen(link));
  EXPECT_FALSE(closingCommandSent());
  EXPECT_EQ(recorder.writesAtError, sim::entriesOf(bus, EventKind::Write).size());
}

INSTANTIATE_TEST_SUITE_P(
    Steps, FailureTest,
    testing::Values(
        FailureCase{"LockRefused",
                    withByte3(sim::onCommand(FaultKind::AnswerByte3, CMD_SYSTEM_LOCK, 1), 0x00),
                    MessageId{40026}, ERROR_FUNCTION_FAILED, 0, false},
        FailureCase{"LockNotWritten", sim::onCommand(FaultKind::WriteFails, CMD_SYSTEM_LOCK, 1),
                    MessageId{40026}, LINK_WRITE_FAILED, sim::SIM_ERROR_GEN_FAILURE, false},
        FailureCase{
            "UnlockStatus",
            withStatus(sim::onCommand(FaultKind::ErrorStatus, CMD_WRITE_PROTECT, 1), 0x80001234),
            MessageId{40027}, static_cast<std::int32_t>(0x80001234), 0, false},
        FailureCase{"UnlockRefused",
                    withByte3(sim::onCommand(FaultKind::AnswerByte3, CMD_WRITE_PROTECT, 1), 0x02),
                    MessageId{40027}, ERROR_FUNCTION_FAILED, 0, false},
        FailureCase{"EraseStatus",
                    withStatus(sim::onCommand(FaultKind::ErrorStatus, CMD_ERASE, 1), 9),
                    MessageId{40028}, 9, 0, false},
        FailureCase{"EraseUnanswered", sim::onCommand(FaultKind::NoAnswer, CMD_ERASE, 1),
                    MessageId{40028}, LINK_READ_FAILED, sim::SIM_ERROR_TIMEOUT, false},
        FailureCase{"AddressStatus",
                    withStatus(sim::onCommand(FaultKind::ErrorStatus, CMD_SET_ADDRESS, 1), 17),
                    MessageId{40008}, 17, 0, false},
        FailureCase{"FirstBlockStatus", withStatus(sim::atBlock(FaultKind::ErrorStatus, 1), 5),
                    MessageId{40009}, 5, 0, true},
        FailureCase{"MiddleBlockNotWritten", sim::atBlock(FaultKind::WriteFails, 941),
                    MessageId{40009}, LINK_WRITE_FAILED, sim::SIM_ERROR_GEN_FAILURE, true},
        FailureCase{"UnpluggedAtBlock", sim::atBlock(FaultKind::UnplugBeforeRead, 1200),
                    MessageId{40009}, LINK_READ_FAILED, sim::SIM_ERROR_DEVICE_NOT_CONNECTED, true},
        FailureCase{"LastBlockStatus", withStatus(sim::atBlock(FaultKind::ErrorStatus, 1881), 3),
                    MessageId{40009}, 3, 0, true}),
    [](const testing::TestParamInfo<FailureCase>& param) { return param.param.name; });

TEST_F(RunUpdateTest, EraseFailureIsReportedOnlyAfterTheEraseHasHadItsTime) {
  connect();
  bus.faults.push_back(withStatus(sim::onCommand(FaultKind::ErrorStatus, CMD_ERASE, 1), 9));
  run();
  const auto reads = sim::entriesOf(bus, EventKind::Read);
  EXPECT_EQ(sim::nowMicroseconds(bus) - reads.back()->timeMicroseconds, 4000 * MS);
}

TEST_F(RunUpdateTest, FailedBlockStopsTheTransferAtThatBlock) {
  connect();
  bus.faults.push_back(withStatus(sim::atBlock(FaultKind::ErrorStatus, 500), 5));
  run();
  std::size_t blocks = 0;
  for (const auto& request : updateRequests()) blocks += request[1] == CMD_WRITE_BLOCK;
  EXPECT_EQ(blocks, 500u);
  EXPECT_EQ(recorder.positions.size(), 1u + 499u);
}

TEST_F(RunUpdateTest, UnitRemovedWhileTheConfirmationIsOpenFailsAtTheLockWithoutCodes) {
  connect();
  recorder.duringQuestion = [](Recorder& r) {
    sim::unplug(*r.bus, 0);
    close(*r.link);
  };
  run();
  ASSERT_EQ(recorder.errors, 1);
  EXPECT_EQ(recorder.errorMessage, english(MessageId{40026}));
  EXPECT_EQ(recorder.errorValue, LINK_UNAVAILABLE);
  EXPECT_EQ(updateWriteAttempts(), 0u);
}

TEST_F(RunUpdateTest, TargetVersionIsSetAgainForASupportedController) {
  connect();
  target.targetVersion = 0;
  setInstalledVersion(0x0100);
  run();
  EXPECT_EQ(target.targetVersion, 0x0101);
  EXPECT_EQ(escFirmwareVersion(link), 0x0101);
}

FirmwareImage noImage(std::uint16_t) { return FirmwareImage{nullptr, 0}; }

TEST_F(RunUpdateTest, MissingImageSendsNothingAndReportsIt) {
  connect();
  run(noImage);
  ASSERT_EQ(recorder.errors, 1);
  EXPECT_EQ(recorder.errorMessage, english(MessageId{40042}));
  EXPECT_EQ(recorder.errorValue, LINK_UNAVAILABLE);
  EXPECT_FALSE(isOpen(link));
  EXPECT_EQ(updateWriteAttempts(), 0u);
}

// Images of unusual sizes, to check the chunking on its own.
std::vector<std::uint8_t> customImage;
FirmwareImage customLoader(std::uint16_t) {
  return FirmwareImage{customImage.data(), static_cast<std::uint32_t>(customImage.size())};
}

void fillCustomImage(std::size_t size) {
  customImage.resize(size);
  for (std::size_t i = 0; i < size; ++i) customImage[i] = static_cast<std::uint8_t>(i * 7 + 1);
}

TEST_F(RunUpdateTest, ImageOfWholeBlocksHasNoPartialBlockAndEndsAtOneHundred) {
  fillCustomImage(48 * 10);
  connect();
  run(customLoader);
  EXPECT_EQ(sim::writtenFirmware(bus.devices[unit]), customImage);
  std::size_t blocks = 0;
  for (const auto& request : updateRequests()) {
    if (request[1] != CMD_WRITE_BLOCK) continue;
    ++blocks;
    EXPECT_EQ(request[2], 0x30);
  }
  EXPECT_EQ(blocks, 10u);
  EXPECT_EQ(recorder.positions.back(), 100u);
  EXPECT_EQ(recorder.positions[recorder.positions.size() - 2], 90u);
}

TEST_F(RunUpdateTest, TrailingBytesBeyondWholeWordsAreWrittenPaddedWithFF) {
  fillCustomImage(48 + 6);
  connect();
  run(customLoader);
  const auto requests = updateRequests();
  const auto& last = requests[4 + 1];
  ASSERT_EQ(last[1], CMD_WRITE_BLOCK);
  EXPECT_EQ(last[2], 0x08);
  EXPECT_EQ(std::memcmp(last.data() + 4, customImage.data() + 48, 6), 0);
  EXPECT_EQ(last[10], 0xFF);
  EXPECT_EQ(last[11], 0xFF);
  std::vector<std::uint8_t> expected = customImage;
  expected.push_back(0xFF);
  expected.push_back(0xFF);
  EXPECT_EQ(sim::writtenFirmware(bus.devices[unit]), expected);
}

}  // namespace
}  // namespace esc::test
