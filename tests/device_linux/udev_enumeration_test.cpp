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

// A hidraw node as the kernel shows it: the device directory with its uevent, and the
// class entry linking to it.
bool addFakeNode(const std::string& parent, const std::string& name) {
  const std::string device = "/sys/devices/virtual/" + parent + "/hidraw/" + name;
  if (!makeDirectories(device)) {
    return false;
  }
  FILE* uevent = std::fopen((device + "/uevent").c_str(), "w");
  if (uevent == nullptr) {
    return false;
  }
  std::fprintf(uevent, "MAJOR=240\nMINOR=%s\nDEVNAME=%s\n", name.substr(6).c_str(), name.c_str());
  std::fclose(uevent);
  return symlink("/sys/class/hidraw", (device + "/subsystem").c_str()) == 0 &&
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
  if (!addFakeNode("usb2/2-1/0003:FFF0:0001.0003", "hidraw0") ||
      !addFakeNode("usb1/1-2/0003:FFF0:0001.0002", "hidraw5") ||
      !addFakeNode("usb1/1-1/0003:FFF0:0001.0001", "hidraw9")) {
    return 1;
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
  return write(out, lines.data(), lines.size()) == static_cast<ssize_t>(lines.size()) ? 0 : 3;
}

TEST(UdevEnumeration, FindsTheNodesOfAFakeSysfsInTheOrderOfTheirPaths) {
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

  EXPECT_EQ(output, "/dev/hidraw9\n/dev/hidraw5\n/dev/hidraw0\n");
}

}  // namespace
}  // namespace esc::test
