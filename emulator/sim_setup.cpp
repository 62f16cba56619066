// Building buses and devices, plugging them in and out, and reading the log.
#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>

#include "device/report_layout.h"
#include "emulator/sim_bus.h"

namespace esc::sim {
namespace {

constexpr std::uint32_t SUPPORTED_MODEL_CODE = 0x110FA0D2;
constexpr std::uint16_t SUPPORTED_ESC_FIRMWARE = 0x0100;
constexpr std::uint32_t SUPPORTED_BOOTLOADER_VERSION = 0x00000102;
constexpr std::uint32_t SUPPORTED_UNIT_FIRMWARE = 0x01000203;

// Four lowercase hex digits, as ids appear in interface paths.
std::u16string hex4(std::uint16_t value) {
  static constexpr char16_t DIGITS[] = u"0123456789abcdef";
  std::u16string text;
  for (unsigned shift = 16; shift != 0; shift -= 4) {
    text += DIGITS[(unsigned{value} >> (shift - 4)) & 0xFu];
  }
  return text;
}

// Shaped like a Windows HID interface path, so the demo's removal notifications look real.
std::u16string interfacePath(std::uint16_t vendorId, std::uint16_t productId) {
  return u"\\\\?\\hid#vid_" + hex4(vendorId) + u"&pid_" + hex4(productId) +
         u"#7&2f1e3d4c&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
}

char16_t lowerAscii(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool samePath(const std::u16string& known, const char16_t* path) {
  std::size_t i = 0;
  for (; i < known.size(); ++i) {
    if (path[i] == u'\0' || lowerAscii(path[i]) != lowerAscii(known[i])) {
      return false;
    }
  }
  return path[i] == u'\0';
}

}  // namespace

Fault atExchange(FaultKind kind, std::uint32_t exchange) {
  Fault fault;
  fault.kind = kind;
  fault.exchange = exchange;
  return fault;
}

Fault onCommand(FaultKind kind, DeviceCommand command, std::uint32_t occurrence) {
  Fault fault;
  fault.kind = kind;
  fault.command = command;
  fault.occurrence = occurrence;
  return fault;
}

Fault atBlock(FaultKind kind, std::uint32_t block) {
  return onCommand(kind, CMD_WRITE_BLOCK, block);
}

std::size_t addDevice(Bus& bus, Device device) {
  bus.devices.push_back(std::move(device));
  return bus.devices.size() - 1;
}

Device makeSupportedUnitWithoutFlash() {
  Device unit;
  unit.kind = DeviceKind::ProgrammingUnit;
  unit.vendorId = UNIT_VENDOR_ID;
  unit.productId = 1;
  unit.path = interfacePath(unit.vendorId, unit.productId);
  unit.identity.firmwareVersion = SUPPORTED_UNIT_FIRMWARE;
  unit.identity.memoryWords[0] = SUPPORTED_UNIT_FIRMWARE;
  unit.identity.escStatus = ESC_STATUS_READY;
  writeLe16(unit.identity.escInfo + 4, SUPPORTED_ESC_FIRMWARE);
  writeLe32(unit.identity.escIdent, SUPPORTED_MODEL_CODE);
  writeLe32(unit.identity.escIdent + 4, SUPPORTED_BOOTLOADER_VERSION);
  return unit;
}

Device makeSupportedUnit() {
  Device unit = makeSupportedUnitWithoutFlash();
  unit.bootloader.flash.assign(DEFAULT_FLASH_SIZE, 0x00);
  return unit;
}

Device makeOtherDevice(std::uint16_t vendorId, std::uint16_t productId, std::u16string path) {
  Device device;
  device.kind = DeviceKind::OtherDevice;
  device.vendorId = vendorId;
  device.productId = productId;
  device.path = path.empty() ? interfacePath(vendorId, productId) : std::move(path);
  return device;
}

std::size_t installSupportedUnit(Bus& bus) {
  install(bus);
  return addDevice(bus, makeSupportedUnit());
}

// A re-plugged unit starts afresh: its lock and the ESC's protection are back to their
// power-on state, while the flash keeps what was written.
void plug(Bus& bus, std::size_t device) {
  Device& target = bus.devices[device];
  if (target.plugged) {
    return;
  }
  target.plugged = true;
  ++target.generation;
  Bootloader& bootloader = target.bootloader;
  bootloader.systemLocked = false;
  bootloader.writeProtected = true;
  bootloader.erased = false;
  bootloader.addressSet = false;
  bootloader.address = 0;
}

void unplug(Bus& bus, std::size_t device) {
  bus.devices[device].plugged = false;
  bus.devices[device].pendingAnswers.clear();
}

std::vector<std::u16string> pluggedPaths(const Bus& bus) {
  std::vector<std::u16string> paths;
  for (const Device& device : bus.devices) {
    if (device.plugged) {
      paths.push_back(device.path);
    }
  }
  return paths;
}

std::size_t findDevice(const Bus& bus, const char16_t* path) {
  if (path == nullptr) {
    return NO_DEVICE;
  }
  for (std::size_t index = 0; index < bus.devices.size(); ++index) {
    if (bus.devices[index].plugged && samePath(bus.devices[index].path, path)) {
      return index;
    }
  }
  return NO_DEVICE;
}

std::size_t openHandleCount(const Bus& bus) {
  std::size_t count = 0;
  for (const OpenHandle& handle : bus.handles) {
    count += handle.open ? 1 : 0;
  }
  return count;
}

std::vector<const LogEntry*> entriesOf(const Bus& bus, EventKind kind) {
  std::vector<const LogEntry*> entries;
  for (const LogEntry& entry : bus.log) {
    if (entry.kind == kind) {
      entries.push_back(&entry);
    }
  }
  return entries;
}

std::vector<std::uint8_t> sentCommands(const Bus& bus) {
  std::vector<std::uint8_t> commands;
  for (const LogEntry& entry : bus.log) {
    if (entry.kind == EventKind::Write && entry.succeeded && entry.bytes.size() > 1) {
      commands.push_back(entry.bytes[1]);
    }
  }
  return commands;
}

std::vector<std::uint8_t> writtenFirmware(const Device& unit) {
  const auto& flash = unit.bootloader.flash;
  const std::size_t end = std::min<std::size_t>(unit.bootloader.writtenEnd, flash.size());
  return std::vector<std::uint8_t>(flash.begin(), flash.begin() + static_cast<std::ptrdiff_t>(end));
}

}  // namespace esc::sim
