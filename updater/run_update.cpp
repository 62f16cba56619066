#include "updater/run_update.h"

#include <cstdint>
#include <cstring>

#include "device/bootloader.h"
#include "resources/message_ids.h"
#include "resources/messages.h"
#include "updater/firmware_image.h"

namespace esc {
namespace {

constexpr std::uint32_t BLOCK_BYTES = 48;
constexpr std::uint32_t BLOCK_WORDS = BLOCK_BYTES / 4;
constexpr std::uint16_t NO_FIRMWARE_VERSION = 0xFFFF;

// Pauses the unit needs between commands, counted from the arrival of the answer.
constexpr std::uint32_t COMMAND_PAUSE_MS = 20;
constexpr std::uint32_t AFTER_ERASE_PAUSE_MS = 4000;

std::uint64_t now() {
  const HidPlatform& platform = hidPlatform();
  return platform.nowMicroseconds(platform.context);
}

std::uint32_t lastError() {
  const HidPlatform& platform = hidPlatform();
  return platform.lastError(platform.context);
}

// Waits until `milliseconds` have passed since `start`. Pacing from the answer's arrival
// keeps the time spent on progress display inside the pause instead of adding to it.
void waitFrom(const UpdatePort& port, std::uint64_t start, std::uint32_t milliseconds) {
  port.waitUntil(port.context, start + std::uint64_t{milliseconds} * 1000u);
}

struct Texts {
  char16_t caption[MESSAGE_BUFFER_UNITS];
  char16_t message[MESSAGE_BUFFER_UNITS];
};

// Ends the update: the link is closed first, so that the dialog shows the closed state
// while the error box is open.
void fail(HidLink& link, const UpdatePort& port, Texts& texts, MessageId messageId,
          std::int32_t errorValue, std::uint32_t systemError) {
  loadMessage(MSG_UPDATE_FAILED_CAPTION, texts.caption);
  loadMessage(messageId, texts.message);
  close(link);
  port.reportError(port.context, texts.message, texts.caption, errorValue, systemError);
}

bool ask(const UpdatePort& port, Texts& texts, Question question, MessageId captionId,
         MessageId messageId) {
  loadMessage(captionId, texts.caption);
  loadMessage(messageId, texts.message);
  return port.ask(port.context, question, texts.caption, texts.message);
}

// Update is offered only for a supported controller, but device events are handled while
// a question box is open: the unit may have been pulled and another one opened in its
// place. If that one is not a controller this build updates (or could not be identified),
// the image chosen for the earlier controller must not be written into it. The unit is
// there, so it is not reported as missing: the front end shows what detection shows for
// it. A closed link is left to the lock, which fails on it.
bool replacedByUnsupportedController(const HidLink& link, const UpdatePort& port) {
  if (!isOpen(link) || isSupportedModelCode(escModelCode(link))) {
    return false;
  }
  port.refused(port.context);
  return true;
}

// Sends the image in blocks of 48 bytes; the last, shorter block is padded with 0xFF and
// carries its bytes in whole words. Returns the first failing result with its last error.
std::int32_t writeImage(HidLink& link, const UpdatePort& port, const FirmwareImage& image,
                        std::uint32_t& systemError) {
  std::uint8_t lastBlock[BLOCK_BYTES];
  const std::uint8_t* next = image.data;
  std::uint32_t remaining = image.size;
  while (remaining != 0) {
    std::int32_t result;
    if (remaining >= BLOCK_BYTES) {
      result = writeBlock(link, next, BLOCK_WORDS);
      next += BLOCK_BYTES;
      remaining -= BLOCK_BYTES;
    } else {
      std::memset(lastBlock, 0xFF, sizeof lastBlock);
      std::memcpy(lastBlock, next, remaining);
      // Rounded up, so that an image whose length is not a multiple of four still has
      // its last bytes written (followed by 0xFF) instead of losing them.
      result = writeBlock(link, lastBlock, (remaining + 3) / 4);
      remaining = 0;
    }
    const std::uint64_t answered = now();
    if (result != LINK_OK) {
      systemError = lastError();
      return result;
    }
    const std::uint64_t written = image.size - remaining;
    port.progressSet(port.context, static_cast<std::uint32_t>(written * 100u / image.size));
    waitFrom(port, answered, COMMAND_PAUSE_MS);
  }
  return LINK_OK;
}

}  // namespace

void sleepUntilDeadline(void*, std::uint64_t deadlineMicroseconds) {
  const HidPlatform& platform = hidPlatform();
  platform.sleepUntil(platform.context, deadlineMicroseconds);
}

void runUpdate(HidLink& link, UpdateTarget& target, const UpdatePort& port, ImageLoader loadImage) {
  Texts texts;
  if (!isOpen(link)) {
    fail(link, port, texts, MSG_UNIT_NOT_DETECTED, LINK_UNAVAILABLE, lastError());
    return;
  }
  if (!ask(port, texts, Question::Confirmation, MSG_CONFIRM_CAPTION, MSG_CONFIRM)) {
    return;
  }
  if (replacedByUnsupportedController(link, port)) {
    return;
  }
  if (isSupportedModelCode(escModelCode(link))) {
    target.targetVersion = SUPPORTED_TARGET_VERSION;
  }
  const std::uint16_t installed = escFirmwareVersion(link);
  if (installed >= target.targetVersion && installed != NO_FIRMWARE_VERSION) {
    if (!ask(port, texts, Question::OlderFirmware, MSG_OLDER_FIRMWARE_CAPTION,
             MSG_OLDER_FIRMWARE)) {
      return;
    }
    if (replacedByUnsupportedController(link, port)) {
      return;
    }
  }

  const FirmwareImage image = loadImage(selectFirmwareImage(target));
  if (image.data == nullptr || image.size == 0) {
    // Nothing has been sent; there is no device status to show, hence no code line.
    fail(link, port, texts, MSG_IMAGE_MISSING, LINK_UNAVAILABLE, 0);
    return;
  }

  port.sequenceStarts(port.context);
  std::int32_t result = setSystemLock(link, LockState::Set);
  std::uint64_t answered = now();
  if (result != LINK_OK) {
    fail(link, port, texts, MSG_LOCK_FAILED, result, lastError());
    return;
  }
  waitFrom(port, answered, COMMAND_PAUSE_MS);

  result = setWriteProtection(link, WriteProtection::Unlock);
  answered = now();
  if (result != LINK_OK) {
    fail(link, port, texts, MSG_UNLOCK_FAILED, result, lastError());
    return;
  }
  waitFrom(port, answered, COMMAND_PAUSE_MS);

  // The erase goes on inside the ESC after its answer: the pause follows whatever the
  // answer said. The last error is taken before the pause so that nothing can change it.
  result = eraseFirmware(link);
  answered = now();
  std::uint32_t systemError = lastError();
  waitFrom(port, answered, AFTER_ERASE_PAUSE_MS);
  if (result != LINK_OK) {
    fail(link, port, texts, MSG_ERASE_FAILED, result, systemError);
    return;
  }
  waitFrom(port, answered, AFTER_ERASE_PAUSE_MS + COMMAND_PAUSE_MS);

  result = setFlashAddress(link);
  answered = now();
  if (result != LINK_OK) {
    fail(link, port, texts, MSG_ADDRESS_FAILED, result, lastError());
    return;
  }
  waitFrom(port, answered, COMMAND_PAUSE_MS);

  loadMessage(MSG_PROGRESS_TITLE, texts.message);
  port.progressOpen(port.context, texts.message);
  port.progressSet(port.context, 0);
  result = writeImage(link, port, image, systemError);
  port.progressClose(port.context);
  if (result != LINK_OK) {
    fail(link, port, texts, MSG_BLOCK_FAILED, result, systemError);
    return;
  }

  // Restore the protection and release the lock; a failure here changes nothing, the
  // firmware is already written.
  setWriteProtection(link, WriteProtection::Restore);
  setSystemLock(link, LockState::Reset);

  setEscFirmwareVersion(link, target.targetVersion);
  port.succeeded(port.context);
}

}  // namespace esc
