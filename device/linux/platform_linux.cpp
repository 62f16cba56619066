#include "device/linux/platform_linux.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <climits>

#include "device/hid_link.h"
#include "device/linux/linux_os.h"
#include "device/linux/report_descriptor.h"

namespace esc {
namespace {

// A device that streams reports without pause must not hold the discard forever; the
// kernel keeps at most 64 reports per open descriptor, so this empties any real queue.
constexpr int MAX_DISCARDED_REPORTS = 1024;

HidrawBackend& backendOf(void* context) { return *static_cast<HidrawBackend*>(context); }

int toFd(DeviceHandle device) {
  return device <= static_cast<DeviceHandle>(INT_MAX) ? static_cast<int>(device) : -1;
}

std::uint32_t errnoValue(int error) {
  return error > 0 ? static_cast<std::uint32_t>(error) : static_cast<std::uint32_t>(EIO);
}

bool fail(HidrawBackend& backend, std::uint32_t error) {
  backend.lastError = error;
  return false;
}

bool failFromErrno(HidrawBackend& backend) { return fail(backend, errnoValue(errno)); }

// hidraw reports a pulled unit as EIO on read and ENODEV on write and ioctl.
bool isRemoval(int error) { return error == EIO || error == ENODEV; }

// Device nodes are ASCII (/dev/hidrawN); anything else is not one of ours to open.
bool toNarrowPath(const char16_t* path, std::string& narrow) {
  narrow.clear();
  for (const char16_t* unit = path; *unit != u'\0'; ++unit) {
    if (*unit >= 0x80) {
      return false;
    }
    narrow.push_back(static_cast<char>(*unit));
  }
  return !narrow.empty();
}

std::uint64_t microsecondsOf(const timespec& time) {
  return static_cast<std::uint64_t>(time.tv_sec) * 1000000u +
         static_cast<std::uint64_t>(time.tv_nsec) / 1000u;
}

std::uint64_t nowMicroseconds(void* context) {
  const LinuxOs& os = *backendOf(context).os;
  timespec now{};
  os.clockGetTime(os.context, now);
  return microsecondsOf(now);
}

void sleepUntilTime(const LinuxOs& os, const timespec& deadline) {
  while (os.sleepUntil(os.context, deadline) == EINTR) {
  }
}

void sleepUntil(void* context, std::uint64_t deadlineMicroseconds) {
  timespec deadline{};
  deadline.tv_sec = static_cast<time_t>(deadlineMicroseconds / 1000000u);
  deadline.tv_nsec = static_cast<long>(deadlineMicroseconds % 1000000u * 1000u);
  sleepUntilTime(*backendOf(context).os, deadline);
}

// Measured from the clock's nanoseconds rather than from nowMicroseconds, whose rounding
// down could end the sleep up to a microsecond early.
void sleep(void* context, std::uint32_t milliseconds) {
  const LinuxOs& os = *backendOf(context).os;
  timespec deadline{};
  os.clockGetTime(os.context, deadline);
  deadline.tv_sec += static_cast<time_t>(milliseconds / 1000u);
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000u) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  sleepUntilTime(os, deadline);
}

void endEnumeration(void* context) { backendOf(context).snapshot.clear(); }

// hidrawN numbers are handed out again as devices come and go, so a node's number means
// nothing beyond this snapshot; sorting by sysfs path gives an order that does not depend
// on the order the nodes were created in.
bool beginEnumeration(void* context) {
  HidrawBackend& backend = backendOf(context);
  backend.snapshot.clear();
  std::vector<HidrawNode> nodes;
  if (!backend.os->listHidrawNodes(backend.os->context, nodes)) {
    return failFromErrno(backend);
  }
  std::sort(nodes.begin(), nodes.end(),
            [](const HidrawNode& a, const HidrawNode& b) { return a.sysPath < b.sysPath; });
  backend.unitNodes.clear();
  for (const HidrawNode& node : nodes) {
    backend.snapshot.push_back(node.devNode);
    if (node.idsKnown && isUnitIdentity(node.vendorId, node.productId) && !node.devNode.empty()) {
      backend.unitNodes.push_back(node.devNode);
    }
  }
  return true;
}

InterfaceLookup interfaceAt(void* context, std::uint32_t index, std::u16string& path) {
  HidrawBackend& backend = backendOf(context);
  path.clear();
  if (index >= backend.snapshot.size()) {
    fail(backend, HIDRAW_ERROR_NO_MORE_NODES);
    return InterfaceLookup::End;
  }
  const std::string& node = backend.snapshot[index];
  if (node.empty()) {
    fail(backend, HIDRAW_ERROR_NO_MORE_NODES);
    return InterfaceLookup::DetailUnavailable;
  }
  for (const char character : node) {
    if (static_cast<unsigned char>(character) >= 0x80) {
      path.clear();
      fail(backend, EINVAL);
      return InterfaceLookup::DetailUnavailable;
    }
    path.push_back(static_cast<char16_t>(character));
  }
  return InterfaceLookup::Found;
}

OpenHidraw* findOpen(HidrawBackend& backend, int fd) {
  for (OpenHidraw& device : backend.openDevices) {
    if (device.fd == fd) {
      return &device;
    }
  }
  return nullptr;
}

// Opening wakes a device and may be seen by whatever drives it: only nodes enumeration
// found with the unit's ids are opened.
// hidraw lets any number of programs open a node, and all of them get every input
// report. Programs that write to such devices agree on an advisory lock instead: a unit
// locked by another program is skipped as Windows skips a unit held open elsewhere, and
// ours is held until the link closes.
DeviceHandle openDevice(void* context, const char16_t* path) {
  HidrawBackend& backend = backendOf(context);
  const LinuxOs& os = *backend.os;
  std::string narrow;
  if (path == nullptr || !toNarrowPath(path, narrow)) {
    fail(backend, EINVAL);
    return INVALID_DEVICE_HANDLE;
  }
  if (std::find(backend.unitNodes.begin(), backend.unitNodes.end(), narrow) ==
      backend.unitNodes.end()) {
    fail(backend, HIDRAW_ERROR_NOT_A_UNIT);
    return INVALID_DEVICE_HANDLE;
  }
  int fd = -1;
  do {
    fd = os.open(os.context, narrow.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    failFromErrno(backend);
    return INVALID_DEVICE_HANDLE;
  }
  int locked = -1;
  do {
    locked = os.flock(os.context, fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    failFromErrno(backend);
    os.close(os.context, fd);
    return INVALID_DEVICE_HANDLE;
  }
  OpenHidraw open;
  open.fd = fd;
  backend.openDevices.push_back(open);
  return static_cast<DeviceHandle>(fd);
}

bool readAttributes(void* context, DeviceHandle device, std::uint16_t& vendorId,
                    std::uint16_t& productId) {
  HidrawBackend& backend = backendOf(context);
  hidraw_devinfo info{};
  if (backend.os->getRawInfo(backend.os->context, toFd(device), info) != 0) {
    return failFromErrno(backend);
  }
  // The kernel hands the ids over as signed 16-bit numbers; ids from 0x8000 up would
  // otherwise compare as negative.
  vendorId = static_cast<std::uint16_t>(info.vendor);
  productId = static_cast<std::uint16_t>(info.product);
  return true;
}

bool readDescriptor(HidrawBackend& backend, int fd, ReportLengths& lengths) {
  const LinuxOs& os = *backend.os;
  int size = 0;
  if (os.getDescriptorSize(os.context, fd, size) != 0) {
    return failFromErrno(backend);
  }
  // hidraw hands out at most HID_MAX_DESCRIPTOR_SIZE - 1 bytes of a descriptor.
  if (size < 0 || size > HID_MAX_DESCRIPTOR_SIZE - 1) {
    return fail(backend, HIDRAW_ERROR_BAD_DESCRIPTOR);
  }
  hidraw_report_descriptor descriptor{};
  descriptor.size = static_cast<__u32>(size);
  if (os.getDescriptor(os.context, fd, descriptor) != 0) {
    return failFromErrno(backend);
  }
  const DescriptorParse parse = parseReportDescriptor(
      descriptor.value, std::min<std::size_t>(descriptor.size, HID_MAX_DESCRIPTOR_SIZE - 1));
  if (parse.error != DescriptorError::None) {
    return fail(backend, HIDRAW_ERROR_BAD_DESCRIPTOR);
  }
  lengths = parse.lengths;
  return true;
}

void takeFraming(OpenHidraw& device, const ReportLengths& lengths) {
  device.framingKnown = true;
  device.inputNumbered = lengths.inputNumbered;
  device.outputNumbered = lengths.outputNumbered;
  device.inputLengths = lengths.inputLengths;
}

// The framing of a device's reports, read from its descriptor once per open.
OpenHidraw* framedDevice(HidrawBackend& backend, int fd) {
  OpenHidraw* device = findOpen(backend, fd);
  if (device == nullptr) {
    fail(backend, EBADF);
    return nullptr;
  }
  if (!device->framingKnown) {
    ReportLengths lengths;
    if (!readDescriptor(backend, fd, lengths)) {
      return nullptr;
    }
    takeFraming(*device, lengths);
  }
  return device;
}

// The device of a transfer into or out of `buffer`; null, with the error set, for no
// buffer or a device not open here.
const OpenHidraw* transferDevice(HidrawBackend& backend, int fd, const std::uint8_t* buffer,
                                 std::uint32_t length) {
  if (buffer == nullptr || length == 0) {
    fail(backend, EINVAL);
    return nullptr;
  }
  return framedDevice(backend, fd);
}

// Linux has no parsed capabilities: the lengths come from the report descriptor, counted
// as Windows counts them, so the link's length rules hold unchanged.
bool readCapabilities(void* context, DeviceHandle device, std::uint16_t& inputLength,
                      std::uint16_t& outputLength) {
  HidrawBackend& backend = backendOf(context);
  const int fd = toFd(device);
  OpenHidraw* open = findOpen(backend, fd);
  if (open == nullptr) {
    return fail(backend, EBADF);
  }
  ReportLengths lengths;
  if (!readDescriptor(backend, fd, lengths)) {
    return false;
  }
  takeFraming(*open, lengths);
  inputLength = static_cast<std::uint16_t>(lengths.inputLength);
  outputLength = static_cast<std::uint16_t>(lengths.outputLength);
  return true;
}

enum class Readiness { Ready, TimedOut, Removed, Failed };

// Waits until poll reports `events` for `fd` or the deadline on the platform's clock
// passes. A signal only shortens one poll: the wait goes on to the same deadline.
Readiness waitFor(HidrawBackend& backend, int fd, short events, std::uint64_t deadline) {
  const LinuxOs& os = *backend.os;
  for (;;) {
    const std::uint64_t now = nowMicroseconds(&backend);
    const std::uint64_t remaining = deadline > now ? (deadline - now + 999u) / 1000u : 0;
    pollfd request{fd, events, 0};
    const int polled = os.poll(os.context, &request, 1,
                               static_cast<int>(std::min<std::uint64_t>(remaining, INT_MAX)));
    if (polled < 0) {
      if (errno == EINTR) {
        continue;
      }
      fail(backend, errnoValue(errno));
      return Readiness::Failed;
    }
    if (polled == 0) {
      fail(backend, HIDRAW_ERROR_TIMEOUT);
      return Readiness::TimedOut;
    }
    if ((request.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      fail(backend, HIDRAW_ERROR_REMOVED);
      return Readiness::Removed;
    }
    if ((request.revents & events) != 0) {
      return Readiness::Ready;
    }
  }
}

std::uint64_t deadlineAfter(HidrawBackend& backend, std::uint32_t timeoutMs) {
  return nowMicroseconds(&backend) + std::uint64_t{timeoutMs} * 1000u;
}

// Byte 0 is the report id, 0 for a device without numbered reports, exactly as on
// Windows; hidraw takes the same framing and drops a 0 before it reaches the wire. A
// report id the device cannot have is refused, as Windows refuses it.
bool writeReport(void* context, DeviceHandle device, const std::uint8_t* report,
                 std::uint32_t length, std::uint32_t timeoutMs) {
  HidrawBackend& backend = backendOf(context);
  const LinuxOs& os = *backend.os;
  const int fd = toFd(device);
  const OpenHidraw* open = transferDevice(backend, fd, report, length);
  if (open == nullptr) {
    return false;
  }
  if (open->outputNumbered != (report[0] != 0)) {
    return fail(backend, EINVAL);
  }
  // hidraw is always ready for writing; the write itself waits for the USB transfer and
  // gives up after the USB core's own 5 s, which lies within any timeout the link uses.
  if (waitFor(backend, fd, POLLOUT, deadlineAfter(backend, timeoutMs)) != Readiness::Ready) {
    return false;
  }
  ssize_t written = -1;
  do {
    written = os.write(os.context, fd, report, length);
  } while (written < 0 && errno == EINTR);
  if (written < 0) {
    return fail(backend, isRemoval(errno) ? HIDRAW_ERROR_REMOVED : errnoValue(errno));
  }
  if (static_cast<std::uint32_t>(written) != length) {
    return fail(backend, HIDRAW_ERROR_SHORT_REPORT);
  }
  backend.lastError = 0;
  return true;
}

// hidraw hands over numbered reports with their id in byte 0, and unnumbered ones without
// any: those are read one byte further on, behind a 0, which is what Windows delivers.
// Each read takes one whole report off the queue, cut to the buffer's size, so the buffer
// is never smaller than the declared report. A report shorter than the longest comes at
// its own id's length: Windows pads it with zeros to the longest, and so is it padded
// here; any other length is no whole report.
bool readReport(void* context, DeviceHandle device, std::uint8_t* report, std::uint32_t length,
                std::uint32_t timeoutMs) {
  HidrawBackend& backend = backendOf(context);
  const LinuxOs& os = *backend.os;
  const int fd = toFd(device);
  const OpenHidraw* open = transferDevice(backend, fd, report, length);
  if (open == nullptr) {
    return false;
  }
  const std::uint32_t offset = open->inputNumbered ? 0 : 1;
  if (length <= offset) {
    return fail(backend, EINVAL);
  }
  const std::uint64_t deadline = deadlineAfter(backend, timeoutMs);
  for (;;) {
    if (waitFor(backend, fd, POLLIN, deadline) != Readiness::Ready) {
      return false;
    }
    const ssize_t received = os.read(os.context, fd, report + offset, length - offset);
    if (received < 0) {
      if (errno == EINTR || errno == EAGAIN) {
        continue;
      }
      return fail(backend, isRemoval(errno) ? HIDRAW_ERROR_REMOVED : errnoValue(errno));
    }
    if (received == 0) {
      return fail(backend, HIDRAW_ERROR_REMOVED);
    }
    const std::uint32_t whole = length - offset;
    const std::uint32_t own = open->inputLengths[offset == 0 ? report[0] : 0];
    const auto got = static_cast<std::uint32_t>(received);
    if (got != whole && (own <= offset || got != own - offset)) {
      return fail(backend, HIDRAW_ERROR_SHORT_REPORT);
    }
    std::fill(report + offset + got, report + length, std::uint8_t{0});
    if (offset != 0) {
      report[0] = 0;
    }
    backend.lastError = 0;
    return true;
  }
}

// Each open descriptor has its own queue of input reports: a late answer to a request
// that timed out, or a report the unit sent unasked, waits there and would be taken for
// the next answer. The last error is left alone; a failure shows again in the write.
void discardInput(void* context, DeviceHandle device) {
  HidrawBackend& backend = backendOf(context);
  const LinuxOs& os = *backend.os;
  const int fd = toFd(device);
  std::uint8_t unused[64];
  for (int i = 0; i < MAX_DISCARDED_REPORTS; ++i) {
    pollfd request{fd, POLLIN, 0};
    if (os.poll(os.context, &request, 1, 0) <= 0 ||
        (request.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 ||
        (request.revents & POLLIN) == 0) {
      return;
    }
    if (os.read(os.context, fd, unused, sizeof unused) <= 0) {
      return;
    }
  }
}

// Closing the descriptor would release the lock as well; unlocking first says so, and
// holds even if the descriptor was ever duplicated.
void closeDevice(void* context, DeviceHandle device) {
  HidrawBackend& backend = backendOf(context);
  const LinuxOs& os = *backend.os;
  const int fd = toFd(device);
  const auto open = std::find_if(backend.openDevices.begin(), backend.openDevices.end(),
                                 [fd](const OpenHidraw& entry) { return entry.fd == fd; });
  if (open == backend.openDevices.end()) {
    return;
  }
  backend.openDevices.erase(open);
  os.flock(os.context, fd, LOCK_UN);
  os.close(os.context, fd);
}

std::uint32_t lastErrorOf(void* context) { return backendOf(context).lastError; }

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool parseHidId(const char* text, std::uint16_t& vendorId, std::uint16_t& productId) {
  if (text == nullptr) {
    return false;
  }
  std::uint32_t fields[3] = {0, 0, 0};
  std::size_t field = 0;
  std::size_t digits = 0;
  for (const char* at = text;; ++at) {
    if (*at == ':' || *at == '\0') {
      if (digits == 0 || (*at == ':') != (field < 2)) {
        return false;
      }
      if (*at == '\0') {
        break;
      }
      ++field;
      digits = 0;
      continue;
    }
    const int value = hexDigit(*at);
    if (value < 0 || ++digits > 8) {
      return false;
    }
    fields[field] = fields[field] << 4 | static_cast<std::uint32_t>(value);
  }
  if (fields[1] > 0xFFFFu || fields[2] > 0xFFFFu) {
    return false;
  }
  vendorId = static_cast<std::uint16_t>(fields[1]);
  productId = static_cast<std::uint16_t>(fields[2]);
  return true;
}

HidrawBackend::HidrawBackend(const LinuxOs& linuxOs)
    : os(&linuxOs), platform{this,        beginEnumeration, interfaceAt,      endEnumeration,
                             openDevice,  readAttributes,   readCapabilities, discardInput,
                             writeReport, readReport,       closeDevice,      lastErrorOf,
                             sleep,       nowMicroseconds,  sleepUntil} {}

const HidPlatform& linuxHidPlatform() {
  static HidrawBackend backend(systemLinuxOs());
  return backend.platform;
}

}  // namespace esc
