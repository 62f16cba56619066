#include <cstring>

#include "device/hid_link.h"
#include "device/report_layout.h"

namespace esc {
namespace {

// Learns the declared report lengths. A report shorter than the 60-byte record would cut
// every command (and every firmware block) short, so such a unit is refused here rather
// than sent truncated requests later; very long declarations are refused as well so the
// exchange can pad and trim within a fixed stack buffer.
std::int32_t queryCapabilities(HidLink& link) {
  if (!isOpen(link) || link.devicePath == nullptr) {
    return LINK_UNAVAILABLE;
  }
  const HidPlatform& platform = hidPlatform();
  std::uint16_t inputLength = 0;
  std::uint16_t outputLength = 0;
  if (!platform.readCapabilities(platform.context, link.deviceHandle, inputLength, outputLength)) {
    return LINK_UNAVAILABLE;
  }
  for (const std::uint32_t length : {std::uint32_t{inputLength}, std::uint32_t{outputLength}}) {
    if (length < REPORT_SIZE || length > MAX_DECLARED_REPORT_LENGTH) {
      return LINK_UNAVAILABLE;
    }
  }
  link.inputReportLength = inputLength;
  link.outputReportLength = outputLength;
  return LINK_OK;
}

// The unit runs in a mode that cannot update: its versions live in its own memory.
std::int32_t identifyWrongMode(HidLink& link, const HidReport& unitInfo) {
  link.wrongModeInfo.byte4 = unitInfo.bytes[4];
  link.wrongModeInfo.bytes5to6 = readLe16(unitInfo.bytes + 5);
  link.wrongModeInfo.bytes7to10 = readLe32(unitInfo.bytes + 7);
  link.wrongModeInfo.bytes11to14 = readLe32(unitInfo.bytes + 11);
  link.wrongModeInfo.byte15 = unitInfo.bytes[15];

  // Bytes 8..15 are zero: the length value 12 covers them, but the unit takes only the
  // address from this request.
  HidReport request = makeRequest(CMD_READ_UNIT_MEMORY, 0x0C);
  writeLe32(request.bytes + 4, UNIT_INFO_ADDRESS);
  HidReport answer{};
  const std::int32_t result = exchange(link, request, answer);
  if (result != LINK_OK) {
    return result;
  }
  link.unitFirmwareVersion = readLe32(answer.bytes + 8);
  link.unitAuxWord = readLe32(answer.bytes + 12);
  return LINK_OK;
}

// Both ESC answers carry a 16-bit status under the marker; bytes 6..7 do not count.
std::int32_t escStatusOf(const HidReport& answer) { return readLe16(answer.bytes + 4); }

std::int32_t identifyEsc(HidLink& link) {
  HidReport request = makeRequest(CMD_GET_ESC_INFO, 0x08);
  writeLe32(request.bytes + 4, ESC_INFO_PARAMETER_1);
  writeLe32(request.bytes + 8, ESC_INFO_PARAMETER_2);
  HidReport answer{};
  std::int32_t result = exchange(link, request, answer);
  if (result != LINK_OK) {
    return result;
  }
  if (hasErrorMarker(answer)) {
    // A zero status leaves the information block empty and identification goes on.
    const std::int32_t status = escStatusOf(answer);
    if (status != 0) {
      return status;
    }
  } else {
    std::memcpy(link.escInfo, answer.bytes + 4, sizeof link.escInfo);
  }

  // A fresh request with length value 0: the command takes no parameter, and nothing of
  // the previous answer should reach the unit.
  result = exchange(link, makeRequest(CMD_GET_ESC_IDENT, 0x00), answer);
  if (result != LINK_OK) {
    return result;
  }
  if (hasErrorMarker(answer)) {
    return escStatusOf(answer);
  }
  std::memcpy(link.escIdent, answer.bytes + 4, sizeof link.escIdent);
  return LINK_OK;
}

}  // namespace

std::int32_t identify(HidLink& link) {
  const std::int32_t capabilities = queryCapabilities(link);
  if (capabilities != LINK_OK) {
    return capabilities;
  }
  HidReport answer{};
  const std::int32_t result = exchange(link, makeRequest(CMD_GET_UNIT_INFO, 0x00), answer);
  if (result != LINK_OK) {
    return result;
  }
  // The unit's own information is data even when byte 1 holds 0xFF.
  link.unitWrongMode = answer.bytes[3];
  if (link.unitWrongMode != 0) {
    return identifyWrongMode(link, answer);
  }
  link.escStatus = readLe16(answer.bytes + 4);
  link.escStatusAux = readLe16(answer.bytes + 6);
  link.unitFirmwareVersion = readLe32(answer.bytes + 8);
  link.unitAuxWord = readLe32(answer.bytes + 12);
  if (link.escStatus != ESC_STATUS_READY) {
    return LINK_OK;
  }
  return identifyEsc(link);
}

}  // namespace esc
