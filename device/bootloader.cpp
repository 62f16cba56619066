#include "device/bootloader.h"

#include <cstring>

#include "device/report_layout.h"

namespace esc {

// 01 0B 01 01 sets the lock, 01 0B 01 00 releases it. Only setting is checked, and only by
// answer byte 3: the unit reports the lock it now holds there, marker or not.
std::int32_t setSystemLock(HidLink& link, LockState state) {
  HidReport request = makeRequest(CMD_SYSTEM_LOCK, 0x01);
  request.bytes[3] = state == LockState::Set ? 0x01 : 0x00;
  HidReport answer{};
  const std::int32_t result = exchange(link, request, answer);
  if (result != LINK_OK || state == LockState::Reset) {
    return result;
  }
  return answer.bytes[3] == 0x01 ? LINK_OK : ERROR_FUNCTION_FAILED;
}

// 01 20 01 00 lifts the protection, 01 20 01 01 restores it. Restoring is best effort after
// the last block, so its answer is not judged.
std::int32_t setWriteProtection(HidLink& link, WriteProtection protection) {
  const bool unlock = protection == WriteProtection::Unlock;
  HidReport request = makeRequest(CMD_WRITE_PROTECT, 0x01);
  request.bytes[3] = unlock ? 0x00 : 0x01;
  HidReport answer{};
  const std::int32_t result = exchange(link, request, answer);
  if (result != LINK_OK || !unlock) {
    return result;
  }
  if (hasErrorMarker(answer)) {
    return standardEvaluation(answer);
  }
  return answer.bytes[3] == 0x00 ? LINK_OK : ERROR_FUNCTION_FAILED;
}

// 01 1E 04 00 followed by the guard word. The exchange waits ERASE_ANSWER_DELAY_MS between
// request and answer. A status of 0xFFFFFFFF comes back as -1, indistinguishable from a
// closed link; it is passed on unchanged like every other status.
std::int32_t eraseFirmware(HidLink& link) {
  HidReport request = makeRequest(CMD_ERASE, 0x04);
  writeLe32(request.bytes + 4, GUARD_WORD);
  HidReport answer{};
  const std::int32_t result = exchange(link, request, answer);
  return result != LINK_OK ? result : standardEvaluation(answer);
}

// 01 1F 09 01, the start address 0, then the guard word. Only a nonzero status under the
// marker fails; that is exactly the standard evaluation.
std::int32_t setFlashAddress(HidLink& link) {
  HidReport request = makeRequest(CMD_SET_ADDRESS, 0x09);
  request.bytes[3] = 0x01;
  writeLe32(request.bytes + 4, 0x00000000);
  writeLe32(request.bytes + 8, GUARD_WORD);
  HidReport answer{};
  const std::int32_t result = exchange(link, request, answer);
  return result != LINK_OK ? result : standardEvaluation(answer);
}

// 01 1B, the byte count, 00, then the data bytes unchanged; the rest of the record is zero.
std::int32_t writeBlock(HidLink& link, const std::uint8_t* data, std::uint32_t words) {
  if (words > MAX_BLOCK_WORDS || (data == nullptr && words != 0)) {
    return LINK_UNAVAILABLE;
  }
  const std::uint32_t byteCount = words * 4;
  HidReport request = makeRequest(CMD_WRITE_BLOCK, static_cast<std::uint8_t>(byteCount));
  if (byteCount != 0) {
    std::memcpy(request.bytes + 4, data, byteCount);
  }
  HidReport answer{};
  const std::int32_t result = exchange(link, request, answer);
  return result != LINK_OK ? result : standardEvaluation(answer);
}

}  // namespace esc
