// What the simulated programming unit reports about itself and the ESC on its cable, and
// which fault its next exchanges meet. The settings come from ESCSIM_* variables at
// start-up (the program itself takes no command line) and later from the simulator
// window's fields; both go through the parsers below, so they accept the same texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "emulator/sim_bus.h"

namespace esc::sim {

enum class FaultChoice {
  None,
  LockRefused,    // the next system lock is answered with byte 3 = 0
  UnlockStatus,   // the next unlock is answered with the error marker and `status`
  EraseStatus,    // the next erase, likewise
  AddressStatus,  // the next flash address, likewise
  BlockFails,     // data block `block` of the next update, likewise
  NoAnswer,       // the unit stays silent after the next system lock request
  UnplugAtBlock,  // the unit is pulled just before data block `block` is written
  IdentLost,      // the answer to the next ESC identification request is lost
};

struct FaultSetting {
  FaultChoice choice = FaultChoice::None;
  std::uint32_t block = 0;   // from 1; BlockFails and UnplugAtBlock only
  std::uint32_t status = 0;  // the status under the error marker, where there is one
};

struct UnitSettings {
  bool plugged;
  std::uint32_t modelCode;
  std::uint16_t escFirmwareVersion;  // 0xFFFF: the ESC reports no firmware
  std::uint32_t bootloaderVersion;
  std::uint32_t unitFirmwareVersion;
  std::uint16_t productId;
  bool wrongMode;
  std::uint16_t escStatus;
  FaultSetting fault;
  // Not the unit's: the program's registration for device notifications is refused, as
  // a system without the notification service would.
  bool notificationsRefused;
};

// A plugged unit as the emulator builds it by default: a supported ESC with firmware 1.0.
UnitSettings defaultSettings();

// Parsers for one setting each. Surrounding blanks are ignored, and so is anything after
// the first blank (so that list entries such as "0x110FA0D2  supported" parse). Numbers
// are decimal, or hexadecimal with 0x. Each returns false, leaving `value` unchanged,
// when the text is not of its form.
bool parseSwitch(const std::string& text, bool& value);              // 0 or 1
bool parseModelCode(const std::string& text, std::uint32_t& value);  // hex, 0x optional
bool parseNumber16(const std::string& text, std::uint16_t& value);
// The ESC firmware version: "major.minor" (each 0..255), a 16-bit number, or "none".
bool parseEscVersion(const std::string& text, std::uint16_t& value);
// Unit firmware and bootloader versions, packed as the version rows read them:
// "a.b" is 0x0000aabb, "a.b.c" is 0xaa00bbcc; or a 32-bit number.
bool parsePackedVersion(const std::string& text, std::uint32_t& value);
// "none", "lock-refused", "unlock-status[:S]", "erase-status[:S]", "address-status[:S]",
// "block:N[:S]", "no-answer", "unplug:N" or "ident-lost"; S is the unit's status (a
// default per fault when left out), N a data block counted from 1.
bool parseFault(const std::string& text, FaultSetting& value);
// The fault in the form parseFault reads.
std::string faultText(const FaultSetting& fault);
// A 32-bit number as "0x" and eight upper-case hex digits, a form every parser here reads.
std::string hexText(std::uint32_t value);

struct SettingOption {
  const char* variable;  // ESCSIM_...
  const char* form;      // for the error message and the documentation
};

inline constexpr SettingOption SETTING_OPTIONS[] = {
    {"ESCSIM_PLUGGED", "0 or 1"},
    {"ESCSIM_MODEL", "a 32-bit model code in hex, e.g. 0x0A0640AA"},
    {"ESCSIM_ESC_VERSION", "major.minor, a 16-bit number or none"},
    {"ESCSIM_BOOTLOADER_VERSION", "a.b, a.b.c or a 32-bit number"},
    {"ESCSIM_UNIT_VERSION", "a.b, a.b.c or a 32-bit number"},
    {"ESCSIM_PRODUCT_ID", "a 16-bit number (1 and 2 are units)"},
    {"ESCSIM_WRONG_MODE", "0 or 1"},
    {"ESCSIM_ESC_STATUS", "a 16-bit number (3: an updatable ESC)"},
    {"ESCSIM_FAULT",
     "none, lock-refused, unlock-status[:S], erase-status[:S], address-status[:S], "
     "block:N[:S], no-answer, unplug:N or ident-lost"},
    {"ESCSIM_REFUSE_NOTIFICATIONS", "0 or 1"},
};

// Reads every variable of SETTING_OPTIONS through `lookup` (which returns null for an
// unset variable) into `settings`. On the first malformed value returns false with
// `error` naming the variable, its value and the expected form.
bool readSettings(const char* (*lookup)(const char* variable, void* context), void* context,
                  UnitSettings& settings, std::string& error);

// Makes `unit` report the settings' identity (the fault and `plugged` are not part of it).
void applyIdentity(const UnitSettings& settings, Device& unit);

// Replaces the bus's faults by the one the setting describes, counted from the requests
// the bus has seen so far: "block 3" is the third data block from now. None clears them.
void armFault(Bus& bus, const FaultSetting& fault);

}  // namespace esc::sim
