// The operating-system calls the hidraw backend makes, as one table. The backend calls
// nothing else, so the tests can run all of its code against a fake kernel: each entry
// behaves like the system call it stands for (-1 and errno on failure).
#pragma once

#include <linux/hidraw.h>
#include <poll.h>
#include <sys/types.h>
#include <time.h>

#include <string>
#include <vector>

namespace esc {

// One hidraw node as enumeration finds it.
struct HidrawNode {
  std::string sysPath;  // e.g. /sys/devices/.../hidraw/hidraw3: stable while plugged
  std::string devNode;  // e.g. /dev/hidraw3; empty when the node has none
};

struct LinuxOs {
  void* context;

  // The present hidraw nodes, in any order. False when they cannot be listed.
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
