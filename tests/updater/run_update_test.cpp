#include "updater/run_update.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "device/bootloader.h"
#include "emulator/sim_bus.h"
#include "resources/message_ids.h"
#include "resources/messages.h"

namespace esc {
namespace {

using sim::Bus;
using sim::EventKind;
using sim::FaultKind;

constexpr std::uint64_t MS = 1000;

// What the procedure showed the user, in order.
struct Recorder {
  bool confirm = true;
  bool acceptOlder = true;
  std::vector<Question> questions;
  std::vector<std::u16string> questionTexts;
  std::u16string progressTitle;
  std::vector<std::uint32_t> positions;
  int progressOpens = 0;
  int progressCloses = 0;
  bool progressOpen = false;
  int errors = 0;
  std::u16string errorMessage;
  std::u16string errorCaption;
  std::int32_t errorValue = 0;
  std::uint32_t systemError = 0;
  bool linkOpenAtError = true;
  bool progressOpenAtError = false;
  std::size_t writesAtError = 0;
  int successes = 0;
  // Called while a question is open, as a device removal would be.
  void (*duringQuestion)(Recorder&) = nullptr;
  HidLink* link = nullptr;
  Bus* bus = nullptr;
};

Recorder& recorderOf(void* context) { return *static_cast<Recorder*>(context); }

bool recordQuestion(void* context, Question question, const char16_t*, const char16_t* text) {
  Recorder& r = recorderOf(context);
  r.questions.push_back(question);
  r.questionTexts.push_back(text);
  if (r.duringQuestion != nullptr) r.duringQuestion(r);
  return question == Question::Confirmation ? r.confirm : r.acceptOlder;
}

void recordProgressOpen(void* context, const char16_t* title) {
  Recorder& r = recorderOf(context);
  r.progressTitle = title;
  ++r.progressOpens;
  r.progressOpen = true;
}

void recordProgress(void* context, std::uint32_t position) {
  recorderOf(context).positions.push_back(position);
}

void recordProgressClose(void* context) {
  Recorder& r = recorderOf(context);
  ++r.progressCloses;
  r.progressOpen = false;
}

void recordError(void* context, const char16_t* message, const char16_t* caption,
                 std::int32_t errorValue, std::uint32_t systemError) {
  Recorder& r = recorderOf(context);
  ++r.errors;
  r.errorMessage = message;
  r.errorCaption = caption;
  r.errorValue = errorValue;
  r.systemError = systemError;
  r.linkOpenAtError = isOpen(*r.link);
  r.progressOpenAtError = r.progressOpen;
  r.writesAtError = sim::entriesOf(*r.bus, EventKind::Write).size();
}

void recordSuccess(void* context) { ++recorderOf(context).successes; }

std::u16string english(MessageId id) { return catalogueText(Language::English, id); }

class RunUpdateTest : public testing::Test {
 protected:
  void SetUp() override {
    setMessageLanguage(Language::English);
    unit = sim::installSupportedUnit(bus);
    recorder.link = &link;
    recorder.bus = &bus;
  }

  void TearDown() override { close(link); }

  // Opens the link and classifies the unit's controller as the dialog does.
  void connect() {
    ASSERT_EQ(open(link), LINK_OK);
    ASSERT_EQ(classifyController(escModelCode(link), target), ClassificationResult::Supported);
    writesBeforeUpdate = sim::entriesOf(bus, EventKind::Write).size();
  }

  void setModelCode(std::uint32_t code) {
    std::uint8_t* ident = bus.devices[unit].identity.escIdent;
    for (int i = 0; i < 4; ++i) ident[i] = static_cast<std::uint8_t>(code >> (8 * i));
  }

  void setInstalledVersion(std::uint16_t version) {
    std::uint8_t* info = bus.devices[unit].identity.escInfo;
    info[4] = static_cast<std::uint8_t>(version);
    info[5] = static_cast<std::uint8_t>(version >> 8);
  }

  void run(ImageLoader loader = loadFirmwareImage) { runUpdate(link, target, port, loader); }

  // Requests written during the update, in order.
  std::vector<std::vector<std::uint8_t>> updateRequests() const {
    std::vector<std::vector<std::uint8_t>> requests;
    const auto writes = sim::entriesOf(bus, EventKind::Write);
    for (std::size_t i = writesBeforeUpdate; i < writes.size(); ++i) {
      if (writes[i]->succeeded) requests.push_back(writes[i]->bytes);
    }
    return requests;
  }

  std::size_t updateWriteAttempts() const {
    return sim::entriesOf(bus, EventKind::Write).size() - writesBeforeUpdate;
  }

  bool closingCommandSent() const {
    for (const auto& request : updateRequests()) {
      if (request[1] == CMD_WRITE_PROTECT && request[3] == 0x01) return true;
      if (request[1] == CMD_SYSTEM_LOCK && request[3] == 0x00) return true;
    }
    return false;
  }

  Bus bus;
  std::size_t unit = 0;
  HidLink link;
  UpdateTarget target{};
  Recorder recorder;
  UpdatePort port{&recorder,           recordQuestion, recordProgressOpen, recordProgress,
                  recordProgressClose, recordError,    recordSuccess};
  std::size_t writesBeforeUpdate = 0;
};

struct ModelCase {
  std::uint32_t modelCode;
  std::uint16_t imageId;
};

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
  EXPECT_EQ(recorder.progressTitle, english(MSG_PROGRESS_TITLE));
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
}

TEST_F(RunUpdateTest, UpdatePressedWithTheLinkClosedShowsOneErrorWithoutCodeLine) {
  run();
  EXPECT_TRUE(recorder.questions.empty());
  EXPECT_EQ(recorder.errors, 1);
  EXPECT_EQ(recorder.errorMessage, english(MSG_UNIT_NOT_DETECTED));
  EXPECT_EQ(recorder.errorCaption, english(MSG_UPDATE_FAILED_CAPTION));
  EXPECT_EQ(recorder.errorValue, LINK_UNAVAILABLE);
  EXPECT_TRUE(sim::entriesOf(bus, EventKind::Write).empty());
}

TEST_F(RunUpdateTest, CancelledConfirmationSendsNothingAndKeepsTheLinkOpen) {
  connect();
  recorder.confirm = false;
  run();
  ASSERT_EQ(recorder.questions.size(), 1u);
  EXPECT_EQ(recorder.questions[0], Question::Confirmation);
  EXPECT_EQ(recorder.questionTexts[0], english(MSG_CONFIRM));
  EXPECT_EQ(updateWriteAttempts(), 0u);
  EXPECT_EQ(recorder.errors + recorder.successes, 0);
  EXPECT_TRUE(isOpen(link));
}

struct VersionCase {
  std::uint16_t installed;
  bool asks;
};

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
    EXPECT_EQ(recorder.questionTexts[1], english(MSG_OLDER_FIRMWARE));
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

sim::Fault withStatus(sim::Fault fault, std::uint32_t status) {
  fault.status = status;
  return fault;
}

sim::Fault withByte3(sim::Fault fault, std::uint8_t byte3) {
  fault.byte3 = byte3;
  return fault;
}

class FailureTest : public RunUpdateTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(FailureTest, ReportsTheStepsMessageAndCodesAndSendsNoClosingCommand) {
  connect();
  bus.faults.push_back(GetParam().fault);
  run();
  EXPECT_EQ(recorder.successes, 0);
  ASSERT_EQ(recorder.errors, 1);
  EXPECT_EQ(recorder.errorMessage, english(GetParam().message));
  EXPECT_EQ(recorder.errorCaption, english(MSG_UPDATE_FAILED_CAPTION));
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
                    MSG_LOCK_FAILED, ERROR_FUNCTION_FAILED, 0, false},
        FailureCase{"LockNotWritten", sim::onCommand(FaultKind::WriteFails, CMD_SYSTEM_LOCK, 1),
                    MSG_LOCK_FAILED, LINK_WRITE_FAILED, sim::SIM_ERROR_GEN_FAILURE, false},
        FailureCase{
            "UnlockStatus",
            withStatus(sim::onCommand(FaultKind::ErrorStatus, CMD_WRITE_PROTECT, 1), 0x80001234),
            MSG_UNLOCK_FAILED, static_cast<std::int32_t>(0x80001234), 0, false},
        FailureCase{"UnlockRefused",
                    withByte3(sim::onCommand(FaultKind::AnswerByte3, CMD_WRITE_PROTECT, 1), 0x02),
                    MSG_UNLOCK_FAILED, ERROR_FUNCTION_FAILED, 0, false},
        FailureCase{"EraseStatus",
                    withStatus(sim::onCommand(FaultKind::ErrorStatus, CMD_ERASE, 1), 9),
                    MSG_ERASE_FAILED, 9, 0, false},
        FailureCase{"EraseUnanswered", sim::onCommand(FaultKind::NoAnswer, CMD_ERASE, 1),
                    MSG_ERASE_FAILED, LINK_READ_FAILED, sim::SIM_ERROR_TIMEOUT, false},
        FailureCase{"AddressStatus",
                    withStatus(sim::onCommand(FaultKind::ErrorStatus, CMD_SET_ADDRESS, 1), 17),
                    MSG_ADDRESS_FAILED, 17, 0, false},
        FailureCase{"FirstBlockStatus", withStatus(sim::atBlock(FaultKind::ErrorStatus, 1), 5),
                    MSG_BLOCK_FAILED, 5, 0, true},
        FailureCase{"MiddleBlockNotWritten", sim::atBlock(FaultKind::WriteFails, 941),
                    MSG_BLOCK_FAILED, LINK_WRITE_FAILED, sim::SIM_ERROR_GEN_FAILURE, true},
        FailureCase{"UnpluggedAtBlock", sim::atBlock(FaultKind::UnplugBeforeRead, 1200),
                    MSG_BLOCK_FAILED, LINK_READ_FAILED, sim::SIM_ERROR_DEVICE_NOT_CONNECTED, true},
        FailureCase{"LastBlockStatus", withStatus(sim::atBlock(FaultKind::ErrorStatus, 1881), 3),
                    MSG_BLOCK_FAILED, 3, 0, true}),
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
  EXPECT_EQ(recorder.errorMessage, english(MSG_LOCK_FAILED));
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
  EXPECT_EQ(recorder.errorMessage, english(MSG_IMAGE_MISSING));
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
}  // namespace esc
