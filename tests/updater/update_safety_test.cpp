// The update procedure where it must keep going and where it must not: closing commands
// that fail, answers that look odd but are no refusal, and a unit swapped while a question
// box is open.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <tuple>
#include <vector>

#include "device/report_layout.h"
#include "tests/updater/update_session.h"

namespace esc::test {
namespace {

constexpr std::size_t FIRST_UNIT = 0;
constexpr std::size_t SECOND_UNIT = 1;
constexpr std::uint32_t ACCEPTED_WITHOUT_TARGET_CODE = 0x0A0640AA;

std::tuple<int, int, int, int> fieldsOf(const UpdateTarget& target) {
  return {target.type, target.rating, target.cells, target.targetVersion};
}

std::vector<std::uint8_t> imageBytes(std::uint16_t id) {
  const FirmwareImage image = loadFirmwareImage(id);
  return image.data == nullptr ? std::vector<std::uint8_t>()
                               : std::vector<std::uint8_t>(image.data, image.data + image.size);
}

sim::Fault rawAnswer(DeviceCommand command, std::uint32_t occurrence,
                     const std::vector<std::uint8_t>& bytes) {
  sim::Fault fault = sim::onCommand(FaultKind::RawAnswer, command, occurrence);
  for (std::size_t i = 0; i < bytes.size() && i < REPORT_SIZE; ++i) {
    fault.raw.bytes[i] = bytes[i];
  }
  return fault;
}

// Restore is the second CMD_WRITE_PROTECT of an update, release the second CMD_SYSTEM_LOCK.
struct ClosingCase {
  const char* name;
  sim::Fault fault;
};

void PrintTo(const ClosingCase& c, std::ostream* out) { *out << c.name; }

class ClosingCommandTest : public RunUpdateTest, public testing::WithParamInterface<ClosingCase> {};

TEST_P(ClosingCommandTest, BothAreSentAndTheUpdateStillSucceeds) {
  connect();
  bus.faults.push_back(GetParam().fault);

  run();

  const auto writes = sim::entriesOf(bus, EventKind::Write);
  ASSERT_GE(writes.size(), writesBeforeUpdate + 2);
  const std::vector<std::uint8_t>& restore = writes[writes.size() - 2]->bytes;
  const std::vector<std::uint8_t>& release = writes.back()->bytes;
  EXPECT_EQ(std::vector<std::uint8_t>(restore.begin(), restore.begin() + 4),
            (std::vector<std::uint8_t>{0x01, 0x20, 0x01, 0x01}));
  EXPECT_EQ(std::vector<std::uint8_t>(release.begin(), release.begin() + 4),
            (std::vector<std::uint8_t>{0x01, 0x0B, 0x01, 0x00}));
  EXPECT_EQ(recorder.errors, 0);
  EXPECT_EQ(recorder.successes, 1);
  EXPECT_TRUE(isOpen(link));
  EXPECT_EQ(escFirmwareVersion(link), 0x0101);
  EXPECT_EQ(sim::writtenFirmware(bus.devices[FIRST_UNIT]), imageBytes(157));
}

// A restore whose request was not written is not followed by a read of its answer.
TEST_F(RunUpdateTest, AnUnwrittenRestoreIsNotWaitedForBeforeTheRelease) {
  connect();
  bus.faults.push_back(sim::onCommand(FaultKind::WriteFails, CMD_WRITE_PROTECT, 2));

  run();

  // The tail of the log: discard, restore, discard, release, its answer.
  ASSERT_GE(bus.log.size(), 5u);
  const sim::LogEntry& restore = bus.log[bus.log.size() - 4];
  const sim::LogEntry& release = bus.log[bus.log.size() - 2];
  EXPECT_EQ(restore.kind, EventKind::Write);
  EXPECT_FALSE(restore.succeeded);
  EXPECT_EQ(release.kind, EventKind::Write);
  EXPECT_EQ(release.bytes.at(1), CMD_SYSTEM_LOCK);
  EXPECT_EQ(release.timeMicroseconds, restore.timeMicroseconds);
  EXPECT_EQ(bus.log.back().kind, EventKind::Read);
  EXPECT_EQ(recorder.successes, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ClosingCommandTest,
    testing::Values(
        ClosingCase{"RestoreNotWritten",
                    sim::onCommand(FaultKind::WriteFails, CMD_WRITE_PROTECT, 2)},
        ClosingCase{"RestoreNotRead", sim::onCommand(FaultKind::ReadFails, CMD_WRITE_PROTECT, 2)},
        ClosingCase{"RestoreUnanswered", sim::onCommand(FaultKind::NoAnswer, CMD_WRITE_PROTECT, 2)},
        ClosingCase{"RestoreStatus",
                    withStatus(sim::onCommand(FaultKind::ErrorStatus, CMD_WRITE_PROTECT, 2), 9)},
        ClosingCase{"RestoreRefused",
                    withByte3(sim::onCommand(FaultKind::AnswerByte3, CMD_WRITE_PROTECT, 2), 0x02)},
        ClosingCase{"ReleaseNotWritten", sim::onCommand(FaultKind::WriteFails, CMD_SYSTEM_LOCK, 2)},
        ClosingCase{"ReleaseNotRead", sim::onCommand(FaultKind::ReadFails, CMD_SYSTEM_LOCK, 2)},
        ClosingCase{"ReleaseStatus",
                    withStatus(sim::onCommand(FaultKind::ErrorStatus, CMD_SYSTEM_LOCK, 2), 7)}),
    [](const testing::TestParamInfo<ClosingCase>& param) { return param.param.name; });

// Answers that each step has to take as success, although they carry the marker, a status
// where none is looked at, or an unexpected byte 3.
struct AcceptedAnswer {
  const char* name;
  sim::Fault fault;
};

void PrintTo(const AcceptedAnswer& c, std::ostream* out) { *out << c.name; }

class AcceptedAnswerTest : public RunUpdateTest,
                           public testing::WithParamInterface<AcceptedAnswer> {};

TEST_P(AcceptedAnswerTest, TheUpdateGoesOnToSuccess) {
  connect();
  bus.faults.push_back(GetParam().fault);

  run();

  EXPECT_EQ(recorder.errors, 0);
  EXPECT_EQ(recorder.successes, 1);
  EXPECT_EQ(sim::writtenFirmware(bus.devices[FIRST_UNIT]), imageBytes(157));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, AcceptedAnswerTest,
    testing::Values(
        AcceptedAnswer{"LockByte3OneUnderTheMarkerWithAStatus",
                       rawAnswer(CMD_SYSTEM_LOCK, 1, {0x02, 0xFF, 0x04, 0x01, 0x05})},
        AcceptedAnswer{"UnlockMarkerWithStatusZeroAndByte3Seven",
                       rawAnswer(CMD_WRITE_PROTECT, 1, {0x02, 0xFF, 0x04, 0x07, 0, 0, 0, 0})},
        AcceptedAnswer{"UnlockWithoutMarkerByte3ZeroAndStatusBytesSet",
                       rawAnswer(CMD_WRITE_PROTECT, 1, {0x02, 0x20, 0x00, 0x00, 0x09, 0x09})},
        AcceptedAnswer{"EraseWithoutMarkerAndStatusBytesSet",
                       rawAnswer(CMD_ERASE, 1, {0x02, 0xFE, 0x00, 0x01, 0x11, 0x22})},
        AcceptedAnswer{"AddressWithoutMarkerWhateverByte3",
                       rawAnswer(CMD_SET_ADDRESS, 1, {0x02, 0x1F, 0x00, 0x33, 0x11})},
        AcceptedAnswer{"AddressMarkerWithStatusZero",
                       rawAnswer(CMD_SET_ADDRESS, 1, {0x02, 0xFF, 0x04, 0x02, 0, 0, 0, 0})},
        AcceptedAnswer{"BlockMarkerWithStatusZero",
                       rawAnswer(CMD_WRITE_BLOCK, 700, {0x02, 0xFF, 0x04, 0x03, 0, 0, 0, 0})}),
    [](const testing::TestParamInfo<AcceptedAnswer>& param) { return param.param.name; });

TEST_F(RunUpdateTest, AFailedUpdateLeavesTheTargetAsItWas) {
  connect();
  target.targetVersion = 0x0200;
  recorder.duringQuestion = [](Recorder& r) {
    sim::unplug(*r.bus, FIRST_UNIT);
    close(*r.link);
  };

  run();

  ASSERT_EQ(recorder.errors, 1);
  EXPECT_EQ(fieldsOf(target), std::make_tuple(250, 210, 17, 0x0200));
}

// While a question box is open the dialog keeps handling device events. This stands for the
// removal of the first unit followed by the arrival of the second, handled as the dialog
// does: the link is closed, then opened anew; a unit that cannot be updated is closed again
// unless its controller is one accepted without target, and a failed identification leaves
// the link open as it is.
void swapUnits(Recorder& r) {
  sim::unplug(*r.bus, FIRST_UNIT);
  close(*r.link);
  sim::plug(*r.bus, SECOND_UNIT);
  if (open(*r.link) != LINK_OK) {
    return;
  }
  if (r.link->unitWrongMode != 0 || r.link->escStatus != ESC_STATUS_READY ||
      classifyController(escModelCode(*r.link), *r.target) == ClassificationResult::Incompatible) {
    close(*r.link);
  }
}

struct SwapCase {
  const char* name;
  std::uint32_t secondModelCode;
  bool secondIdentifies;       // false: its ESC answers the info request with a status
  bool swapAtVersionQuestion;  // false: at the confirmation
};

void PrintTo(const SwapCase& c, std::ostream* out) { *out << c.name; }

class SwappedUnitTest : public RunUpdateTest, public testing::WithParamInterface<SwapCase> {
 protected:
  void SetUp() override {
    RunUpdateTest::SetUp();
    sim::Device second = sim::makeSupportedUnit();
    second.path = u"\\\\?\\hid#second-unit";
    second.plugged = false;
    ASSERT_EQ(sim::addDevice(bus, second), SECOND_UNIT);
    setModelCode(GetParam().secondModelCode, SECOND_UNIT);
    if (!GetParam().secondIdentifies) {
      // The first CMD_GET_ESC_INFO is the first unit's, at connect().
      bus.faults.push_back(
          withStatus(sim::onCommand(FaultKind::ErrorStatus, CMD_GET_ESC_INFO, 2), 5));
    }
    if (GetParam().swapAtVersionQuestion) {
      setInstalledVersion(0x0101, FIRST_UNIT);
      recorder.duringQuestion = [](Recorder& r) {
        if (r.questions.size() == 2) swapUnits(r);
      };
    } else {
      recorder.duringQuestion = [](Recorder& r) {
        if (r.questions.size() == 1) swapUnits(r);
      };
    }
  }

  bool bootloaderCommandSent() const {
    for (const std::uint8_t command : sim::sentCommands(bus)) {
      switch (command) {
        case CMD_SYSTEM_LOCK:
        case CMD_WRITE_PROTECT:
        case CMD_ERASE:
        case CMD_SET_ADDRESS:
        case CMD_WRITE_BLOCK:
          return true;
        default:
          break;
      }
    }
    return false;
  }
};

// The image was chosen for the first controller; the second is one this build does not
// update (or could not even be identified), so nothing may be written into it. It is
// there, so it is not reported as missing: the front end is asked to show what detection
// shows, and the link stays as detection left it.
TEST_P(SwappedUnitTest, AnUnsupportedControllerIsNotWrittenAndLeftAsDetectionLeftIt) {
  connect();

  run();

  EXPECT_FALSE(bootloaderCommandSent());
  EXPECT_EQ(bus.devices[SECOND_UNIT].bootloader.erases, 0u);
  EXPECT_EQ(recorder.successes, 0);
  EXPECT_EQ(recorder.errors, 0);
  EXPECT_EQ(recorder.refusals, 1);
  EXPECT_TRUE(recorder.linkOpenAtRefusal);
  EXPECT_TRUE(isOpen(link));
  EXPECT_EQ(recorder.writesAtSequenceStart, -1);
  EXPECT_EQ(recorder.progressOpens, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Swaps, SwappedUnitTest,
    testing::Values(SwapCase{"AcceptedWithoutTargetAtConfirmation", ACCEPTED_WITHOUT_TARGET_CODE,
                             true, false},
                    SwapCase{"UnidentifiedAtConfirmation", 0x110FA0D2, false, false},
                    SwapCase{"AcceptedWithoutTargetAtVersionQuestion", ACCEPTED_WITHOUT_TARGET_CODE,
                             true, true},
                    SwapCase{"UnidentifiedAtVersionQuestion", 0x110FA0D2, false, true}),
    [](const testing::TestParamInfo<SwapCase>& param) { return param.param.name; });

// A supported controller that arrives during the question has been classified anew, so the
// image chosen is its own: the update goes on and writes it.
TEST_F(RunUpdateTest, ASupportedControllerSwappedInDuringTheQuestionGetsItsOwnImage) {
  sim::Device second = sim::makeSupportedUnit();
  second.path = u"\\\\?\\hid#second-unit";
  second.plugged = false;
  ASSERT_EQ(sim::addDevice(bus, second), SECOND_UNIT);
  setModelCode(0x140FA0FA, SECOND_UNIT);
  recorder.duringQuestion = swapUnits;
  connect();

  run();

  EXPECT_EQ(recorder.errors, 0);
  EXPECT_EQ(recorder.successes, 1);
  EXPECT_EQ(fieldsOf(target), std::make_tuple(250, 250, 20, 0x0101));
  EXPECT_EQ(sim::writtenFirmware(bus.devices[SECOND_UNIT]), imageBytes(172));
  EXPECT_TRUE(sim::writtenFirmware(bus.devices[FIRST_UNIT]).empty());
}

// A refusal is the unit's answer, not a failed transfer: its code line must not carry the
// error of some earlier failed call, here a device held by another program that discovery
// could not open before it found the unit.
TEST_F(RunUpdateTest, ARefusalAfterAFailedDiscoveryStepCarriesNoStaleSystemError) {
  sim::Device busy = sim::makeOtherDevice(0x1111, 0x0001, u"\\\\?\\hid#busy");
  busy.heldOpenElsewhere = true;
  bus.devices.insert(bus.devices.begin(), busy);
  unit = 1;
  connect();
  sim::Fault refusal = sim::onCommand(FaultKind::AnswerByte3, CMD_SYSTEM_LOCK, 1);
  refusal.byte3 = 0x00;
  bus.faults.push_back(refusal);

  run();

  ASSERT_EQ(recorder.errors, 1);
  EXPECT_EQ(recorder.errorValue, ERROR_FUNCTION_FAILED);
  EXPECT_EQ(recorder.systemError, 0u);
}

}  // namespace
}  // namespace esc::test
