// The update procedure on an emulated unit, with a port that records what the user was
// shown, shared by the update tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "device/bootloader.h"
#include "emulator/sim_bus.h"
#include "resources/message_ids.h"
#include "resources/messages.h"
#include "updater/run_update.h"

namespace esc::test {

using sim::Bus;
using sim::EventKind;
using sim::FaultKind;

inline constexpr std::uint64_t MS = 1000;

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
  int refusals = 0;
  bool linkOpenAtRefusal = false;
  // Writes on the bus when the sequence was announced, or -1 while it was not.
  long writesAtSequenceStart = -1;
  int waits = 0;
  // Called while a question is open, as a device removal or arrival would be.
  void (*duringQuestion)(Recorder&) = nullptr;
  HidLink* link = nullptr;
  Bus* bus = nullptr;
  UpdateTarget* target = nullptr;
};

inline Recorder& recorderOf(void* context) { return *static_cast<Recorder*>(context); }

inline bool recordQuestion(void* context, Question question, const char16_t*,
                           const char16_t* text) {
  Recorder& r = recorderOf(context);
  r.questions.push_back(question);
  r.questionTexts.push_back(text);
  if (r.duringQuestion != nullptr) r.duringQuestion(r);
  return question == Question::Confirmation ? r.confirm : r.acceptOlder;
}

inline void recordProgressOpen(void* context, const char16_t* title) {
  Recorder& r = recorderOf(context);
  r.progressTitle = title;
  ++r.progressOpens;
  r.progressOpen = true;
}

inline void recordProgress(void* context, std::uint32_t position) {
  recorderOf(context).positions.push_back(position);
}

inline void recordProgressClose(void* context) {
  Recorder& r = recorderOf(context);
  ++r.progressCloses;
  r.progressOpen = false;
}

inline void recordError(void* context, const char16_t* message, const char16_t* caption,
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

inline void recordSuccess(void* context) { ++recorderOf(context).successes; }

inline void recordRefusal(void* context) {
  Recorder& r = recorderOf(context);
  ++r.refusals;
  r.linkOpenAtRefusal = isOpen(*r.link);
}

inline void recordSequenceStart(void* context) {
  Recorder& r = recorderOf(context);
  r.writesAtSequenceStart = static_cast<long>(sim::entriesOf(*r.bus, EventKind::Write).size());
}

inline void recordWait(void* context, std::uint64_t deadlineMicroseconds) {
  ++recorderOf(context).waits;
  sleepUntilDeadline(context, deadlineMicroseconds);
}

inline sim::Fault withStatus(sim::Fault fault, std::uint32_t status) {
  fault.status = status;
  return fault;
}

inline sim::Fault withByte3(sim::Fault fault, std::uint8_t byte3) {
  fault.byte3 = byte3;
  return fault;
}

// Tests name messages by their numbers in the catalogue rather than by the program's
// constants, so that a constant holding the wrong number is caught.
inline std::u16string english(MessageId id) { return catalogueText(Language::English, id); }

// One supported unit on an installed bus, a link, a target and a recording port: what one
// update needs. Built fresh for every test, or for every cell of a table that runs many.
struct UpdateSession {
  UpdateSession() {
    setMessageLanguage(Language::English);
    unit = sim::installSupportedUnit(bus);
    recorder.link = &link;
    recorder.bus = &bus;
    recorder.target = &target;
  }

  // The bus goes with the session, so it must not stay installed as the platform.
  ~UpdateSession() {
    close(link);
    setHidPlatform(nullptr);
  }

  UpdateSession(const UpdateSession&) = delete;
  UpdateSession& operator=(const UpdateSession&) = delete;

  // Opens the link and classifies the unit's controller as the dialog does.
  void connect() {
    ASSERT_EQ(open(link), LINK_OK);
    ASSERT_EQ(classifyController(escModelCode(link), target), ClassificationResult::Supported);
    writesBeforeUpdate = sim::entriesOf(bus, EventKind::Write).size();
  }

  void setModelCode(std::uint32_t code, std::size_t device = 0) {
    std::uint8_t* ident = bus.devices[device].identity.escIdent;
    for (int i = 0; i < 4; ++i) ident[i] = static_cast<std::uint8_t>(code >> (8 * i));
  }

  void setInstalledVersion(std::uint16_t version, std::size_t device = 0) {
    std::uint8_t* info = bus.devices[device].identity.escInfo;
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
                  recordProgressClose, recordError,    recordSuccess,      recordRefusal,
                  recordSequenceStart, recordWait};
  std::size_t writesBeforeUpdate = 0;
};

class RunUpdateTest : public testing::Test, public UpdateSession {};

}  // namespace esc::test
