// The operating-system calls the hidraw backend makes, as one table. The backend calls
// nothing else, so the tests can run all of its code against a fake kernel: each entry
// behaves like the system call it stands for (-1 and errno on failure).
#pragma once

#include <linux/hidraw.h>
#include <poll.h>
#include <sys/types.h>
#include <time.h>

#include <cstdint>
#include <string>
#include <vector>

namespace esc {

// One hidraw node as enumeration finds it.
struct HidrawNode {
  std::string sysPath;  // e.g. /sys/devices/.../hidraw/hidraw3: stable while plugged
  std::string devNode;  // e.g. /dev/hidraw3; empty when the node has none
  // The USB ids of the device behind the node, as udev's records of its HID parent (or of
  // its USB ancestor) tell them; without them the node is never opened.
  bool idsKnown = false;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
};

// The vendor and product id of a HID device's HID_ID property ("0003:0000FFF0:00000001":
// bus, vendor, product in hex). False when the text is not of that form.
bool parseHidId(const char* text, std::uint16_t& vendorId, std::uint16_t& productId);

struct LinuxOs {
  void* context;

  // The present hidraw nodes with their ids, in any order. False when they cannot be listed.
  bool (*listHidrawNodes)(void* context, std::vector<HidrawNode>& nodes);

  int (*open)(void* context, const char* path, int flags);
  int (*close)(void* context, int fd);
  // The three hidraw ioctls: HIDIOCGRAWINFO, HIDIOCGRDESCSIZE, HIDIOCGRDESC.
  int (*getRawInfo)(void* context, int fd, hidraw_devinfo& info);
  int (*getDescriptorSize)(void* context, int fd, int& size);
  int (*getDescriptor)(void* context, int fd, hidraw_report_descriptor& descriptor);
  int (*poll)(void* context, pollfd* fds, nfds_t count, int timeoutMs);
  ssize_t (*read)(void* context, int fd, void* buffer, size_t length);
  ssize_t (*write)(void* context, int fd, const void* buffer, size_t length);
  int (*flock)(void* context, int fd, int operation);
  // CLOCK_MONOTONIC.
  int (*clockGetTime)(void* context, timespec& now);
  // clock_nanosleep on CLOCK_MONOTONIC with TIMER_ABSTIME: returns 0 or an error number.
  int (*sleepUntil)(void* context, const timespec& deadline);
};

// The real calls; hidraw nodes are listed with libudev.
const LinuxOs& systemLinuxOs();

}  // namespace esc
