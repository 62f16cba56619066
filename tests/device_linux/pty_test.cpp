// The backend on real file descriptors: a pseudo-terminal in raw mode stands in for a
// hidraw node (its reads, writes, poll, flock and hang-up are the kernel's own), with the
// emulated unit answering on the other side. Only enumeration and the three hidraw
// ioctls, which a terminal does not know, are answered by the test.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "device/bootloader.h"
#include "device/hid_link.h"
#include "device/linux/linux_os.h"
#include "device/linux/platform_linux.h"
#include "emulator/sim_bus.h"
#include "tests/device_linux/descriptor_cases.h"

namespace esc::test {
namespace {

// The unit behind the terminal's master side: one request in, one answer out.
struct PtyUnit {
  PtyUnit() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
      return;
    }
    slavePath = ptsname(master);
    // Raw mode: bytes pass unchanged and nothing is echoed. The setting stays with the
    // terminal while this descriptor keeps it open.
    slave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios mode{};
    if (slave < 0 || tcgetattr(slave, &mode) != 0) {
      return;
    }
    cfmakeraw(&mode);
    ready = tcsetattr(slave, TCSANOW, &mode) == 0;
    server = std::thread([this] { serve(); });
  }
  ~PtyUnit() {
    pull();
    if (slave >= 0) ::close(slave);
  }
  PtyUnit(const PtyUnit&) = delete;
  PtyUnit& operator=(const PtyUnit&) = delete;

  void serve() {
    std::uint8_t request[REPORT_SIZE];
    std::size_t received = 0;
    while (!stop) {
      pollfd wait{master, POLLIN, 0};
      if (poll(&wait, 1, 20) <= 0 || (wait.revents & POLLIN) == 0) {
        continue;
      }
      const ssize_t got = ::read(master, request + received, sizeof request - received);
      if (got <= 0) {
        continue;
      }
      received += static_cast<std::size_t>(got);
      if (received < sizeof request) {
        continue;
      }
      received = 0;
      ++requests;
      if (silent) {
        continue;
      }
      const HidReport answer = sim::answerRequest(unit, request);
      if (::write(master, answer.bytes, sizeof answer.bytes) != sizeof answer.bytes) {
        return;
      }
    }
  }

  // Closing the master side hangs the terminal up, as unplugging removes a hidraw node.
  void pull() {
    stop = true;
    if (server.joinable()) server.join();
    if (master >= 0) ::close(master);
    master = -1;
  }

  sim::Device unit = sim::makeSupportedUnit();
  int master = -1;
  int slave = -1;
  std::string slavePath;
  bool ready = false;
  std::atomic<bool> stop{false};
  std::atomic<bool> silent{false};
  std::atomic<int> requests{0};
  std::thread server;
};

PtyUnit* current = nullptr;

bool listThePty(void*, std::vector<HidrawNode>& nodes) {
  HidrawNode node;
  node.sysPath = "/sys/devices/virtual/pty/hidraw/hidraw0";
  node.devNode = current->slavePath;
  node.idsKnown = true;
  node.vendorId = UNIT_VENDOR_ID;
  node.productId = 1;
  nodes = {node};
  return true;
}

int unitInfo(void*, int, hidraw_devinfo& info) {
  info.bustype = 3;
  info.vendor = static_cast<std::int16_t>(UNIT_VENDOR_ID);
  info.product = 1;
  return 0;
}

int descriptorSize(void*, int, int& size) {
  size = static_cast<int>(unitDescriptor().size());
  return 0;
}

int descriptor(void*, int, hidraw_report_descriptor& value) {
  const std::vector<std::uint8_t> bytes = unitDescriptor();
  std::memcpy(value.value, bytes.data(), bytes.size());
  return 0;
}

struct PtySession {
  PtySession() {
    current = &unit;
    os.listHidrawNodes = listThePty;
    os.getRawInfo = unitInfo;
    os.getDescriptorSize = descriptorSize;
    os.getDescriptor = descriptor;
    setHidPlatform(&backend.platform);
  }
  ~PtySession() {
    close(link);
    setHidPlatform(nullptr);
    current = nullptr;
  }
  PtySession(const PtySession&) = delete;
  PtySession& operator=(const PtySession&) = delete;

  std::uint32_t lastError() const { return backend.platform.lastError(backend.platform.context); }
  std::uint64_t now() const { return backend.platform.nowMicroseconds(backend.platform.context); }

  PtyUnit unit;
  LinuxOs os = systemLinuxOs();
  HidrawBackend backend{os};
  HidLink link;
};

TEST(PtyStandIn, TheLinkIdentifiesAndCommandsTheUnit) {
  PtySession session;
  ASSERT_TRUE(session.unit.ready);

  ASSERT_EQ(open(session.link), LINK_OK);

  EXPECT_EQ(escModelCode(session.link), 0x110FA0D2u);
  EXPECT_EQ(setSystemLock(session.link, LockState::Set), LINK_OK);
  EXPECT_EQ(setWriteProtection(session.link, WriteProtection::Unlock), LINK_OK);
  EXPECT_EQ(session.unit.requests, 5);
  // Our lock keeps a second opener out until the link closes.
  EXPECT_EQ(::flock(session.unit.slave, LOCK_EX | LOCK_NB), -1);
  close(session.link);
  EXPECT_EQ(::flock(session.unit.slave, LOCK_EX | LOCK_NB), 0);
}

TEST(PtyStandIn, ASilentUnitTimesOutOnTheRealClock) {
  PtySession session;
  ASSERT_TRUE(session.unit.ready);
  const HidPlatform& platform = session.backend.platform;
  ASSERT_TRUE(platform.beginEnumeration(platform.context));
  platform.endEnumeration(platform.context);
  const DeviceHandle device = platform.openDevice(
      platform.context,
      std::u16string(session.unit.slavePath.begin(), session.unit.slavePath.end()).c_str());
  ASSERT_NE(device, INVALID_DEVICE_HANDLE);
  session.unit.silent = true;
  std::uint8_t report[REPORT_SIZE] = {OUTPUT_REPORT_ID, CMD_GET_UNIT_INFO};
  ASSERT_TRUE(platform.writeReport(platform.context, device, report, REPORT_SIZE, 1000));
  const std::uint64_t start = session.now();

  EXPECT_FALSE(platform.readReport(platform.context, device, report, REPORT_SIZE, 150));

  EXPECT_GE(session.now() - start, 150000u);
  EXPECT_EQ(session.lastError(), HIDRAW_ERROR_TIMEOUT);
  platform.closeDevice(platform.context, device);
}

TEST(PtyStandIn, AHangUpFailsTheNextExchangeAtOnce) {
  PtySession session;
  ASSERT_TRUE(session.unit.ready);
  ASSERT_EQ(open(session.link), LINK_OK);
  session.unit.pull();
  const std::uint64_t start = session.now();

  const std::int32_t result = setSystemLock(session.link, LockState::Set);

  EXPECT_TRUE(result == LINK_WRITE_FAILED || result == LINK_READ_FAILED) << result;
  EXPECT_EQ(session.lastError(), HIDRAW_ERROR_REMOVED);
  EXPECT_LT(session.now() - start, std::uint64_t{LINK_READ_TIMEOUT_MS} * 1000u / 10u);
}

TEST(PtyStandIn, SleepsLastAtLeastTheirTime) {
  PtySession session;
  const HidPlatform& platform = session.backend.platform;
  const std::uint64_t start = session.now();

  platform.sleep(platform.context, 20);
  const std::uint64_t slept = session.now() - start;
  platform.sleepUntil(platform.context, start + 35000);

  EXPECT_GE(slept, 20000u);
  EXPECT_GE(session.now(), start + 35000);
}

}  // namespace
}  // namespace esc::test
