// The one link to the USB programming unit: discovery, the report exchange and the
// record that holds what identification learned about the unit and its ESC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "device/hid_platform.h"

namespace esc {

// Result codes of every link operation. Any other value is a status code of the unit.
inline constexpr std::int32_t LINK_OK = 0;
inline constexpr std::int32_t LINK_UNAVAILABLE = -1;
inline constexpr std::int32_t LINK_WRITE_FAILED = -2;
inline constexpr std::int32_t LINK_READ_FAILED = -3;
inline constexpr std::int32_t LINK_NO_UNIT = -4;
// The Windows headers define the same name with the same value.
#ifndef ERROR_FUNCTION_FAILED
inline constexpr std::int32_t ERROR_FUNCTION_FAILED = 1627;
#endif

inline constexpr std::uint16_t UNIT_VENDOR_ID = ESC_UNIT_VENDOR_ID;
inline constexpr std::uint16_t UNIT_PRODUCT_IDS[] = {1, 2};

// True for the vendor and product ids of a programming unit that discovery opens.
bool isUnitIdentity(std::uint16_t vendorId, std::uint16_t productId);

inline constexpr std::size_t REPORT_SIZE = 60;
inline constexpr std::uint8_t OUTPUT_REPORT_ID = 0x01;
inline constexpr std::uint8_t INPUT_REPORT_ID = 0x02;
inline constexpr std::uint8_t ANSWER_ERROR_MARKER = 0xFF;

// A silent unit must never hang the program. Every answer of a working unit, the
// erase's included, arrives far sooner than this.
inline constexpr std::uint32_t LINK_WRITE_TIMEOUT_MS = 10000;
inline constexpr std::uint32_t LINK_READ_TIMEOUT_MS = 10000;
// Longest declared report the link pads or trims to its 60-byte record.
inline constexpr std::uint32_t MAX_DECLARED_REPORT_LENGTH = 1024;

enum DeviceCommand : std::uint8_t {
  CMD_GET_UNIT_INFO = 0x08,
  CMD_READ_UNIT_MEMORY = 0x0A,
  CMD_SYSTEM_LOCK = 0x0B,
  CMD_WRITE_BLOCK = 0x1B,
  CMD_GET_ESC_INFO = 0x1D,
  CMD_ERASE = 0x1E,
  CMD_SET_ADDRESS = 0x1F,
  CMD_WRITE_PROTECT = 0x20,
  CMD_GET_ESC_IDENT = 0x22,
};

// One report in either direction: 4 header bytes and 56 bytes of parameters or data.
struct HidReport {
  std::uint8_t bytes[REPORT_SIZE];
};

struct WrongModeInfo {
  std::uint8_t byte4;
  std::uint16_t bytes5to6;
  std::uint32_t bytes7to10;
  std::uint32_t bytes11to14;
  std::uint8_t byte15;
};

struct HidLink {
  DeviceHandle deviceHandle = INVALID_DEVICE_HANDLE;
  std::unique_ptr<char16_t[]> devicePath;  // NUL-terminated; null while closed
  std::uint32_t outputReportLength = 0;
  std::uint32_t inputReportLength = 0;
  std::uint8_t unitWrongMode = 0;
  std::uint32_t unitFirmwareVersion = 0;
  std::uint32_t unitAuxWord = 0;
  std::uint16_t escStatus = 0;
  std::uint16_t escStatusAux = 0;
  WrongModeInfo wrongModeInfo{};
  std::uint8_t escInfo[32]{};
  std::uint8_t escIdent[40]{};
  std::uint16_t productId = 0;
};

inline bool isOpen(const HidLink& link) { return link.deviceHandle != INVALID_DEVICE_HANDLE; }

// Views into the identification blocks (little-endian).
std::uint16_t escFirmwareVersion(const HidLink& link);
void setEscFirmwareVersion(HidLink& link, std::uint16_t version);
std::uint32_t escModelCode(const HidLink& link);
std::uint32_t escBootloaderVersion(const HidLink& link);

// Closes any open link, opens the first qualifying programming unit and identifies it.
// Returns identify's result, LINK_UNAVAILABLE when the device list is unavailable, or
// LINK_NO_UNIT when no unit qualifies.
std::int32_t open(HidLink& link);
// Releases the device and returns the record to its cleared state.
void close(HidLink& link);
// Sends one request and receives one answer. Returns LINK_OK, LINK_UNAVAILABLE,
// LINK_WRITE_FAILED or LINK_READ_FAILED; evaluating the answer is the caller's.
std::int32_t exchange(HidLink& link, const HidReport& request, HidReport& answer);

// Identification: capability query, then CMD_GET_UNIT_INFO and what follows from it.
std::int32_t identify(HidLink& link);

}  // namespace esc
