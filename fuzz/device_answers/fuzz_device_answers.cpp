// Discovery, identification, detection and whole updates against a unit whose every answer
// the fuzzer chooses, with a front end that answers the questions from the input and may
// see the unit pulled and another plugged in while a question is open. Each identification
// and each update is judged against rules.h from the transfers that really happened: no
// success unless every block was accepted, every failure reported with its step's message,
// value and last error after the link was closed, at most one outcome per update, and no
// request after it.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "device/report_layout.h"
#include "fuzz/device_answers/fuzz_bus.h"
#include "fuzz/device_answers/rules.h"
#include "fuzz/fuzz_check.h"
#include "resources/message_ids.h"
#include "ui/detection_outcome.h"
#include "updater/run_update.h"

namespace esc::fuzz {
namespace {

constexpr std::size_t DEFAULT_IMAGE_BYTES = 100;
constexpr std::size_t MAX_IMAGE_BYTES = 600;
constexpr std::uint8_t MAX_ACTIONS = 4;
constexpr std::uint64_t ERASE_ANSWER_DELAY_US = 1000 * 1000;
constexpr std::uint64_t AFTER_ERASE_PAUSE_US = 4000 * 1000;
constexpr std::size_t NONE = static_cast<std::size_t>(-1);

struct Run {
  explicit Run(FuzzBus& fuzzBus) : bus(fuzzBus) {}

  FuzzBus& bus;
  HidLink link;
  UpdateTarget target{};
  bool updateEnabled = false;

  // The update in progress.
  bool linkOpenAtStart = false;
  std::size_t sequenceStart = NONE;
  bool linkOpenAtSequence = false;
  bool declined = false;
  int questions = 0;
  int outcomes = 0;
  bool imageMissing = false;
  std::vector<std::uint8_t> image;
  bool progressOpen = false;
  int progressOpens = 0;
  std::uint32_t position = 0;
};

// The loader has no context of its own.
Run* current = nullptr;

std::u16string textOf(MessageId id) {
  char16_t text[MESSAGE_BUFFER_UNITS];
  loadMessage(id, text);
  return text;
}

bool sameBytes(const std::uint8_t* bytes, const std::uint8_t* expected, std::size_t count) {
  return std::memcmp(bytes, expected, count) == 0;
}

bool allZero(const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

// --- Identification -----------------------------------------------------------------

// The first interface that qualifies as a unit, or NONE.
std::size_t firstUnit(const FuzzBus& bus) {
  for (std::size_t index = 0; index < bus.interfaces.size(); ++index) {
    const FuzzInterface& interface = bus.interfaces[index];
    if (interface.detailAvailable && interface.opens && interface.attributesReadable &&
        interface.vendorId == UNIT_VENDOR_ID &&
        (interface.productId == 1 || interface.productId == 2)) {
      return index;
    }
  }
  return NONE;
}

bool carriesLength(std::uint16_t length) {
  return length >= REPORT_SIZE && length <= MAX_DECLARED_REPORT_LENGTH;
}

// Walks the transfers of one identification along the questions its answers call for.
class IdentificationCheck {
 public:
  IdentificationCheck(const Run& run, std::int32_t result, std::size_t first)
      : run_(run), result_(result), next_(first) {}

  void run() {
    const Transfer* info = ask(unitInfoRequest());
    if (info == nullptr) return;
    const HidLink& link = run_.link;
    const HidReport& answer = info->answer;
    check(link.unitWrongMode == answer.bytes[3], "the mode is answer byte 3, marker or not");
    if (answer.bytes[3] != 0) {
      const Transfer* memory = ask(unitMemoryRequest());
      if (memory == nullptr) return;
      check(link.unitFirmwareVersion == readLe32(memory->answer.bytes + 8),
            "a unit in the wrong mode tells its version from its memory");
      return ends(LINK_OK);
    }
    check(link.escStatus == readLe16(answer.bytes + 4), "the ESC status is answer bytes 4..5");
    check(link.unitFirmwareVersion == readLe32(answer.bytes + 8), "the unit version");
    if (link.escStatus != ESC_STATUS_READY) return ends(LINK_OK);

    const Transfer* info2 = ask(escInfoRequest());
    if (info2 == nullptr) return;
    if (info2->answer.bytes[1] == ANSWER_ERROR_MARKER) {
      check(allZero(link.escInfo, sizeof link.escInfo), "no ESC information under the marker");
      const std::int32_t status = readLe16(info2->answer.bytes + 4);
      if (status != 0) return ends(status);
    } else {
      check(sameBytes(link.escInfo, info2->answer.bytes + 4, sizeof link.escInfo),
            "the ESC information is answer bytes 4..35");
    }
    const Transfer* ident = ask(escIdentRequest());
    if (ident == nullptr) return;
    if (ident->answer.bytes[1] == ANSWER_ERROR_MARKER) {
      check(allZero(link.escIdent, sizeof link.escIdent), "no ESC identity under the marker");
      return ends(readLe16(ident->answer.bytes + 4));
    }
    check(sameBytes(link.escIdent, ident->answer.bytes + 4, sizeof link.escIdent),
          "the ESC identity is answer bytes 4..43");
    ends(LINK_OK);
  }

 private:
  // The next exchange must be this request; null when it failed, after checking that
  // identification stopped there with the transfer's result.
  const Transfer* ask(const std::vector<std::uint8_t>& request) {
    const std::vector<Transfer>& transfers = run_.bus.transfers;
    check(next_ < transfers.size(), "identification asks what its answers call for");
    const Transfer& transfer = transfers[next_++];
    check(sameRequest(transfer, request), "identification sends its requests byte for byte");
    if (!transfer.written) {
      ends(LINK_WRITE_FAILED);
      return nullptr;
    }
    if (!transfer.read) {
      ends(LINK_READ_FAILED);
      return nullptr;
    }
    return &transfer;
  }

  void ends(std::int32_t result) {
    check(result_ == result, "identification returns what its last answer says");
    check(next_ == run_.bus.transfers.size(), "nothing is asked after identification ends");
  }

  const Run& run_;
  std::int32_t result_;
  std::size_t next_;
};

void checkOpen(const Run& run, std::int32_t result, std::size_t first) {
  const FuzzBus& bus = run.bus;
  const HidLink& link = run.link;
  if (bus.enumerationFailed) {
    check(result == LINK_UNAVAILABLE && !isOpen(link), "no device list: -1, closed");
    check(first == bus.transfers.size(), "no device list: nothing sent");
    return;
  }
  const std::size_t unit = firstUnit(bus);
  if (unit == NONE) {
    check(result == LINK_NO_UNIT && !isOpen(link), "no unit: -4, closed");
    check(first == bus.transfers.size() && openHandles(bus) == 0,
          "no unit: nothing sent, nothing left open");
    return;
  }
  const FuzzInterface& interface = bus.interfaces[unit];
  check(isOpen(link) && openHandles(bus) == 1, "a unit found stays open, and only it");
  const Handle* handle = findOpenHandle(bus, link.deviceHandle);
  check(handle != nullptr && handle->interface == unit, "the first qualifying unit is opened");
  check(link.devicePath && interface.path == link.devicePath.get(), "the unit's path is kept");
  check(link.productId == interface.productId, "the unit's product id is kept");
  if (!interface.capabilitiesReadable || !carriesLength(interface.inputLength) ||
      !carriesLength(interface.outputLength)) {
    check(result == LINK_UNAVAILABLE, "unusable capabilities: -1");
    check(first == bus.transfers.size(), "unusable capabilities: nothing sent");
    return;
  }
  IdentificationCheck(run, result, first).run();
}

enum class Moment { StartUp, Arrival };

void detect(Run& run, Moment moment) {
  const std::size_t first = run.bus.transfers.size();
  const std::int32_t result = open(run.link);
  checkOpen(run, result, first);
  if (result != LINK_OK) {
    if (moment == Moment::StartUp) {
      close(run.link);
      run.updateEnabled = false;
    }
    return;
  }
  const DetectionOutcome outcome = classifyOpenUnit(run.link, run.target);
  switch (outcome) {
    case DetectionOutcome::Supported:
      check(isSupportedModelCode(escModelCode(run.link)), "only a supported code is supported");
      run.updateEnabled = true;
      break;
    case DetectionOutcome::AcceptedWithoutTarget:
      break;
    default:
      run.updateEnabled = false;
      close(run.link);
      break;
  }
}

void removal(Run& run) {
  if (isOpen(run.link)) {
    close(run.link);
    run.updateEnabled = false;
  }
}

void arrival(Run& run) {
  if (!isOpen(run.link)) detect(run, Moment::Arrival);
}

// --- The update -----------------------------------------------------------------------

// Judges the transfers of the command sequence step by step. Returns the index (from the
// sequence's start) of the first step that failed, or NONE when every step up to the last
// block was accepted; checks every request's bytes and the pauses before them.
std::size_t walkSequence(const Run& run) {
  const std::vector<Transfer>& transfers = run.bus.transfers;
  const std::vector<std::vector<std::uint8_t>> blocks = blocksOf(run.image);
  std::vector<Step> steps = {Step::Lock, Step::Unlock, Step::Erase, Step::Address};
  steps.insert(steps.end(), blocks.size(), Step::Block);
  steps.push_back(Step::Restore);
  steps.push_back(Step::Release);

  const std::size_t count = transfers.size() - run.sequenceStart;
  check(count <= steps.size(), "nothing is sent after the release");
  for (std::size_t i = 0; i < count; ++i) {
    const Transfer& transfer = transfers[run.sequenceStart + i];
    const Step step = steps[i];
    const std::vector<std::uint8_t> data =
        step == Step::Block ? blocks[i - 4] : std::vector<std::uint8_t>();
    check(sameRequest(transfer, expectedRequest(step, data)),
          "every step sends its request byte for byte, the image's blocks in order");
    if (i > 0) {
      const Transfer& previous = transfers[run.sequenceStart + i - 1];
      check(transfer.writtenAt >= previous.endedAt + pauseAfterMicroseconds(steps[i - 1]),
            "every request waits its pause after the previous answer");
    }
    if (step == Step::Erase && transfer.written) {
      check(transfer.endedAt >= transfer.writtenAt + ERASE_ANSWER_DELAY_US,
            "the erase is answered no sooner than a second after it was sent");
    }
    if (step != Step::Restore && step != Step::Release && resultOf(step, transfer) != LINK_OK) {
      check(i + 1 == count, "no request after a failed step");
      return i;
    }
  }
  return NONE;
}

Step stepAt(const Run& run, std::size_t index) {
  const std::size_t blocks = blocksOf(run.image).size();
  if (index < 4) {
    const Step first[] = {Step::Lock, Step::Unlock, Step::Erase, Step::Address};
    return first[index];
  }
  return index < 4 + blocks ? Step::Block : (index == 4 + blocks ? Step::Restore : Step::Release);
}

Run& runOf(void* context) { return *static_cast<Run*>(context); }

void outcomeReported(Run& run) {
  check(run.outcomes == 0, "one outcome per update");
  ++run.outcomes;
  // Nothing may be sent until this update has returned.
  run.bus.requestsForbidden = true;
}

bool ask(void* context, Question question, const char16_t* caption, const char16_t* text) {
  Run& run = runOf(context);
  check(run.sequenceStart == NONE, "questions come before anything is sent");
  ++run.questions;
  if (question == Question::Confirmation) {
    check(run.questions == 1, "the confirmation comes first");
    check(textOf(MSG_CONFIRM_CAPTION) == caption && textOf(MSG_CONFIRM) == text,
          "the confirmation's texts");
  } else {
    check(run.questions == 2, "the version question comes second");
    const std::uint16_t installed = escFirmwareVersion(run.link);
    check(installed >= run.target.targetVersion && installed != 0xFFFF,
          "the version question only for an installed version that is not older");
  }
  // The front end handles device events while the box is open.
  const std::uint8_t choice = run.bus.input.ConsumeIntegral<std::uint8_t>();
  switch ((choice >> 1) % 4) {
    case 1:
      removal(run);
      break;
    case 2:
      removal(run);
      arrival(run);
      break;
    case 3:
      arrival(run);
      break;
    default:
      break;
  }
  const bool yes = (choice & 1) == 0;
  run.declined = !yes;
  return yes;
}

void progressOpen(void* context, const char16_t* title) {
  Run& run = runOf(context);
  check(!run.progressOpen && run.sequenceStart != NONE, "one progress window, after the address");
  check(textOf(MSG_PROGRESS_TITLE) == title, "the progress window's title");
  run.progressOpen = true;
  ++run.progressOpens;
  run.position = 0;
}

void progressSet(void* context, std::uint32_t position) {
  Run& run = runOf(context);
  check(run.progressOpen, "progress only while its window is open");
  check(position <= 100 && position >= run.position, "progress runs from 0 up to 100");
  run.position = position;
}

void progressClose(void* context) {
  Run& run = runOf(context);
  check(run.progressOpen, "the progress window closes once");
  run.progressOpen = false;
}

void reportError(void* context, const char16_t* message, const char16_t* caption,
                 std::int32_t errorValue, std::uint32_t systemError) {
  Run& run = runOf(context);
  outcomeReported(run);
  check(!isOpen(run.link) && openHandles(run.bus) == 0,
        "a failure closes the link and releases the device before it is reported");
  check(!run.progressOpen, "the progress window is gone before the report");
  check(textOf(MSG_UPDATE_FAILED_CAPTION) == caption, "every error box has its caption");

  MessageId expectedMessage = 0;
  std::int32_t expectedValue = LINK_UNAVAILABLE;
  std::uint32_t expectedError = run.bus.lastError;
  if (run.sequenceStart == NONE) {
    if (!run.linkOpenAtStart) {
      expectedMessage = MSG_UNIT_NOT_DETECTED;
    } else {
      check(run.imageMissing, "before the sequence only a missing image fails");
      expectedMessage = MSG_IMAGE_MISSING;
      expectedError = 0;
    }
  } else if (run.sequenceStart == run.bus.transfers.size()) {
    check(!run.linkOpenAtSequence, "the lock fails unsent only on a closed link");
    expectedMessage = MSG_LOCK_FAILED;
  } else {
    const std::size_t failed = walkSequence(run);
    check(failed != NONE, "a failure is reported only for a step that failed");
    const Step step = stepAt(run, failed);
    const Transfer& transfer = run.bus.transfers[run.sequenceStart + failed];
    expectedMessage = messageOf(step);
    expectedValue = resultOf(step, transfer);
    expectedError = transfer.lastError;
    if (step == Step::Erase) {
      check(run.bus.now >= transfer.endedAt + AFTER_ERASE_PAUSE_US,
            "a failed erase is reported only after the erase's pause");
    }
  }
  check(textOf(expectedMessage) == message, "the failing step's message");
  check(errorValue == expectedValue, "the failing step's value");
  check(systemError == expectedError, "the last error the failing transfer left");
}

void succeeded(void* context) {
  Run& run = runOf(context);
  outcomeReported(run);
  check(run.sequenceStart != NONE, "success only after the command sequence");
  check(walkSequence(run) == NONE, "success only when every step and every block was accepted");
  check(run.bus.transfers.size() - run.sequenceStart == 4 + blocksOf(run.image).size() + 2,
        "success only after every block, the restore and the release");
  check(isOpen(run.link), "success leaves the link open");
  check(!run.progressOpen && run.progressOpens == 1 && run.position == 100,
        "the progress reached 100 and its window is gone");
  check(escFirmwareVersion(run.link) == run.target.targetVersion, "the new version is recorded");
}

void refused(void* context) {
  Run& run = runOf(context);
  outcomeReported(run);
  check(run.sequenceStart == NONE, "a refusal sends nothing");
  check(isOpen(run.link) && !isSupportedModelCode(escModelCode(run.link)),
        "only an open unit with a controller this build does not update is refused");
}

void sequenceStarts(void* context) {
  Run& run = runOf(context);
  check(run.sequenceStart == NONE, "the sequence starts once");
  check(!run.image.empty(), "the sequence starts only with an image");
  run.sequenceStart = run.bus.transfers.size();
  run.linkOpenAtSequence = isOpen(run.link);
}

// The image for the controller on the link, as its classification selects it (a link
// closed during a question leaves that to the lock, which fails on it); the input chooses
// its bytes: small images of any length, the real one, or none.
FirmwareImage loadImage(std::uint16_t imageId) {
  Run& run = *current;
  if (isOpen(run.link)) {
    UpdateTarget expected{};
    check(classifyController(escModelCode(run.link), expected) == ClassificationResult::Supported,
          "an image is loaded only for a supported controller");
    check(imageId == selectFirmwareImage(expected), "the image of the controller on the link");
  }
  const std::uint8_t choice = run.bus.input.ConsumeIntegral<std::uint8_t>();
  run.image.clear();
  if (choice == 1) {
    const FirmwareImage real = loadFirmwareImage(imageId);
    run.image.assign(real.data, real.data + real.size);
    std::vector<std::uint8_t>& flash = run.bus.unit.bootloader.flash;
    flash.resize(std::max(flash.size(), run.image.size()), 0x00);
  } else if (choice != 2) {
    const std::size_t size =
        choice == 0 ? DEFAULT_IMAGE_BYTES
                    : run.bus.input.ConsumeIntegralInRange<std::size_t>(1, MAX_IMAGE_BYTES);
    for (std::size_t i = 0; i < size; ++i) {
      run.image.push_back(static_cast<std::uint8_t>(i * 37 + imageId));
    }
  }
  run.imageMissing = run.image.empty();
  return run.imageMissing
             ? FirmwareImage{nullptr, 0}
             : FirmwareImage{run.image.data(), static_cast<std::uint32_t>(run.image.size())};
}

void pressUpdate(Run& run) {
  run.linkOpenAtStart = isOpen(run.link);
  run.sequenceStart = NONE;
  run.linkOpenAtSequence = false;
  run.declined = false;
  run.questions = 0;
  run.outcomes = 0;
  run.imageMissing = false;
  run.image.clear();
  run.progressOpens = 0;
  const UpdatePort port{&run,        ask,       progressOpen, progressSet,    progressClose,
                        reportError, succeeded, refused,      sequenceStarts, sleepUntilDeadline};
  runUpdate(run.link, run.target, port, loadImage);
  if (run.outcomes == 0) {
    check(run.declined && run.sequenceStart == NONE, "an update ends silently only when declined");
  } else {
    run.updateEnabled = false;
  }
  run.bus.requestsForbidden = false;
}

// One run: start-up detection, then a few presses of Update and device events.
void runOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  FuzzBus bus(input);
  setHidPlatform(&bus.platform);
  setMessageLanguage(Language::English);
  Run run(bus);
  current = &run;

  detect(run, Moment::StartUp);
  // With the input used up: one press of Update, as the front end offers it.
  const std::uint8_t actions = 1 + input.ConsumeIntegral<std::uint8_t>() % MAX_ACTIONS;
  for (std::uint8_t i = 0; i < actions; ++i) {
    switch (input.ConsumeIntegral<std::uint8_t>() % 4) {
      case 0:
        if (run.updateEnabled) pressUpdate(run);
        break;
      case 1:
        // A front end without the window's button rules, such as a command line.
        pressUpdate(run);
        break;
      case 2:
        removal(run);
        break;
      default:
        arrival(run);
        break;
    }
  }
  close(run.link);
  check(openHandles(bus) == 0, "closing the link releases every device");
  current = nullptr;
  setHidPlatform(nullptr);
}

}  // namespace
}  // namespace esc::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  esc::fuzz::runOneInput(data, size);
  return 0;
}
