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

// Opens the device only to read its ids: Unit, NotAUnit, or Unusable when an open that
// fails tells that a unit is there that cannot be used, where the platform can tell
// (`openProblem`).
DeviceCheck readUnitIds(const HidPlatform& platform, OpenProblem openProblem,
                        const std::u16string& path, std::uint16_t& productId,
                        UnitProblem& problem) {
  problem = UnitProblem::None;
  const DeviceHandle device = platform.openDevice(platform.context, path.c_str());
  if (device == INVALID_DEVICE_HANDLE) {
    if (openProblem != nullptr) {
      problem = openProblem(platform.lastError(platform.context));
    }
    return problem == UnitProblem::None ? DeviceCheck::NotAUnit : DeviceCheck::Unusable;
  }
  std::uint16_t vendorId = 0;
  const bool read = platform.readAttributes(platform.context, device, vendorId, productId);
  platform.closeDevice(platform.context, device);
  return read && isUnitIdentity(vendorId, productId) ? DeviceCheck::Unit : DeviceCheck::NotAUnit;
}

char16_t lowerAscii(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

DeviceFilter& filterOf(void* context) { return *static_cast<DeviceFilter*>(context); }

// A table entry of the filtered platform that hands its call to the base platform.
template <auto Member>
struct Forward;

template <typename Result, typename... Arguments,
          Result (*HidPlatform::*Member)(void*, Arguments...)>
struct Forward<Member> {
  static Result call(void* context, Arguments... arguments) {
    const HidPlatform& base = *filterOf(context).base;
    return (base.*Member)(base.context, arguments...);
  }
};

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

bool findUnits(const HidPlatform& platform, std::vector<UnitEntry>& units,
               OpenProblem openProblem) {
  units.clear();
  std::vector<std::u16string> paths;
  const bool listed = forEachInterface(platform, [&paths](const std::u16string& path) {
    paths.push_back(path);
    return true;
  });
  // The ids are read once the list is released, as the link does after its enumeration.
  for (const std::u16string& path : paths) {
    std::uint16_t productId = 0;
    UnitProblem problem = UnitProblem::None;
    if (readUnitIds(platform, openProblem, path, productId, problem) != DeviceCheck::NotAUnit) {
      units.push_back(UnitEntry{path, productId, problem});
    }
  }
  return listed;
}

DeviceCheck checkDevicePath(const HidPlatform& platform, const std::u16string& path,
                            bool ignoreCase, OpenProblem openProblem, UnitProblem& problem) {
  problem = UnitProblem::None;
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
  return readUnitIds(platform, openProblem, found, productId, problem);
}

HidPlatform restrictToDevice(DeviceFilter& filter) {
  return HidPlatform{&filter,
                     Forward<&HidPlatform::beginEnumeration>::call,
                     filteredInterfaceAt,
                     Forward<&HidPlatform::endEnumeration>::call,
                     Forward<&HidPlatform::openDevice>::call,
                     Forward<&HidPlatform::readAttributes>::call,
                     Forward<&HidPlatform::readCapabilities>::call,
                     Forward<&HidPlatform::discardInput>::call,
                     Forward<&HidPlatform::writeReport>::call,
                     Forward<&HidPlatform::readReport>::call,
                     Forward<&HidPlatform::closeDevice>::call,
                     Forward<&HidPlatform::lastError>::call,
                     Forward<&HidPlatform::sleep>::call,
                     Forward<&HidPlatform::nowMicroseconds>::call,
                     Forward<&HidPlatform::sleepUntil>::call};
}

}  // namespace esc::cli
