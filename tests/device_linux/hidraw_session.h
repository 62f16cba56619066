// The hidraw backend over a fake kernel, for one test case.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "device/hid_link.h"
#include "device/linux/platform_linux.h"
#include "tests/device_linux/fake_kernel.h"

namespace esc::test {

inline constexpr std::uint64_t MS = 1000;

struct HidrawSession {
  HidrawSession() = default;
  HidrawSession(const HidrawSession&) = delete;
  HidrawSession& operator=(const HidrawSession&) = delete;
  ~HidrawSession() {
    close(link);
    setHidPlatform(nullptr);
  }

  const HidPlatform& platform() const { return backend.platform; }
  void* context() const { return backend.platform.context; }
  std::uint32_t lastError() const { return platform().lastError(context()); }

  // Enumerates, as every caller does before opening, and opens the node through the table.
  DeviceHandle openDevice(const std::u16string& path) {
    EXPECT_TRUE(platform().beginEnumeration(context()));
    platform().endEnumeration(context());
    return platform().openDevice(context(), path.c_str());
  }

  // Opens a node through the table and reads its capabilities, as discovery does.
  DeviceHandle openNode(const std::u16string& path) {
    const DeviceHandle device = openDevice(path);
    std::uint16_t input = 0;
    std::uint16_t output = 0;
    if (device != INVALID_DEVICE_HANDLE) {
      EXPECT_TRUE(platform().readCapabilities(context(), device, input, output));
    }
    return device;
  }

  bool write(DeviceHandle device, std::vector<std::uint8_t> report,
             std::uint32_t timeoutMs = LINK_WRITE_TIMEOUT_MS) {
    return platform().writeReport(context(), device, report.data(),
                                  static_cast<std::uint32_t>(report.size()), timeoutMs);
  }

  bool read(DeviceHandle device, std::vector<std::uint8_t>& report,
            std::uint32_t timeoutMs = LINK_READ_TIMEOUT_MS) {
    return platform().readReport(context(), device, report.data(),
                                 static_cast<std::uint32_t>(report.size()), timeoutMs);
  }

  // Installs the backend as the link's platform.
  void install() { setHidPlatform(&backend.platform); }

  FakeKernel kernel;
  HidrawBackend backend{kernel.os};
  HidLink link;
};

inline int fdOf(DeviceHandle device) { return static_cast<int>(device); }

// A 60-byte request with the unit's output id and the given command.
inline std::vector<std::uint8_t> requestOf(std::uint8_t command) {
  std::vector<std::uint8_t> request(REPORT_SIZE, 0);
  request[0] = OUTPUT_REPORT_ID;
  request[1] = command;
  return request;
}

}  // namespace esc::test
