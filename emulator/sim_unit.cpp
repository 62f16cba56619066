// The programming unit's side of every command. Its answers follow one layout: byte 0
// the input report id, byte 1 the command code echoed (or the marker 0xFF with a status
// in bytes 4..7), byte 2 the number of data bytes from byte 4 on, byte 3 the command's
// one-byte result.
#include <algorithm>
#include <cstring>

#include "device/bootloader.h"
#include "device/report_layout.h"
#include "emulator/sim_bus.h"

namespace esc::sim {
namespace {

HidReport dataAnswer(std::uint8_t command, std::uint8_t dataLength) {
  HidReport answer{};
  answer.bytes[0] = INPUT_REPORT_ID;
  answer.bytes[1] = command;
  answer.bytes[2] = dataLength;
  return answer;
}

HidReport statusAnswer(std::uint32_t status) {
  HidReport answer{};
  answer.bytes[0] = INPUT_REPORT_ID;
  answer.bytes[1] = ANSWER_ERROR_MARKER;
  answer.bytes[2] = 4;
  writeLe32(answer.bytes + 4, status);
  return answer;
}

HidReport unitInfo(const UnitIdentity& identity) {
  HidReport answer = dataAnswer(CMD_GET_UNIT_INFO, 12);
  answer.bytes[3] = identity.wrongMode;
  if (identity.wrongMode != 0) {
    std::memcpy(answer.bytes + 4, identity.wrongModeInfo, sizeof identity.wrongModeInfo);
    return answer;
  }
  writeLe16(answer.bytes + 4, identity.escStatus);
  writeLe16(answer.bytes + 6, identity.escStatusAux);
  writeLe32(answer.bytes + 8, identity.firmwareVersion);
  writeLe32(answer.bytes + 12, identity.auxWord);
  return answer;
}

HidReport unitMemory(const UnitIdentity& identity, const std::uint8_t* request) {
  const std::uint32_t address = readLe32(request + 4);
  if (request[2] != 0x0C) {
    return statusAnswer(UNIT_STATUS_BAD_REQUEST);
  }
  if (address != UNIT_INFO_ADDRESS) {
    return statusAnswer(UNIT_STATUS_OUT_OF_RANGE);
  }
  HidReport answer = dataAnswer(CMD_READ_UNIT_MEMORY, 12);
  writeLe32(answer.bytes + 4, address);
  writeLe32(answer.bytes + 8, identity.memoryWords[0]);
  writeLe32(answer.bytes + 12, identity.memoryWords[1]);
  return answer;
}

HidReport escBlock(std::uint8_t command, const std::uint8_t* block, std::uint8_t size) {
  HidReport answer = dataAnswer(command, size);
  std::memcpy(answer.bytes + 4, block, size);
  return answer;
}

HidReport systemLock(Bootloader& bootloader, const std::uint8_t* request) {
  if (request[2] != 0x01 || request[3] > 0x01) {
    return statusAnswer(UNIT_STATUS_BAD_REQUEST);
  }
  bootloader.systemLocked = request[3] == 0x01;
  HidReport answer = dataAnswer(CMD_SYSTEM_LOCK, 0);
  answer.bytes[3] = bootloader.systemLocked ? 0x01 : 0x00;
  return answer;
}

// Byte 3 of the answer tells the protection now in force: 0x00 lifted, 0x01 on. Lifting it
// needs the system lock; without it the unit keeps the protection and says so.
HidReport writeProtect(Bootloader& bootloader, const std::uint8_t* request) {
  if (request[2] != 0x01 || request[3] > 0x01) {
    return statusAnswer(UNIT_STATUS_BAD_REQUEST);
  }
  if (request[3] == 0x01) {
    bootloader.writeProtected = true;
  } else if (bootloader.systemLocked) {
    bootloader.writeProtected = false;
  }
  HidReport answer = dataAnswer(CMD_WRITE_PROTECT, 0);
  answer.bytes[3] = bootloader.writeProtected ? 0x01 : 0x00;
  return answer;
}

bool unlocked(const Bootloader& bootloader) {
  return bootloader.systemLocked && !bootloader.writeProtected;
}

HidReport erase(Bootloader& bootloader, const std::uint8_t* request) {
  if (request[2] != 0x04) {
    return statusAnswer(UNIT_STATUS_BAD_REQUEST);
  }
  if (readLe32(request + 4) != GUARD_WORD) {
    return statusAnswer(UNIT_STATUS_BAD_GUARD_WORD);
  }
  if (!unlocked(bootloader)) {
    return statusAnswer(UNIT_STATUS_NOT_UNLOCKED);
  }
  std::fill(bootloader.flash.begin(), bootloader.flash.end(), std::uint8_t{0xFF});
  bootloader.erased = true;
  bootloader.addressSet = false;
  bootloader.writtenEnd = 0;
  ++bootloader.erases;
  return dataAnswer(CMD_ERASE, 0);
}

HidReport setAddress(Bootloader& bootloader, const std::uint8_t* request) {
  if (request[2] != 0x09 || request[3] != 0x01) {
    return statusAnswer(UNIT_STATUS_BAD_REQUEST);
  }
  if (readLe32(request + 8) != GUARD_WORD) {
    return statusAnswer(UNIT_STATUS_BAD_GUARD_WORD);
  }
  const std::uint32_t address = readLe32(request + 4);
  if (address >= bootloader.flash.size()) {
    return statusAnswer(UNIT_STATUS_OUT_OF_RANGE);
  }
  bootloader.address = address;
  bootloader.addressSet = true;
  return dataAnswer(CMD_SET_ADDRESS, 0);
}

HidReport writeData(Bootloader& bootloader, const std::uint8_t* request) {
  const std::uint32_t count = request[2];
  if (count > MAX_BLOCK_WORDS * 4 || count % 4 != 0) {
    return statusAnswer(UNIT_STATUS_BAD_REQUEST);
  }
  if (!unlocked(bootloader)) {
    return statusAnswer(UNIT_STATUS_NOT_UNLOCKED);
  }
  if (!bootloader.erased) {
    return statusAnswer(UNIT_STATUS_NOT_ERASED);
  }
  if (!bootloader.addressSet) {
    return statusAnswer(UNIT_STATUS_NO_ADDRESS);
  }
  if (bootloader.address > bootloader.flash.size() ||
      count > bootloader.flash.size() - bootloader.address) {
    return statusAnswer(UNIT_STATUS_OUT_OF_RANGE);
  }
  std::memcpy(bootloader.flash.data() + bootloader.address, request + 4, count);
  bootloader.address += count;
  bootloader.writtenEnd = std::max(bootloader.writtenEnd, bootloader.address);
  ++bootloader.blocksWritten;
  return dataAnswer(CMD_WRITE_BLOCK, 0);
}

// Everything but the unit's own information and lock needs an ESC that can be reached.
bool reachesEsc(std::uint8_t command) {
  switch (command) {
    case CMD_GET_ESC_INFO:
    case CMD_GET_ESC_IDENT:
    case CMD_WRITE_PROTECT:
    case CMD_ERASE:
    case CMD_SET_ADDRESS:
    case CMD_WRITE_BLOCK:
      return true;
    default:
      return false;
  }
}

std::optional<HidReport> escUnreachable(const UnitIdentity& identity) {
  if (identity.wrongMode != 0) {
    return statusAnswer(UNIT_STATUS_WRONG_MODE);
  }
  if (identity.escStatus != ESC_STATUS_READY) {
    return statusAnswer(UNIT_STATUS_NO_ESC);
  }
  return std::nullopt;
}

HidReport escInfo(const UnitIdentity& identity, const std::uint8_t* request) {
  if (request[2] != 0x08 || readLe32(request + 4) != ESC_INFO_PARAMETER_1 ||
      readLe32(request + 8) != ESC_INFO_PARAMETER_2) {
    return statusAnswer(UNIT_STATUS_BAD_REQUEST);
  }
  return escBlock(CMD_GET_ESC_INFO, identity.escInfo, sizeof identity.escInfo);
}

}  // namespace

HidReport answerRequest(Device& unit, const std::uint8_t* request) {
  const std::uint8_t command = request[1];
  if (reachesEsc(command)) {
    if (const std::optional<HidReport> refusal = escUnreachable(unit.identity)) {
      return *refusal;
    }
  }
  switch (command) {
    case CMD_GET_UNIT_INFO:
      return unitInfo(unit.identity);
    case CMD_READ_UNIT_MEMORY:
      return unitMemory(unit.identity, request);
    case CMD_SYSTEM_LOCK:
      return systemLock(unit.bootloader, request);
    case CMD_GET_ESC_INFO:
      return escInfo(unit.identity, request);
    case CMD_GET_ESC_IDENT:
      return escBlock(command, unit.identity.escIdent, sizeof unit.identity.escIdent);
    case CMD_WRITE_PROTECT:
      return writeProtect(unit.bootloader, request);
    case CMD_ERASE:
      return erase(unit.bootloader, request);
    case CMD_SET_ADDRESS:
      return setAddress(unit.bootloader, request);
    case CMD_WRITE_BLOCK:
      return writeData(unit.bootloader, request);
    default:
      return statusAnswer(UNIT_STATUS_UNKNOWN_COMMAND);
  }
}

}  // namespace esc::sim
