// Enumeration through the real libudev, over a fake sysfs tree: in a child process with a
// private mount namespace, tmpfs trees stand in for /sys/class/hidraw and the devices
// behind it. That needs root; elsewhere the test is skipped.
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "device/linux/linux_os.h"
#include "device/linux/platform_linux.h"

namespace esc::test {
namespace {

constexpr int CHILD_SKIPPED = 77;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool makeDirectories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
      return false;
    }
    if (slash == std::string::npos) {
      return true;
    }
  }
}

bool writeFile(const std::string& path, const std::string& text) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    return false;
  }
  const bool written = std::fputs(text.c_str(), file) >= 0;
  return std::fclose(file) == 0 && written;
}

// A hidraw node as the kernel shows it: the device directory with its uevent, and the
// class entry linking to it. With `hidId`, its parent is a HID device with that HID_ID.
bool addFakeNode(const std::string& parent, const std::string& name, const char* hidId) {
  const std::string hid = "/sys/devices/virtual/" + parent;
  const std::string device = hid + "/hidraw/" + name;
  if (!makeDirectories(device)) {
    return false;
  }
  if (hidId != nullptr && (!writeFile(hid + "/uevent", std::string("HID_ID=") + hidId + "\n") ||
                           symlink("/sys/bus/hid", (hid + "/subsystem").c_str()) != 0)) {
    return false;
  }
  return writeFile(device + "/uevent",
                   "MAJOR=240\nMINOR=" + name.substr(6) + "\nDEVNAME=" + name + "\n") &&
         symlink("/sys/class/hidraw", (device + "/subsystem").c_str()) == 0 &&
         symlink(device.c_str(), ("/sys/class/hidraw/" + name).c_str()) == 0;
}

// Runs in the child: prints the enumerated paths, one a line, to `out`.
int enumerateFakeTree(int out) {
  if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("none", "/sys/class/hidraw", "tmpfs", 0, nullptr) != 0 ||
      mount("none", "/sys/devices/virtual", "tmpfs", 0, nullptr) != 0) {
    return CHILD_SKIPPED;
  }
  // libudev accepts devices only on sysfs unless told otherwise; its own tests do the same.
  setenv("SYSTEMD_DEVICE_VERIFY_SYSFS", "0", 1);
  if (!addFakeNode("usb2/2-1/0003:FFF0:0001.0003", "hidraw0", "0003:0000FFF0:00000001") ||
      !addFakeNode("usb1/1-2/0003:046D:C31C.0002", "hidraw5", "0003:0000046D:0000C31C") ||
      !addFakeNode("usb1/1-1/0003:FFF0:0002.0001", "hidraw9", nullptr)) {
    return 1;
  }
  // Only the ids are needed to choose the nodes to open; the listing itself gives them.
  std::vector<HidrawNode> nodes;
  if (!systemLinuxOs().listHidrawNodes(nullptr, nodes)) {
    return 2;
  }
  std::string ids;
  for (const HidrawNode& node : nodes) {
    char line[64];
    std::snprintf(line, sizeof line, "%s %s %04x:%04x\n", node.devNode.c_str(),
                  node.idsKnown ? "known" : "unknown", node.vendorId, node.productId);
    ids += line;
  }
  HidrawBackend backend(systemLinuxOs());
  const HidPlatform& platform = backend.platform;
  if (!platform.beginEnumeration(platform.context)) {
    return 2;
  }
  std::string lines;
  std::u16string path;
  for (std::uint32_t index = 0;
       platform.interfaceAt(platform.context, index, path) == InterfaceLookup::Found; ++index) {
    lines += std::string(path.begin(), path.end()) + "\n";
  }
  platform.endEnumeration(platform.context);
  lines += ids;
  return write(out, lines.data(), lines.size()) == static_cast<ssize_t>(lines.size()) ? 0 : 3;
}

TEST(UdevEnumeration, FindsTheNodesOfAFakeSysfsInTheOrderOfTheirPathsWithTheirIds) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root for a private mount namespace";
  }
  int channel[2];
  ASSERT_EQ(pipe(channel), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(channel[0]);
    _exit(enumerateFakeTree(channel[1]));
  }
  close(channel[1]);
  std::string output;
  char buffer[256];
  for (ssize_t got; (got = read(channel[0], buffer, sizeof buffer)) > 0;) {
    output.append(buffer, static_cast<std::size_t>(got));
  }
  close(channel[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == CHILD_SKIPPED) {
    GTEST_SKIP() << "no private mount namespace here";
  }
  ASSERT_EQ(WEXITSTATUS(status), 0);

  // The listing's own order is libudev's; the ids are read from each HID parent's HID_ID,
  // and a node without one has none.
  const std::string order = "/dev/hidraw9\n/dev/hidraw5\n/dev/hidraw0\n";
  ASSERT_EQ(output.substr(0, order.size()), order);
  const std::string ids = output.substr(order.size());
  EXPECT_TRUE(contains(ids, "/dev/hidraw0 known fff0:0001\n")) << ids;
  EXPECT_TRUE(contains(ids, "/dev/hidraw5 known 046d:c31c\n")) << ids;
  EXPECT_TRUE(contains(ids, "/dev/hidraw9 unknown 0000:0000\n")) << ids;
}

}  // namespace
}  // namespace esc::test
