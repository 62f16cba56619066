// The Linux implementation of the HID platform operations, over hidraw device nodes.
// Linux types stay inside this folder's sources; callers see only the portable table.
#pragma once

#include <array>
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "device/hid_platform.h"

namespace esc {

struct LinuxOs;

// The one table for the real device: hidraw nodes found with libudev, paths /dev/hidrawN.
// Reports are framed as on Windows: byte 0 is the report id, 0 for a device without
// numbered reports (whose input hidraw delivers without that byte: it is read in behind a
// 0). The lengths are those Windows would declare, read from the report descriptor.
// Reads and writes give up after their timeout; lastError is an errno value.
const HidPlatform& linuxHidPlatform();

// Last-error values of failures that no system call reports itself.
inline constexpr std::uint32_t HIDRAW_ERROR_TIMEOUT = ETIMEDOUT;  // nothing within the timeout
// The unit is gone: POLLHUP, POLLERR or POLLNVAL from poll, EIO or ENODEV from read or
// write, or a read that returns no bytes all end here, so a caller sees one value.
inline constexpr std::uint32_t HIDRAW_ERROR_REMOVED = ENODEV;
inline constexpr std::uint32_t HIDRAW_ERROR_BAD_DESCRIPTOR = EBADMSG;  // no lengths in it
inline constexpr std::uint32_t HIDRAW_ERROR_SHORT_REPORT = EPROTO;     // fewer bytes than declared
inline constexpr std::uint32_t HIDRAW_ERROR_HELD_ELSEWHERE = EWOULDBLOCK;  // another program's lock
inline constexpr std::uint32_t HIDRAW_ERROR_NO_MORE_NODES = ENOENT;        // past the enumeration
// Not opened: the latest enumeration did not find the programming unit's ids at this node.
// Other HID devices (keyboards, security keys, game pads) are never opened at all.
inline constexpr std::uint32_t HIDRAW_ERROR_NOT_A_UNIT = EMEDIUMTYPE;

// A device opened by this backend and how its reports are framed.
struct OpenHidraw {
  int fd;
  bool framingKnown = false;
  bool inputNumbered = false;
  bool outputNumbered = false;
  // Each input report's length by id, from the descriptor (ReportLengths::inputLengths).
  std::array<std::uint16_t, 256> inputLengths{};
};

// The backend's state behind one table; `platform.context` points here. Tests make their
// own over a fake kernel; linuxHidPlatform() holds the one over the real system calls.
struct HidrawBackend {
  explicit HidrawBackend(const LinuxOs& os);
  HidrawBackend(const HidrawBackend&) = delete;
  HidrawBackend& operator=(const HidrawBackend&) = delete;

  const LinuxOs* os;
  std::vector<std::string> snapshot;  // device nodes, in the order of their sysfs paths
  // The nodes with the unit's ids at the latest enumeration: the only ones opened. Kept
  // past the enumeration's end, since the callers open after releasing the list.
  std::vector<std::string> unitNodes;
  std::vector<OpenHidraw> openDevices;
  std::uint32_t lastError = 0;
  HidPlatform platform;
};

}  // namespace esc
