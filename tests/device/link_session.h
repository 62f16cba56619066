// One emulated bus installed as the platform, and one link record on it, for one test case.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "device/hid_link.h"
#include "emulator/sim_bus.h"

namespace esc::test {

struct Session {
  Session() { sim::install(bus); }
  ~Session() {
    close(link);
    setHidPlatform(nullptr);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  sim::Bus bus;
  HidLink link;
};

// A session with one supported unit, opened; the log is emptied afterwards so a test sees
// only its own traffic.
struct OpenSession : Session {
  OpenSession() {
    unit = sim::addDevice(bus, sim::makeSupportedUnit());
    EXPECT_EQ(open(link), LINK_OK);
    bus.log.clear();
  }
  sim::Device& device() { return bus.devices[unit]; }
  std::size_t unit = sim::NO_DEVICE;
};

inline std::vector<std::uint8_t> bytesOf(std::initializer_list<int> values) {
  std::vector<std::uint8_t> bytes;
  for (const int value : values) {
    bytes.push_back(static_cast<std::uint8_t>(value));
  }
  return bytes;
}

// A 60-byte record starting with `prefix`, zero after it.
inline std::vector<std::uint8_t> recordOf(std::initializer_list<int> prefix) {
  std::vector<std::uint8_t> record = bytesOf(prefix);
  record.resize(REPORT_SIZE, 0);
  return record;
}

inline HidReport reportOf(const std::vector<std::uint8_t>& bytes) {
  HidReport report{};
  for (std::size_t i = 0; i < bytes.size() && i < REPORT_SIZE; ++i) {
    report.bytes[i] = bytes[i];
  }
  return report;
}

// An answer for the emulated unit to send instead of its own.
inline sim::Fault rawAnswerOn(DeviceCommand command, const std::vector<std::uint8_t>& bytes) {
  sim::Fault fault = sim::onCommand(sim::FaultKind::RawAnswer, command);
  fault.raw = reportOf(bytes);
  return fault;
}

// An answer carrying the error marker and a 32-bit status, with byte 3 as given.
inline std::vector<std::uint8_t> markerAnswer(std::uint32_t status, int byte3 = 0) {
  return recordOf({0x02, 0xFF, 0x04, byte3, static_cast<int>(status & 0xFF),
                   static_cast<int>((status >> 8) & 0xFF), static_cast<int>((status >> 16) & 0xFF),
                   static_cast<int>(status >> 24)});
}

// The bytes of every request written successfully, in order.
inline std::vector<std::vector<std::uint8_t>> writtenRequests(const sim::Bus& bus) {
  std::vector<std::vector<std::uint8_t>> requests;
  for (const sim::LogEntry* entry : sim::entriesOf(bus, sim::EventKind::Write)) {
    if (entry->succeeded) {
      requests.push_back(entry->bytes);
    }
  }
  return requests;
}

inline std::u16string pathOf(const HidLink& link) {
  return link.devicePath ? std::u16string(link.devicePath.get()) : std::u16string();
}

// The cleared state: no handle, no path, every field zero.
inline void expectCleared(const HidLink& link) {
  EXPECT_EQ(link.deviceHandle, INVALID_DEVICE_HANDLE);
  EXPECT_EQ(link.devicePath, nullptr);
  EXPECT_EQ(link.outputReportLength, 0u);
  EXPECT_EQ(link.inputReportLength, 0u);
  EXPECT_EQ(link.unitWrongMode, 0);
  EXPECT_EQ(link.unitFirmwareVersion, 0u);
  EXPECT_EQ(link.unitAuxWord, 0u);
  EXPECT_EQ(link.escStatus, 0);
  EXPECT_EQ(link.escStatusAux, 0);
  EXPECT_EQ(link.wrongModeInfo.byte4, 0);
  EXPECT_EQ(link.wrongModeInfo.bytes5to6, 0);
  EXPECT_EQ(link.wrongModeInfo.bytes7to10, 0u);
  EXPECT_EQ(link.wrongModeInfo.bytes11to14, 0u);
  EXPECT_EQ(link.wrongModeInfo.byte15, 0);
  EXPECT_EQ(std::vector<std::uint8_t>(link.escInfo, link.escInfo + 32),
            std::vector<std::uint8_t>(32, 0));
  EXPECT_EQ(std::vector<std::uint8_t>(link.escIdent, link.escIdent + 40),
            std::vector<std::uint8_t>(40, 0));
  EXPECT_EQ(link.productId, 0);
}

}  // namespace esc::test
