#include <fcntl.h>
#include <libudev.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "device/linux/linux_os.h"

namespace esc {
namespace {

// libudev reads the nodes from sysfs itself, so listing works without the udev daemon
// (in a container, say); only hot-plug events need the daemon.
bool listHidrawNodes(void*, std::vector<HidrawNode>& nodes) {
  nodes.clear();
  udev* context = udev_new();
  if (context == nullptr) {
    return false;
  }
  udev_enumerate* enumeration = udev_enumerate_new(context);
  bool listed = enumeration != nullptr &&
                udev_enumerate_add_match_subsystem(enumeration, "hidraw") >= 0 &&
                udev_enumerate_scan_devices(enumeration) >= 0;
  if (listed) {
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration)) {
      const char* sysPath = udev_list_entry_get_name(entry);
      udev_device* device = udev_device_new_from_syspath(context, sysPath);
      if (device == nullptr) {
        continue;  // removed since the scan
      }
      const char* devNode = udev_device_get_devnode(device);
      nodes.push_back(HidrawNode{sysPath, devNode != nullptr ? devNode : ""});
      udev_device_unref(device);
    }
  }
  const int savedError = errno;
  udev_enumerate_unref(enumeration);
  udev_unref(context);
  errno = savedError;
  return listed;
}

int openNode(void*, const char* path, int flags) { return ::open(path, flags); }
int closeNode(void*, int fd) { return ::close(fd); }

int getRawInfo(void*, int fd, hidraw_devinfo& info) { return ::ioctl(fd, HIDIOCGRAWINFO, &info); }

int getDescriptorSize(void*, int fd, int& size) { return ::ioctl(fd, HIDIOCGRDESCSIZE, &size); }

int getDescriptor(void*, int fd, hidraw_report_descriptor& descriptor) {
  return ::ioctl(fd, HIDIOCGRDESC, &descriptor);
}

int pollNodes(void*, pollfd* fds, nfds_t count, int timeoutMs) {
  return ::poll(fds, count, timeoutMs);
}

ssize_t readNode(void*, int fd, void* buffer, size_t length) { return ::read(fd, buffer, length); }

ssize_t writeNode(void*, int fd, const void* buffer, size_t length) {
  return ::write(fd, buffer, length);
}

int lockNode(void*, int fd, int operation) { return ::flock(fd, operation); }

int clockGetTime(void*, timespec& now) { return ::clock_gettime(CLOCK_MONOTONIC, &now); }

int sleepUntil(void*, const timespec& deadline) {
  return ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
}

}  // namespace

const LinuxOs& systemLinuxOs() {
  static const LinuxOs os = {nullptr,           listHidrawNodes, openNode,  closeNode, getRawInfo,
                             getDescriptorSize, getDescriptor,   pollNodes, readNode,  writeNode,
                             lockNode,          clockGetTime,    sleepUntil};
  return os;
}

}  // namespace esc
