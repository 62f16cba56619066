// Every exchange of an update against every fault the emulated unit can show. The expected
// outcome of each cell is derived from two small rule tables, one per exchange (its
// message, how its answer is judged) and one per fault (what the transfer meets, the last
// error it leaves), never copied from a run.
#include "tests/updater/fault_matrix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "device/report_layout.h"
#include "tests/updater/update_session.h"

namespace esc::test {
namespace {

// Image 157, the one the default unit's controller gets: 1880 blocks of 48 bytes and a
// last block of 16.
constexpr std::uint16_t IMAGE_ID = 157;
constexpr std::uint32_t BLOCKS = 1881;
constexpr std::uint32_t BLOCK_BYTES = 48;

// How a step judges the answer it has read.
enum class Judgement {
  LockHeld,       // byte 3 must be 1; byte 1 is not looked at
  UnlockGranted,  // the marker's status, else byte 3 must be 0
  StatusOnly,     // only a nonzero status under the marker fails
  NotJudged,      // a closing command: its result is ignored
};

struct UpdateExchange {
  const char* name;
  DeviceCommand command;
  std::uint32_t occurrence;  // among the requests of that command since the bus started
  Judgement judgement;
  MessageId message;  // the error box's text; 0 for the closing commands, which report nothing
};

const UpdateExchange UPDATE_EXCHANGES[] = {
    {"lock", CMD_SYSTEM_LOCK, 1, Judgement::LockHeld, 40026},
    {"unlock", CMD_WRITE_PROTECT, 1, Judgement::UnlockGranted, 40027},
    {"erase", CMD_ERASE, 1, Judgement::StatusOnly, 40028},
    {"address", CMD_SET_ADDRESS, 1, Judgement::StatusOnly, 40008},
    {"first block", CMD_WRITE_BLOCK, 1, Judgement::StatusOnly, 40009},
    {"middle block", CMD_WRITE_BLOCK, 941, Judgement::StatusOnly, 40009},
    {"last block", CMD_WRITE_BLOCK, BLOCKS, Judgement::StatusOnly, 40009},
    {"restore", CMD_WRITE_PROTECT, 2, Judgement::NotJudged, 0},
    {"release", CMD_SYSTEM_LOCK, 2, Judgement::NotJudged, 0},
};

// The byte 3 that the step would refuse; for steps that do not look at byte 3 any other
// value than the unit's own shows that they do not.
std::uint8_t refusingByte3(const UpdateExchange& exchange) {
  return exchange.judgement == Judgement::LockHeld ? 0x00 : 0x02;
}

std::int32_t judge(Judgement judgement, const AnswerShape& answer) {
  switch (judgement) {
    case Judgement::LockHeld:
      return answer.byte3 == 0x01 ? LINK_OK : ERROR_FUNCTION_FAILED;
    case Judgement::UnlockGranted:
      if (answer.marker) return asSigned(answer.status);
      return answer.byte3 == 0x00 ? LINK_OK : ERROR_FUNCTION_FAILED;
    case Judgement::StatusOnly:
      return answer.marker ? asSigned(answer.status) : LINK_OK;
    case Judgement::NotJudged:
      break;
  }
  return LINK_OK;
}

// The answer each step gets from a unit that works: the command echoed, and in byte 3 the
// lock held (lock) or the protection lifted (unlock).
AnswerShape usualAnswer(const UpdateExchange& exchange) {
  return AnswerShape{
      false, 0,
      exchange.judgement == Judgement::LockHeld ? std::uint8_t{0x01} : std::uint8_t{0x00}};
}

struct Expected {
  bool succeeds;
  std::int32_t errorValue;
  std::uint32_t systemError;
};

Expected expectedOutcome(const UpdateExchange& exchange, const FaultRule& fault) {
  std::int32_t value = LINK_OK;
  std::uint32_t systemError = 0;
  switch (fault.effect) {
    case Effect::WriteFails:
      value = LINK_WRITE_FAILED;
      systemError = fault.lastError;
      break;
    case Effect::ReadFails:
      value = LINK_READ_FAILED;
      systemError = fault.lastError;
      break;
    case Effect::AnswerReplaced:
      value = judge(exchange.judgement,
                    replacedAnswer(fault.kind, usualAnswer(exchange), refusingByte3(exchange)));
      break;
    case Effect::None:
      break;
  }
  const bool reported = exchange.judgement != Judgement::NotJudged && value != LINK_OK;
  return reported ? Expected{false, value, systemError} : Expected{true, LINK_OK, 0};
}

sim::Fault faultFor(const UpdateExchange& exchange, const FaultRule& rule) {
  sim::Fault fault = sim::onCommand(rule.kind, exchange.command, exchange.occurrence);
  fault.status = MATRIX_STATUS;
  fault.byte3 = refusingByte3(exchange);
  fault.length = SHORT_ANSWER_BYTES;
  fault.raw = rule.kind == FaultKind::RawAnswer ? allOnesReport() : strayReport();
  return fault;
}

std::vector<std::uint8_t> imageBytes() {
  const FirmwareImage image = loadFirmwareImage(IMAGE_ID);
  return std::vector<std::uint8_t>(image.data, image.data + image.size);
}

// The update's blocks whose answer arrived and said success, judged from what the bus
// delivered, not from what the procedure concluded.
std::uint32_t acceptedBlocks(const sim::Bus& bus) {
  std::uint32_t accepted = 0;
  const sim::LogEntry* pendingBlock = nullptr;
  for (const sim::LogEntry& entry : bus.log) {
    if (entry.kind == EventKind::Write) {
      const bool isBlock =
          entry.succeeded && entry.bytes.size() > 1 && entry.bytes[1] == CMD_WRITE_BLOCK;
      pendingBlock = isBlock ? &entry : nullptr;
    } else if (entry.kind == EventKind::Read && pendingBlock != nullptr) {
      if (entry.succeeded && entry.exchange == pendingBlock->exchange) {
        HidReport answer{};
        for (std::size_t i = 0; i < REPORT_SIZE && i < entry.bytes.size(); ++i) {
          answer.bytes[i] = entry.bytes[i];
        }
        accepted += standardEvaluation(answer) == LINK_OK ? 1u : 0u;
      }
      pendingBlock = nullptr;
    }
  }
  return accepted;
}

// Runs one update with one fault and checks everything the outcome decides. Returns false
// when the fault was never met, so the cell proved nothing.
bool checkUpdateCell(const UpdateExchange& exchange, const FaultRule& rule) {
  UpdateSession session;
  session.connect();
  session.bus.faults.push_back(faultFor(exchange, rule));
  session.run();

  const sim::Bus& bus = session.bus;
  const Recorder& recorder = session.recorder;
  const sim::Device& unit = bus.devices[session.unit];
  const Expected expected = expectedOutcome(exchange, rule);
  const std::vector<std::uint8_t> image = imageBytes();
  const std::vector<std::uint8_t> flash = sim::writtenFirmware(unit);

  // Exactly one outcome, and the one the rules give.
  EXPECT_EQ(recorder.successes + recorder.errors, 1);
  EXPECT_EQ(recorder.refusals, 0);
  EXPECT_EQ(recorder.successes == 1, expected.succeeds);
  // Success if and only if every block was accepted.
  EXPECT_EQ(recorder.successes == 1, acceptedBlocks(bus) == BLOCKS);
  EXPECT_EQ(recorder.progressOpens, recorder.progressCloses);
  EXPECT_FALSE(recorder.progressOpen);

  if (expected.succeeds) {
    EXPECT_TRUE(isOpen(session.link));
    EXPECT_EQ(escFirmwareVersion(session.link), SUPPORTED_TARGET_VERSION);
    EXPECT_EQ(flash, image);
    EXPECT_EQ(recorder.positions.back(), 100u);
    // Both closing commands were attempted, in order, as the last two requests.
    const auto writes = sim::entriesOf(bus, EventKind::Write);
    EXPECT_EQ(writes[writes.size() - 2]->bytes.at(1), CMD_WRITE_PROTECT);
    EXPECT_EQ(writes[writes.size() - 2]->bytes.at(3), 0x01);
    EXPECT_EQ(writes.back()->bytes.at(1), CMD_SYSTEM_LOCK);
    EXPECT_EQ(writes.back()->bytes.at(3), 0x00);
  } else {
    EXPECT_EQ(recorder.errorMessage, english(exchange.message));
    EXPECT_EQ(recorder.errorCaption, english(MessageId{40002}));
    EXPECT_EQ(recorder.errorValue, expected.errorValue);
    EXPECT_EQ(recorder.systemError, expected.systemError);
    // Closed before the report, the handle released, the progress window gone.
    EXPECT_FALSE(recorder.linkOpenAtError);
    EXPECT_FALSE(isOpen(session.link));
    EXPECT_EQ(sim::openHandleCount(bus), 0u);
    EXPECT_FALSE(recorder.progressOpenAtError);
    EXPECT_EQ(recorder.progressOpens, exchange.command == CMD_WRITE_BLOCK ? 1 : 0);
    // No command after the failing one: it is the last request on the bus, also after the
    // report.
    const auto writes = sim::entriesOf(bus, EventKind::Write);
    EXPECT_EQ(recorder.writesAtError, writes.size());
    EXPECT_EQ(writes.back()->bytes.at(1), exchange.command);
    EXPECT_EQ(bus.commandRequests[exchange.command], exchange.occurrence);
    // The flash holds the blocks the unit took and nothing after them. It equals the image
    // only when the unit took the last block and merely its answer was lost: the update is
    // then reported failed although the data arrived, the safe side of the two.
    const std::uint32_t taken = exchange.command == CMD_WRITE_BLOCK
                                    ? exchange.occurrence - (rule.unitTakesRequest ? 0u : 1u)
                                    : 0u;
    EXPECT_EQ(unit.bootloader.blocksWritten, taken);
    const auto takenBytes = static_cast<std::ptrdiff_t>(
        std::min<std::size_t>(std::size_t{taken} * BLOCK_BYTES, image.size()));
    EXPECT_EQ(flash, std::vector<std::uint8_t>(image.begin(), image.begin() + takenBytes));
    if (taken < BLOCKS) {
      EXPECT_NE(flash, image);
    }
    // The sequence stopped at the failure: the unit still holds the lock (from the unlock
    // on), as no closing command was sent.
    if (exchange.command != CMD_SYSTEM_LOCK) {
      EXPECT_TRUE(unit.bootloader.systemLocked);
    }
  }
  return bus.commandRequests[exchange.command] >= exchange.occurrence;
}

TEST(FaultMatrix, EveryExchangeOfAnUpdateUnderEveryFaultEndsAsTheRulesSay) {
  MatrixCount count("update", std::size(UPDATE_EXCHANGES), std::size(FAULT_RULES));
  for (const UpdateExchange& exchange : UPDATE_EXCHANGES) {
    for (const FaultRule& rule : FAULT_RULES) {
      SCOPED_TRACE(std::string(exchange.name) + " / " + rule.name);
      count.record(checkUpdateCell(exchange, rule));
    }
  }
  count.expectComplete();
}

}  // namespace
}  // namespace esc::test
