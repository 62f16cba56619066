#include <fcntl.h>
#include <libudev.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "device/linux/linux_os.h"

namespace esc {
namespace {

// A hexadecimal sysfs attribute of at most four digits (idVendor, idProduct).
bool readIdAttribute(udev_device* device, const char* name, std::uint16_t& value) {
  const char* text = udev_device_get_sysattr_value(device, name);
  if (text == nullptr || *text == '\0') {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const unsigned long number = std::strtoul(text, &end, 16);
  if (errno != 0 || *end != '\0' || number > 0xFFFFu) {
    return false;
  }
  value = static_cast<std::uint16_t>(number);
  return true;
}

// The HID parent's HID_ID comes from the kernel's uevent in sysfs, so it is there even
// without udev's database; a node without a HID parent is asked of its USB device.
void readIds(udev_device* device, HidrawNode& node) {
  udev_device* hid = udev_device_get_parent_with_subsystem_devtype(device, "hid", nullptr);
  const char* hidId = hid != nullptr ? udev_device_get_property_value(hid, "HID_ID") : nullptr;
  if (hidId != nullptr) {
    node.idsKnown = parseHidId(hidId, node.vendorId, node.productId);
    return;
  }
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
  node.idsKnown = usb != nullptr && readIdAttribute(usb, "idVendor", node.vendorId) &&
                  readIdAttribute(usb, "idProduct", node.productId);
}

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
      HidrawNode node;
      node.sysPath = sysPath;
      node.devNode = devNode != nullptr ? devNode : "";
      readIds(device, node);
      nodes.push_back(node);
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
