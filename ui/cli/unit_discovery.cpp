#include "ui/cli/unit_discovery.h"

#include "device/hid_link.h"

namespace esc::cli {
namespace {

// Calls `visit` with the path of each listed interface until it returns false.
template <typename Visit>
bool forEachInterface(const HidPlatform& platform, Visit visit) {
  if (!platform.beginEnumeration(platform.context)) {
    return false;
  }
  std::u16string path;
  for (std::uint32_t index = 0; index != UINT32_MAX; ++index) {
    const InterfaceLookup lookup = platform.interfaceAt(platform.context, index, path);
    if (lookup == InterfaceLookup::End) {
      break;
    }
    if (lookup == InterfaceLookup::Found && !visit(path)) {
      break;
    }
  }
  platform.endEnumeration(platform.context);
  return true;
}

bool readUnitIds(const HidPlatform& platform, const std::u16string& path,
                 std::uint16_t& productId) {
  const DeviceHandle device = platform.openDevice(platform.context, path.c_str());
  if (device == INVALID_DEVICE_HANDLE) {
    return false;
  }
  std::uint16_t vendorId = 0;
  const bool read = platform.readAttributes(platform.context, device, vendorId, productId);
  platform.closeDevice(platform.context, device);
  return read && isUnitIdentity(vendorId, productId);
}

char16_t lowerAscii(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

DeviceFilter& filterOf(void* context) { return *static_cast<DeviceFilter*>(context); }
const HidPlatform& baseOf(void* context) { return *filterOf(context).base; }

bool filteredBegin(void* context) {
  const HidPlatform& base = baseOf(context);
  return base.beginEnumeration(base.context);
}

// Index 0 is the filter's device when the base lists it; there is no index 1.
InterfaceLookup filteredInterfaceAt(void* context, std::uint32_t index, std::u16string& path) {
  const DeviceFilter& filter = filterOf(context);
  const HidPlatform& base = *filter.base;
  if (index != 0) {
    return InterfaceLookup::End;
  }
  for (std::uint32_t at = 0; at != UINT32_MAX; ++at) {
    const InterfaceLookup lookup = base.interfaceAt(base.context, at, path);
    if (lookup == InterfaceLookup::End) {
      return InterfaceLookup::End;
    }
    if (lookup == InterfaceLookup::Found && samePath(path, filter.path, filter.ignoreCase)) {
      return InterfaceLookup::Found;
    }
  }
  return InterfaceLookup::End;
}

void filteredEnd(void* context) {
  const HidPlatform& base = baseOf(context);
  base.endEnumeration(base.context);
}

DeviceHandle filteredOpen(void* context, const char16_t* path) {
  const HidPlatform& base = baseOf(context);
  return base.openDevice(base.context, path);
}

bool filteredAttributes(void* context, DeviceHandle device, std::uint16_t& vendorId,
                        std::uint16_t& productId) {
  const HidPlatform& base = baseOf(context);
  return base.readAttributes(base.context, device, vendorId, productId);
}

bool filteredCapabilities(void* context, DeviceHandle device, std::uint16_t& inputLength,
                          std::uint16_t& outputLength) {
  const HidPlatform& base = baseOf(context);
  return base.readCapabilities(base.context, device, inputLength, outputLength);
}

void filteredDiscard(void* context, DeviceHandle device) {
  const HidPlatform& base = baseOf(context);
  base.discardInput(base.context, device);
}

bool filteredWrite(void* context, DeviceHandle device, const std::uint8_t* report,
                   std::uint32_t length, std::uint32_t timeoutMs) {
  const HidPlatform& base = baseOf(context);
  return base.writeReport(base.context, device, report, length, timeoutMs);
}

bool filteredRead(void* context, DeviceHandle device, std::uint8_t* report, std::uint32_t length,
                  std::uint32_t timeoutMs) {
  const HidPlatform& base = baseOf(context);
  return base.readReport(base.context, device, report, length, timeoutMs);
}

void filteredClose(void* context, DeviceHandle device) {
  const HidPlatform& base = baseOf(context);
  base.closeDevice(base.context, device);
}

std::uint32_t filteredLastError(void* context) {
  const HidPlatform& base = baseOf(context);
  return base.lastError(base.context);
}

void filteredSleep(void* context, std::uint32_t milliseconds) {
  const HidPlatform& base = baseOf(context);
  base.sleep(base.context, milliseconds);
}

std::uint64_t filteredNow(void* context) {
  const HidPlatform& base = baseOf(context);
  return base.nowMicroseconds(base.context);
}

void filteredSleepUntil(void* context, std::uint64_t deadlineMicroseconds) {
  const HidPlatform& base = baseOf(context);
  base.sleepUntil(base.context, deadlineMicroseconds);
}

}  // namespace

bool samePath(const std::u16string& a, const std::u16string& b, bool ignoreCase) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    const bool same = ignoreCase ? lowerAscii(a[i]) == lowerAscii(b[i]) : a[i] == b[i];
    if (!same) {
      return false;
    }
  }
  return true;
}

bool findUnits(const HidPlatform& platform, std::vector<UnitEntry>& units) {
  units.clear();
  std::vector<std::u16string> paths;
  const bool listed = forEachInterface(platform, [&paths](const std::u16string& path) {
    paths.push_back(path);
    return true;
  });
  // The ids are read once the list is released, as the link does after its enumeration.
  for (const std::u16string& path : paths) {
    std::uint16_t productId = 0;
    if (readUnitIds(platform, path, productId)) {
      units.push_back(UnitEntry{path, productId});
    }
  }
  return listed;
}

DeviceCheck checkDevicePath(const HidPlatform& platform, const std::u16string& path,
                            bool ignoreCase) {
  bool listed = false;
  std::u16string found;
  if (!forEachInterface(platform, [&](const std::u16string& candidate) {
        listed = samePath(candidate, path, ignoreCase);
        if (listed) found = candidate;
        return !listed;
      })) {
    return DeviceCheck::ListUnavailable;
  }
  if (!listed) {
    return DeviceCheck::NoDevice;
  }
  std::uint16_t productId = 0;
  return readUnitIds(platform, found, productId) ? DeviceCheck::Unit : DeviceCheck::NotAUnit;
}

HidPlatform restrictToDevice(DeviceFilter& filter) {
  return HidPlatform{&filter,       filteredBegin,      filteredInterfaceAt,  filteredEnd,
                     filteredOpen,  filteredAttributes, filteredCapabilities, filteredDiscard,
                     filteredWrite, filteredRead,       filteredClose,        filteredLastError,
                     filteredSleep, filteredNow,        filteredSleepUntil};
}

}  // namespace esc::cli
