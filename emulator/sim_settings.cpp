#include "emulator/sim_settings.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "device/report_layout.h"

namespace esc::sim {
namespace {

// Distinct statuses per step, so that an error box tells which injected fault it shows.
constexpr std::uint32_t DEFAULT_UNLOCK_STATUS = UNIT_STATUS_NOT_UNLOCKED;
constexpr std::uint32_t DEFAULT_ERASE_STATUS = UNIT_STATUS_NOT_ERASED;
constexpr std::uint32_t DEFAULT_ADDRESS_STATUS = UNIT_STATUS_NO_ADDRESS;
constexpr std::uint32_t DEFAULT_BLOCK_STATUS = UNIT_STATUS_OUT_OF_RANGE;

constexpr std::uint16_t NO_ESC_FIRMWARE = 0xFFFF;

// The text up to the first blank, without leading blanks.
std::string firstWord(const std::string& text) {
  const auto isBlank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  const auto begin = std::find_if_not(text.begin(), text.end(), isBlank);
  const auto end = std::find_if(begin, text.end(), isBlank);
  return std::string(begin, end);
}

int digitValue(char c, unsigned base) {
  int value = -1;
  if (c >= '0' && c <= '9') {
    value = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    value = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    value = c - 'A' + 10;
  }
  return value >= 0 && static_cast<unsigned>(value) < base ? value : -1;
}

// A whole word of digits in `base` that fits `limit`.
bool parseDigits(const std::string& word, unsigned base, std::uint32_t limit,
                 std::uint32_t& value) {
  if (word.empty()) {
    return false;
  }
  std::uint64_t result = 0;
  for (const char c : word) {
    const int digit = digitValue(c, base);
    if (digit < 0) {
      return false;
    }
    result = result * base + static_cast<unsigned>(digit);
    if (result > limit) {
      return false;
    }
  }
  value = static_cast<std::uint32_t>(result);
  return true;
}

bool hasHexPrefix(const std::string& word) {
  return word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
}

// Decimal, or hexadecimal with 0x.
bool parseUnsigned(const std::string& word, std::uint32_t limit, std::uint32_t& value) {
  if (hasHexPrefix(word)) {
    return parseDigits(word.substr(2), 16, limit, value);
  }
  return parseDigits(word, 10, limit, value);
}

// Splits at every `separator`.
std::vector<std::string> split(const std::string& word, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at = word.find(separator); at != std::string::npos;
       at = word.find(separator, start)) {
    parts.push_back(word.substr(start, at - start));
    start = at + 1;
  }
  parts.push_back(word.substr(start));
  return parts;
}

// Dotted decimal parts of 0..255 each.
bool parseDotted(const std::string& word, std::vector<std::uint32_t>& parts) {
  parts.clear();
  for (const std::string& piece : split(word, '.')) {
    std::uint32_t part = 0;
    if (!parseDigits(piece, 10, 0xFF, part)) {
      return false;
    }
    parts.push_back(part);
  }
  return true;
}

struct FaultForm {
  const char* name;
  FaultChoice choice;
  bool takesBlock;
  bool takesStatus;
  std::uint32_t defaultStatus;
};

constexpr FaultForm FAULT_FORMS[] = {
    {"none", FaultChoice::None, false, false, 0},
    {"lock-refused", FaultChoice::LockRefused, false, false, 0},
    {"unlock-status", FaultChoice::UnlockStatus, false, true, DEFAULT_UNLOCK_STATUS},
    {"erase-status", FaultChoice::EraseStatus, false, true, DEFAULT_ERASE_STATUS},
    {"address-status", FaultChoice::AddressStatus, false, true, DEFAULT_ADDRESS_STATUS},
    {"block", FaultChoice::BlockFails, true, true, DEFAULT_BLOCK_STATUS},
    {"no-answer", FaultChoice::NoAnswer, false, false, 0},
    {"unplug", FaultChoice::UnplugAtBlock, true, false, 0},
    {"ident-lost", FaultChoice::IdentLost, false, false, 0},
};

const FaultForm* formOf(FaultChoice choice) {
  for (const FaultForm& form : FAULT_FORMS) {
    if (form.choice == choice) {
      return &form;
    }
  }
  return nullptr;
}

bool applyOption(const char* variable, const std::string& text, UnitSettings& settings) {
  const std::string name = variable;
  if (name == "ESCSIM_PLUGGED") return parseSwitch(text, settings.plugged);
  if (name == "ESCSIM_MODEL") return parseModelCode(text, settings.modelCode);
  if (name == "ESCSIM_ESC_VERSION") return parseEscVersion(text, settings.escFirmwareVersion);
  if (name == "ESCSIM_BOOTLOADER_VERSION") {
    return parsePackedVersion(text, settings.bootloaderVersion);
  }
  if (name == "ESCSIM_UNIT_VERSION") return parsePackedVersion(text, settings.unitFirmwareVersion);
  if (name == "ESCSIM_PRODUCT_ID") return parseNumber16(text, settings.productId);
  if (name == "ESCSIM_WRONG_MODE") return parseSwitch(text, settings.wrongMode);
  if (name == "ESCSIM_ESC_STATUS") return parseNumber16(text, settings.escStatus);
  if (name == "ESCSIM_FAULT") return parseFault(text, settings.fault);
  if (name == "ESCSIM_REFUSE_NOTIFICATIONS")
    return parseSwitch(text, settings.notificationsRefused);
  return false;
}

}  // namespace

std::string hexText(std::uint32_t value) {
  static const char DIGITS[] = "0123456789ABCDEF";
  std::string text = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) {
    text += DIGITS[(value >> shift) & 0xFu];
  }
  return text;
}

UnitSettings defaultSettings() {
  const Device unit = makeSupportedUnitWithoutFlash();
  HidLink view;
  std::copy(std::begin(unit.identity.escInfo), std::end(unit.identity.escInfo), view.escInfo);
  std::copy(std::begin(unit.identity.escIdent), std::end(unit.identity.escIdent), view.escIdent);
  UnitSettings settings{};
  settings.plugged = true;
  settings.modelCode = escModelCode(view);
  settings.escFirmwareVersion = escFirmwareVersion(view);
  settings.bootloaderVersion = escBootloaderVersion(view);
  settings.unitFirmwareVersion = unit.identity.firmwareVersion;
  settings.productId = unit.productId;
  settings.wrongMode = unit.identity.wrongMode != 0;
  settings.escStatus = unit.identity.escStatus;
  return settings;
}

bool parseSwitch(const std::string& text, bool& value) {
  const std::string word = firstWord(text);
  if (word != "0" && word != "1") {
    return false;
  }
  value = word == "1";
  return true;
}

bool parseModelCode(const std::string& text, std::uint32_t& value) {
  const std::string word = firstWord(text);
  return parseDigits(hasHexPrefix(word) ? word.substr(2) : word, 16, 0xFFFFFFFFu, value);
}

bool parseNumber16(const std::string& text, std::uint16_t& value) {
  std::uint32_t number = 0;
  if (!parseUnsigned(firstWord(text), 0xFFFF, number)) {
    return false;
  }
  value = static_cast<std::uint16_t>(number);
  return true;
}

bool parseEscVersion(const std::string& text, std::uint16_t& value) {
  const std::string word = firstWord(text);
  if (word == "none") {
    value = NO_ESC_FIRMWARE;
    return true;
  }
  std::vector<std::uint32_t> parts;
  if (word.find('.') != std::string::npos) {
    if (!parseDotted(word, parts) || parts.size() != 2) {
      return false;
    }
    value = static_cast<std::uint16_t>((parts[0] << 8) | parts[1]);
    return true;
  }
  return parseNumber16(word, value);
}

bool parsePackedVersion(const std::string& text, std::uint32_t& value) {
  const std::string word = firstWord(text);
  if (word.find('.') == std::string::npos) {
    return parseUnsigned(word, 0xFFFFFFFFu, value);
  }
  std::vector<std::uint32_t> parts;
  if (!parseDotted(word, parts)) {
    return false;
  }
  if (parts.size() == 2) {
    value = (parts[0] << 8) | parts[1];
    return true;
  }
  if (parts.size() == 3) {
    value = (parts[0] << 24) | (parts[1] << 8) | parts[2];
    return true;
  }
  return false;
}

bool parseFault(const std::string& text, FaultSetting& value) {
  const std::vector<std::string> parts = split(firstWord(text), ':');
  for (const FaultForm& form : FAULT_FORMS) {
    if (parts[0] != form.name) {
      continue;
    }
    FaultSetting fault{form.choice, 0, form.defaultStatus};
    std::size_t next = 1;
    if (form.takesBlock) {
      if (next >= parts.size() || !parseUnsigned(parts[next], 0xFFFFFFFFu, fault.block) ||
          fault.block == 0) {
        return false;
      }
      ++next;
    }
    if (form.takesStatus && next < parts.size()) {
      if (!parseUnsigned(parts[next], 0xFFFFFFFFu, fault.status)) {
        return false;
      }
      ++next;
    }
    if (next != parts.size()) {
      return false;
    }
    value = fault;
    return true;
  }
  return false;
}

std::string faultText(const FaultSetting& fault) {
  const FaultForm* form = formOf(fault.choice);
  if (form == nullptr) {
    return "none";
  }
  std::string text = form->name;
  if (form->takesBlock) {
    text += ":" + std::to_string(fault.block);
  }
  if (form->takesStatus) {
    text += ":" + hexText(fault.status);
  }
  return text;
}

bool readSettings(const char* (*lookup)(const char* variable, void* context), void* context,
                  UnitSettings& settings, std::string& error) {
  for (const SettingOption& option : SETTING_OPTIONS) {
    const char* value = lookup(option.variable, context);
    if (value == nullptr) {
      continue;
    }
    if (!applyOption(option.variable, value, settings)) {
      error = std::string(option.variable) + "=" + value + " is not valid; expected " +
              option.form + ".";
      return false;
    }
  }
  return true;
}

void applyIdentity(const UnitSettings& settings, Device& unit) {
  UnitIdentity& identity = unit.identity;
  identity.wrongMode = settings.wrongMode ? 1 : 0;
  identity.firmwareVersion = settings.unitFirmwareVersion;
  // In the wrong mode the unit keeps its version in its own memory.
  identity.memoryWords[0] = settings.unitFirmwareVersion;
  identity.escStatus = settings.escStatus;
  writeLe16(identity.escInfo + 4, settings.escFirmwareVersion);
  writeLe32(identity.escIdent, settings.modelCode);
  writeLe32(identity.escIdent + 4, settings.bootloaderVersion);
  unit.productId = settings.productId;
}

void armFault(Bus& bus, const FaultSetting& fault) {
  bus.faults.clear();
  const auto next = [&bus](DeviceCommand command, std::uint32_t ahead) {
    return bus.commandRequests[command] + ahead;
  };
  switch (fault.choice) {
    case FaultChoice::None:
      return;
    case FaultChoice::LockRefused: {
      Fault lock = onCommand(FaultKind::AnswerByte3, CMD_SYSTEM_LOCK, next(CMD_SYSTEM_LOCK, 1));
      lock.byte3 = 0;
      bus.faults.push_back(lock);
      return;
    }
    case FaultChoice::UnlockStatus:
    case FaultChoice::EraseStatus:
    case FaultChoice::AddressStatus: {
      const DeviceCommand command = fault.choice == FaultChoice::UnlockStatus  ? CMD_WRITE_PROTECT
                                    : fault.choice == FaultChoice::EraseStatus ? CMD_ERASE
                                                                               : CMD_SET_ADDRESS;
      Fault status = onCommand(FaultKind::ErrorStatus, command, next(command, 1));
      status.status = fault.status;
      bus.faults.push_back(status);
      return;
    }
    case FaultChoice::BlockFails: {
      Fault status = atBlock(FaultKind::ErrorStatus, next(CMD_WRITE_BLOCK, fault.block));
      status.status = fault.status;
      bus.faults.push_back(status);
      return;
    }
    case FaultChoice::NoAnswer:
      bus.faults.push_back(
          onCommand(FaultKind::NoAnswer, CMD_SYSTEM_LOCK, next(CMD_SYSTEM_LOCK, 1)));
      return;
    case FaultChoice::UnplugAtBlock:
      bus.faults.push_back(
          atBlock(FaultKind::UnplugBeforeWrite, next(CMD_WRITE_BLOCK, fault.block)));
      return;
    case FaultChoice::IdentLost:
      bus.faults.push_back(
          onCommand(FaultKind::ReadFails, CMD_GET_ESC_IDENT, next(CMD_GET_ESC_IDENT, 1)));
      return;
  }
}

}  // namespace esc::sim
