// Checks the Windows HID platform operations on a real (or Wine) system: loading of the
// system DLLs, enumeration, open failures, transfers with timeouts and precise sleeps.
// Console program; prints one line per check and exits nonzero when any check failed.
// With --plain-load-control it only loads "hid.dll" through the ordinary search order,
// which the DLL-planting script uses to show that its planted DLL would be picked up.
#include "tests/wine/platform_probe.h"

#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "device/win32/hid_api.h"
#include "device/win32/platform_win32.h"

namespace probe {

int failures = 0;

void check(bool passed, const char* format, ...) {
  std::printf("%s ", passed ? "ok  " : "FAIL");
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
  std::printf("\n");
  std::fflush(stdout);
  if (!passed) {
    ++failures;
  }
}

const esc::HidPlatform& platform() { return esc::windowsHidPlatform(); }

}  // namespace probe

namespace {

using probe::check;
using probe::platform;

std::wstring systemDirectory() {
  wchar_t buffer[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
  return std::wstring(buffer, length < MAX_PATH ? length : 0);
}

// True when the module is loaded and its file lies directly in the system directory.
bool loadedFromSystem32(const wchar_t* name) {
  const HMODULE module = GetModuleHandleW(name);
  wchar_t path[MAX_PATH] = {};
  if (module == nullptr || GetModuleFileNameW(module, path, MAX_PATH) == 0) {
    return false;
  }
  const std::wstring folder = systemDirectory() + L"\\";
  const std::wstring file(path);
  return !folder.empty() && file.size() > folder.size() &&
         _wcsnicmp(file.c_str(), folder.c_str(), folder.size()) == 0 &&
         file.find(L'\\', folder.size()) == std::wstring::npos;
}

void checkTable() {
  const esc::HidPlatform& p = platform();
  const bool complete = p.context && p.beginEnumeration && p.interfaceAt && p.endEnumeration &&
                        p.openDevice && p.readAttributes && p.readCapabilities && p.writeReport &&
                        p.readReport && p.closeDevice && p.lastError && p.sleep &&
                        p.nowMicroseconds && p.sleepUntil;
  check(complete, "every operation of the table is filled");
}

// Whatever HID devices the system has (Wine brings a virtual mouse and keyboard) are
// opened and queried like the unit would be; a read on them gets no report and times out.
void examineDevice(const std::u16string& path) {
  const esc::HidPlatform& p = platform();
  std::printf("info interface %ls\n", reinterpret_cast<const wchar_t*>(path.c_str()));
  const esc::DeviceHandle device = p.openDevice(p.context, path.c_str());
  if (device == esc::INVALID_DEVICE_HANDLE) {
    std::printf("info   not opened (lastError %u)\n", p.lastError(p.context));
    return;
  }
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  const bool attributes = p.readAttributes(p.context, device, vendorId, productId);
  check(attributes, "an opened HID device gives its attributes: vendor %04x product %04x", vendorId,
        productId);
  std::uint16_t inputLength = 0;
  std::uint16_t outputLength = 0;
  const bool capabilities = p.readCapabilities(p.context, device, inputLength, outputLength);
  check(capabilities, "an opened HID device gives its report lengths: input %u output %u",
        inputLength, outputLength);
  if (capabilities && inputLength > 0) {
    std::uint8_t report[256] = {};
    const std::uint32_t length = inputLength < sizeof(report) ? inputLength : sizeof(report);
    const std::uint64_t start = p.nowMicroseconds(p.context);
    const bool read = p.readReport(p.context, device, report, length, 100);
    const std::uint64_t elapsed = (p.nowMicroseconds(p.context) - start) / 1000u;
    const std::uint32_t error = read ? 0 : p.lastError(p.context);
    std::printf("info   read: %s, lastError %u, %llu ms\n", read ? "a report" : "none", error,
                static_cast<unsigned long long>(elapsed));
    check(elapsed < 2000 && (read || error != 0), "a read on it ends within its timeout");
  }
  p.closeDevice(p.context, device);
}

void checkEnumeration() {
  const esc::HidPlatform& p = platform();
  const bool begun = p.beginEnumeration(p.context);
  check(begun, "the HID interface list is available (lastError %u)", p.lastError(p.context));
  std::uint32_t found = 0;
  std::uint32_t withoutDetail = 0;
  std::uint32_t index = 0;
  bool pathsNonEmpty = true;
  std::u16string path;
  for (; begun && index < 4096; ++index) {
    const esc::InterfaceLookup lookup = p.interfaceAt(p.context, index, path);
    if (lookup == esc::InterfaceLookup::End) {
      break;
    }
    if (lookup == esc::InterfaceLookup::Found) {
      ++found;
      pathsNonEmpty = pathsNonEmpty && !path.empty();
      examineDevice(path);
    } else {
      ++withoutDetail;
    }
  }
  check(index < 4096, "enumeration ends: %u interfaces with a path, %u without", found,
        withoutDetail);
  check(pathsNonEmpty, "every interface found has a nonempty path");
  p.endEnumeration(p.context);
  p.endEnumeration(p.context);
  const bool ended = p.interfaceAt(p.context, 0, path) == esc::InterfaceLookup::End;
  const std::uint32_t endError = p.lastError(p.context);
  check(ended && endError == ERROR_INVALID_HANDLE,
        "after the list is released, lookups end (lastError %u)", endError);
  check(p.beginEnumeration(p.context) && p.beginEnumeration(p.context),
        "a new enumeration may start while one is open");
  p.endEnumeration(p.context);
  check(loadedFromSystem32(L"hid.dll"), "hid.dll was loaded from the system directory");
  check(loadedFromSystem32(L"setupapi.dll"), "setupapi.dll was loaded from the system directory");
}

bool emptyApi(const esc::HidApi& api) {
  return !api.HidD_GetHidGuid && !api.HidD_GetAttributes && !api.HidP_GetCaps &&
         !api.SetupDiGetClassDevsW && !api.SetupDiDestroyDeviceInfoList;
}

// A System32 DLL without the HID exports, not yet loaded, so its unloading can be seen.
const wchar_t* unloadedSystemDll() {
  for (const wchar_t* name : {L"version.dll", L"mpr.dll", L"msacm32.dll", L"netapi32.dll"}) {
    if (GetModuleHandleW(name) == nullptr) {
      return name;
    }
  }
  return nullptr;
}

void checkLoaderFailures() {
  const wchar_t* stranger = unloadedSystemDll();
  check(stranger != nullptr, "a System32 DLL without HID exports is available for the test");
  if (stranger == nullptr) {
    return;
  }
  esc::HidApi api{};
  DWORD error = esc::loadHidApi(stranger, L"setupapi.dll", api);
  check(error == ERROR_PROC_NOT_FOUND && emptyApi(api) && GetModuleHandleW(stranger) == nullptr,
        "a HID DLL without the functions fails the load and is unloaded (error %lu)", error);
  error = esc::loadHidApi(L"hid.dll", stranger, api);
  check(error == ERROR_PROC_NOT_FOUND && emptyApi(api) && GetModuleHandleW(stranger) == nullptr,
        "a SetupAPI DLL without the functions fails the load and is unloaded (error %lu)", error);
  error = esc::loadHidApi(L"esc-absent-library.dll", L"setupapi.dll", api);
  check(error == ERROR_MOD_NOT_FOUND && emptyApi(api), "a missing DLL fails the load (error %lu)",
        error);
}

void checkOpenFailures() {
  const esc::HidPlatform& p = platform();
  const char16_t* absent =
      u"\\\\?\\hid#vid_0000&pid_0000#0&00000000&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  const bool refused = p.openDevice(p.context, absent) == esc::INVALID_DEVICE_HANDLE;
  const std::uint32_t error = p.lastError(p.context);
  check(refused && error != 0 && GetLastError() == error,
        "opening a device that does not exist fails (lastError %u)", error);
  const bool emptyRefused = p.openDevice(p.context, u"") == esc::INVALID_DEVICE_HANDLE &&
                            p.openDevice(p.context, nullptr) == esc::INVALID_DEVICE_HANDLE;
  check(emptyRefused && p.lastError(p.context) == ERROR_INVALID_PARAMETER,
        "an empty or missing path is refused (lastError %u)", p.lastError(p.context));
}

int plainLoadControl() {
  const HMODULE module = LoadLibraryW(L"hid.dll");
  wchar_t path[MAX_PATH] = {};
  if (module != nullptr) {
    GetModuleFileNameW(module, path, MAX_PATH);
  }
  std::printf("info plain LoadLibraryW(hid.dll): %ls\n", module ? path : L"(not loaded)");
  return module != nullptr ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--plain-load-control") == 0) {
    return plainLoadControl();
  }
  checkTable();
  checkEnumeration();
  checkLoaderFailures();
  checkOpenFailures();
  probe::checkTransfers();
  probe::checkClock();
  std::printf("%s: %d failed check(s)\n", probe::failures == 0 ? "PASS" : "FAIL", probe::failures);
  return probe::failures == 0 ? 0 : 1;
}
