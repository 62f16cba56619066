// A simulated HID bus with a programming unit and other devices on it, offered to the link
// as an ordinary HidPlatform table. Tests run it on a virtual clock; the demo program runs
// it on the real clock and plugs devices in and out from its window.
//
// Every report in both directions, every open, close, enumeration and wait is logged with
// the time on the bus's clock, and faults can be injected at any exchange.
//
// Threads: the bus is not locked. A program that changes it from its own window must do
// so on the thread that drives the link, for example from the clock's idle hook, which a
// blocking wait on the real clock calls every few milliseconds.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "device/hid_link.h"
#include "device/hid_platform.h"

namespace esc::sim {

// Last-error values the bus leaves behind, the codes Windows uses for the same failures.
// (Prefixed: the Windows headers define the plain names as macros.)
inline constexpr std::uint32_t SIM_ERROR_INVALID_FUNCTION = 1;  // no output reports
inline constexpr std::uint32_t SIM_ERROR_FILE_NOT_FOUND = 2;    // no such device path
inline constexpr std::uint32_t SIM_ERROR_INVALID_HANDLE = 6;
inline constexpr std::uint32_t SIM_ERROR_INVALID_DATA = 13;          // fewer bytes than declared
inline constexpr std::uint32_t SIM_ERROR_GEN_FAILURE = 31;           // an injected transfer failure
inline constexpr std::uint32_t SIM_ERROR_SHARING_VIOLATION = 32;     // held by another program
inline constexpr std::uint32_t SIM_ERROR_INVALID_PARAMETER = 87;     // wrong report length
inline constexpr std::uint32_t SIM_ERROR_INSUFFICIENT_BUFFER = 122;  // detail unavailable
inline constexpr std::uint32_t SIM_ERROR_NO_MORE_ITEMS = 259;        // end of the list
inline constexpr std::uint32_t SIM_ERROR_DEVICE_NOT_CONNECTED = 1167;
inline constexpr std::uint32_t SIM_ERROR_TIMEOUT = 1460;

// Statuses the emulated unit answers under the error marker (bytes 4..7).
inline constexpr std::uint32_t UNIT_STATUS_UNKNOWN_COMMAND = 0x01;
inline constexpr std::uint32_t UNIT_STATUS_BAD_REQUEST = 0x02;  // length value or parameter
inline constexpr std::uint32_t UNIT_STATUS_BAD_GUARD_WORD = 0x03;
inline constexpr std::uint32_t UNIT_STATUS_NOT_UNLOCKED = 0x04;  // no lock or protection on
inline constexpr std::uint32_t UNIT_STATUS_NOT_ERASED = 0x05;
inline constexpr std::uint32_t UNIT_STATUS_NO_ADDRESS = 0x06;
inline constexpr std::uint32_t UNIT_STATUS_OUT_OF_RANGE = 0x07;  // beyond flash or memory
inline constexpr std::uint32_t UNIT_STATUS_NO_ESC = 0x08;
inline constexpr std::uint32_t UNIT_STATUS_WRONG_MODE = 0x09;

inline constexpr std::uint32_t DEFAULT_FLASH_SIZE = 128 * 1024;
inline constexpr std::size_t NO_DEVICE = static_cast<std::size_t>(-1);

enum class ClockKind { Virtual, Real };

struct Clock {
  ClockKind kind = ClockKind::Virtual;
  std::uint64_t virtualMicroseconds = 0;
  std::chrono::steady_clock::time_point realStart = std::chrono::steady_clock::now();
  // Real clock only: called every few milliseconds while a wait blocks.
  void (*idle)(void* context) = nullptr;
  void* idleContext = nullptr;
};

// What the unit tells about itself and the ESC on its cable.
struct UnitIdentity {
  std::uint8_t wrongMode = 0;         // CMD_GET_UNIT_INFO answer byte 3
  std::uint8_t wrongModeInfo[12]{};   // its bytes 4..15 while in the wrong mode
  std::uint32_t memoryWords[2]{};     // at UNIT_INFO_ADDRESS: read answer bytes 8..15
  std::uint32_t firmwareVersion = 0;  // normal mode: unit info bytes 8..11
  std::uint32_t auxWord = 0;          // normal mode: unit info bytes 12..15
  std::uint16_t escStatus = 3;        // normal mode: unit info bytes 4..5
  std::uint16_t escStatusAux = 0;     // normal mode: unit info bytes 6..7
  std::uint8_t escInfo[32]{};         // bytes 4..5: ESC firmware version
  std::uint8_t escIdent[40]{};        // bytes 0..3: model code; 4..7: bootloader version
};

// The ESC's bootloader as the unit drives it. Erasing needs the guard word, the system
// lock and lifted write protection; blocks need an erase and an address since.
struct Bootloader {
  bool systemLocked = false;
  bool writeProtected = true;
  bool erased = false;
  bool addressSet = false;
  std::uint32_t address = 0;  // where the next block goes
  std::vector<std::uint8_t> flash;
  std::uint32_t writtenEnd = 0;  // one past the highest byte written since the erase
  std::uint32_t blocksWritten = 0;
  std::uint32_t erases = 0;
};

enum class DeviceKind { ProgrammingUnit, OtherDevice };

struct Device {
  DeviceKind kind = DeviceKind::OtherDevice;
  std::u16string path;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t inputReportLength = REPORT_SIZE;
  std::uint16_t outputReportLength = REPORT_SIZE;
  bool plugged = true;
  bool heldOpenElsewhere = false;     // opening fails
  bool attributesUnreadable = false;  // vendor and product id cannot be read
  bool detailUnavailable = false;     // its interface's path cannot be fetched
  bool capabilitiesUnreadable = false;
  UnitIdentity identity;
  Bootloader bootloader;
  // Answers the unit has sent and nobody has read yet, in order.
  std::deque<HidReport> pendingAnswers;
  // Counts plug-ins, so handles from before an unplug stay dead after a re-plug.
  std::uint32_t generation = 0;
  std::uint32_t opens = 0;     // successful opens
  std::uint32_t requests = 0;  // reports the unit received
};

enum class FaultKind {
  WriteFails,         // the write fails at once (SIM_ERROR_GEN_FAILURE)
  WriteTimesOut,      // the write blocks for its timeout (SIM_ERROR_TIMEOUT)
  ReadFails,          // the answer is lost and the read fails (SIM_ERROR_GEN_FAILURE)
  NoAnswer,           // the unit stays silent: the read waits for its timeout
  ShortAnswer,        // only `length` bytes arrive (SIM_ERROR_INVALID_DATA)
  ErrorStatus,        // the answer is the marker 0xFF with `status` in bytes 4..7
  AnswerByte3,        // the usual answer with byte 3 = `byte3`
  RawAnswer,          // the answer is exactly `raw`
  UnplugBeforeWrite,  // the unit is pulled just before the request: the write fails
  UnplugBeforeRead,   // pulled once the request was written: the read fails
  LateAnswer,         // the answer comes only after the read has given up: it waits in the
                      // queue, where the next request's read would find it first
  StrayReport,        // after its answer the unit sends `raw` unasked, likewise left waiting
};

// One fault, injected at every exchange it matches: one exchange when it names an exchange
// number or a command's occurrence, every request of a command when it names only the
// command. The first matching fault in the list applies. The write faults and NoAnswer
// keep the request from the unit; with the others the unit acts on the request as usual
// and only its answer is lost, cut, or replaced.
struct Fault {
  FaultKind kind = FaultKind::WriteFails;
  std::uint32_t exchange = 0;           // 1 = the first request on the bus; 0 = any
  std::optional<std::uint8_t> command;  // request byte 1; empty = any command
  std::uint32_t occurrence = 0;         // with a command: its nth request (from 1); 0 = all
  std::uint32_t status = 0;
  std::uint8_t byte3 = 0;
  std::uint32_t length = 0;
  HidReport raw{};
};

Fault atExchange(FaultKind kind, std::uint32_t exchange);
Fault onCommand(FaultKind kind, DeviceCommand command, std::uint32_t occurrence = 0);
// The nth CMD_WRITE_BLOCK (from 1).
Fault atBlock(FaultKind kind, std::uint32_t block);

enum class EventKind { Enumerate, Open, Close, Write, Read, Sleep, Discard };

struct LogEntry {
  EventKind kind;
  std::uint64_t timeMicroseconds;  // on the bus's clock, when the event began
  bool succeeded;
  std::uint32_t error;              // the last error left by a failure
  std::size_t device;               // index into Bus::devices, or NO_DEVICE
  DeviceHandle handle;              // Open, Close, Write, Read
  std::uint32_t exchange;           // Write, Read: the exchange number
  std::uint64_t sleptMicroseconds;  // Sleep
  std::uint32_t discarded;          // Discard: the reports dropped
  std::vector<std::uint8_t> bytes;  // Write: sent; Read: delivered (all declared bytes)
};

struct OpenHandle {
  DeviceHandle value;
  std::size_t device;
  std::uint32_t generation;
  bool open;
};

struct Bus {
  Bus();
  Bus(const Bus&) = delete;
  Bus& operator=(const Bus&) = delete;

  HidPlatform platform;  // its context is this bus
  Clock clock;
  std::vector<Device> devices;  // in enumeration order
  bool listUnavailable = false;
  std::vector<Fault> faults;
  std::vector<LogEntry> log;
  std::uint32_t lastError = 0;
  std::uint32_t exchanges = 0;
  std::uint32_t commandRequests[256]{};
  std::vector<std::size_t> snapshot;  // the enumeration in progress
  bool enumerationOpen = false;       // between beginEnumeration and endEnumeration
  std::vector<OpenHandle> handles;
  DeviceHandle nextHandle = 0x100;
  std::optional<Fault> readFault;  // what the current exchange's read will meet
};

// Installs the bus as the link's platform.
void install(Bus& bus);

std::size_t addDevice(Bus& bus, Device device);
// A programming unit with a supported ESC: model code 0x110FA0D2, ESC firmware 1.0,
// bootloader 1.2, unit firmware 1.2.3, product id 1, 60-byte reports.
Device makeSupportedUnit();
// The same unit without its flash, for code that only reads what the unit reports: the
// settings' defaults, made on every parse of a settings text, need none of its 128 KB.
Device makeSupportedUnitWithoutFlash();
Device makeOtherDevice(std::uint16_t vendorId, std::uint16_t productId, std::u16string path);
// One supported unit on a bus installed as the platform; returns the unit's index.
std::size_t installSupportedUnit(Bus& bus);

void plug(Bus& bus, std::size_t device);
void unplug(Bus& bus, std::size_t device);
std::vector<std::u16string> pluggedPaths(const Bus& bus);
// The plugged device with this path (letter case ignored), or NO_DEVICE.
std::size_t findDevice(const Bus& bus, const char16_t* path);
std::size_t openHandleCount(const Bus& bus);

void useRealClock(Bus& bus, void (*idle)(void* context), void* idleContext);
std::uint64_t nowMicroseconds(const Bus& bus);
// Waits on the bus's clock (advances it at once when virtual).
void waitMicroseconds(Bus& bus, std::uint64_t microseconds);

// The unit's answer to one request; changes the unit's state as the command says.
HidReport answerRequest(Device& unit, const std::uint8_t* request);

// Log queries for tests.
std::vector<const LogEntry*> entriesOf(const Bus& bus, EventKind kind);
// Byte 1 of every request that was written successfully, in order.
std::vector<std::uint8_t> sentCommands(const Bus& bus);
// The flash from 0 to the end of what was written since the last erase.
std::vector<std::uint8_t> writtenFirmware(const Device& unit);

}  // namespace esc::sim
