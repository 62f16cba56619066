// A HID platform whose every answer the fuzzer chooses: the enumeration (paths, ids,
// interfaces that cannot be opened or read, declared report lengths), the outcome and last
// error of each transfer, the answer bytes, short reads, silences, stale and stray reports.
// Where the input says "as usual" (and once the input is used up) the emulated unit
// answers, so that a run can get through a whole update. Time is virtual.
//
// The table checks what the link must do whatever the answers are: one open device at a
// time, transfers only on open handles, requests of exactly the declared length with the
// record's 60 bytes in front, one read per written request. It records every transfer for
// the checks that judge whole identifications and updates.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "device/hid_link.h"
#include "device/hid_platform.h"
#include "emulator/sim_bus.h"

namespace esc::fuzz {

struct FuzzInterface {
  std::u16string path;
  bool detailAvailable = true;
  bool opens = true;
  bool attributesReadable = true;
  bool capabilitiesReadable = true;
  std::uint16_t vendorId = UNIT_VENDOR_ID;
  std::uint16_t productId = 1;
  std::uint16_t inputLength = REPORT_SIZE;
  std::uint16_t outputLength = REPORT_SIZE;
};

struct Transfer {
  std::uint8_t request[REPORT_SIZE];
  bool written;
  bool readAttempted;
  bool read;                // a whole answer arrived
  HidReport answer;         // its first 60 bytes, when it arrived
  std::uint32_t lastError;  // left by the failed transfer; 0 when both transfers completed
  std::uint64_t writtenAt;
  std::uint64_t endedAt;  // when the read returned, or the write failed
};

struct Handle {
  DeviceHandle value;
  std::size_t interface;
  std::uint32_t enumeration;
  bool open;
};

struct FuzzBus {
  explicit FuzzBus(FuzzedDataProvider& input);
  FuzzBus(const FuzzBus&) = delete;
  FuzzBus& operator=(const FuzzBus&) = delete;

  FuzzedDataProvider& input;
  HidPlatform platform;

  // The latest enumeration: what `open` could find.
  bool enumerationFailed = false;
  std::vector<FuzzInterface> interfaces;
  std::uint32_t enumerations = 0;
  bool enumerating = false;

  std::vector<Handle> handles;
  DeviceHandle nextHandle = 0x40;

  // What answers "as usual": the emulated unit and its ESC.
  sim::Device unit;
  std::deque<HidReport> pending;  // reports the unit sent and nobody read yet

  std::vector<Transfer> transfers;
  std::uint32_t lastError = 0;
  std::uint64_t now = 0;  // microseconds
  // Set while no request may be sent: after an update reported its outcome.
  bool requestsForbidden = false;
};

// Open handles, for the check that nothing is left open.
std::size_t openHandles(const FuzzBus& bus);
const Handle* findOpenHandle(const FuzzBus& bus, DeviceHandle value);

}  // namespace esc::fuzz
