// The faults the emulated unit can show, as one rule table shared by the fault matrices of
// identification, detection and the update, and the count that tells how much of a
// matrix was checked.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "device/hid_link.h"
#include "emulator/sim_bus.h"

namespace esc::test {

// What a fault does to one exchange.
enum class Effect {
  WriteFails,      // the request is not written
  ReadFails,       // the request was written, no answer is read
  AnswerReplaced,  // an answer is read, but another than the unit's own
  None,            // the exchange itself goes through as usual
};

struct FaultRule {
  const char* name;
  sim::FaultKind kind;
  Effect effect;
  std::uint32_t lastError;  // what the failed transfer leaves behind
  bool unitTakesRequest;    // the unit acts on the request (only its answer may be lost)
};

inline constexpr FaultRule FAULT_RULES[] = {
    {"write fails", sim::FaultKind::WriteFails, Effect::WriteFails, sim::SIM_ERROR_GEN_FAILURE,
     false},
    {"write times out", sim::FaultKind::WriteTimesOut, Effect::WriteFails, sim::SIM_ERROR_TIMEOUT,
     false},
    {"read fails", sim::FaultKind::ReadFails, Effect::ReadFails, sim::SIM_ERROR_GEN_FAILURE, true},
    {"no answer", sim::FaultKind::NoAnswer, Effect::ReadFails, sim::SIM_ERROR_TIMEOUT, false},
    {"short answer", sim::FaultKind::ShortAnswer, Effect::ReadFails, sim::SIM_ERROR_INVALID_DATA,
     true},
    {"marker with a status", sim::FaultKind::ErrorStatus, Effect::AnswerReplaced, 0, true},
    {"byte 3 changed", sim::FaultKind::AnswerByte3, Effect::AnswerReplaced, 0, true},
    {"unplugged before the write", sim::FaultKind::UnplugBeforeWrite, Effect::WriteFails,
     sim::SIM_ERROR_DEVICE_NOT_CONNECTED, false},
    {"unplugged before the read", sim::FaultKind::UnplugBeforeRead, Effect::ReadFails,
     sim::SIM_ERROR_DEVICE_NOT_CONNECTED, true},
    {"late answer", sim::FaultKind::LateAnswer, Effect::ReadFails, sim::SIM_ERROR_TIMEOUT, true},
    {"stray report", sim::FaultKind::StrayReport, Effect::None, 0, true},
    {"answer of all ones", sim::FaultKind::RawAnswer, Effect::AnswerReplaced, 0, true},
};

// The status of an injected marker answer: top bit set, to show it is passed on unchanged
// as a negative value, and nonzero in its low 16 bits, which are all that identification
// reads of it.
inline constexpr std::uint32_t MATRIX_STATUS = 0x80000A5C;
// A cut answer: the header and the status, not the whole report.
inline constexpr std::uint32_t SHORT_ANSWER_BYTES = 8;

// The bytes of an answer that its step judges.
struct AnswerShape {
  bool marker;
  std::uint32_t status;
  std::uint8_t byte3;
};

// What an answer-replacing fault makes of the unit's usual answer: the marker with the
// matrix status, a changed byte 3, or every bit set (the marker, a status of -1, byte 3
// 0xFF).
inline AnswerShape replacedAnswer(sim::FaultKind kind, AnswerShape usual,
                                  std::uint8_t changedByte3) {
  switch (kind) {
    case sim::FaultKind::ErrorStatus:
      return AnswerShape{true, MATRIX_STATUS, 0x00};
    case sim::FaultKind::RawAnswer:
      return AnswerShape{true, 0xFFFFFFFF, 0xFF};
    default:
      usual.byte3 = changedByte3;
      return usual;
  }
}

inline HidReport allOnesReport() {
  HidReport report{};
  for (std::uint8_t& byte : report.bytes) byte = 0xFF;
  return report;
}

// A report the unit sends unasked after its answer: read in place of the next answer, it
// would fail any step (a status under the marker, byte 3 refusing the lock).
inline HidReport strayReport() {
  HidReport report{};
  report.bytes[0] = INPUT_REPORT_ID;
  report.bytes[1] = ANSWER_ERROR_MARKER;
  report.bytes[2] = 4;
  report.bytes[4] = 0x0D;
  report.bytes[5] = 0xF0;
  return report;
}

// Counts the cells of one matrix. A cell counts as checked only when its fault was met;
// the matrix fails unless every cell was.
class MatrixCount {
 public:
  MatrixCount(const char* name, std::size_t rows, std::size_t columns)
      : name_(name), rows_(rows), columns_(columns) {}

  void record(bool checked) {
    ++run_;
    checked_ += checked ? 1 : 0;
    EXPECT_TRUE(checked) << "the fault of this cell was never met";
  }

  void expectComplete() const {
    std::printf("[  MATRIX  ] %s: %zu x %zu = %zu cells, %zu checked\n", name_, rows_, columns_,
                rows_ * columns_, checked_);
    EXPECT_EQ(run_, rows_ * columns_);
    EXPECT_EQ(checked_, rows_ * columns_);
  }

 private:
  const char* name_;
  std::size_t rows_;
  std::size_t columns_;
  std::size_t run_ = 0;
  std::size_t checked_ = 0;
};

}  // namespace esc::test
