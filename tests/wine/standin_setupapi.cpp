// A stand-in for setupapi.dll in the Wine test prefix, used by EscUpdater.exe only: the
// four SetupDi functions that list HID device interfaces, answered with the device pipes
// the test driver serves (tests/wine/hid_standin_protocol.h). Only interface lists of one
// class are served, which is all the updater asks for; anything else is refused with an
// error rather than answered wrongly.
#include <windows.h>
// Declared here without dllimport, so that the definitions below are held to the SDK's
// declarations.
#define _SETUPAPI_
#include <setupapi.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>

#include "tests/wine/hid_standin_protocol.h"
#include "tests/wine/standin_io.h"

namespace {

constexpr GUID HID_INTERFACE_CLASS = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr std::uint32_t LIST_MAGIC = 0x4C495354;
constexpr std::size_t DETAIL_PATH_OFFSET = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
// The record's fixed part on 64-bit Windows, the value callers must put in cbSize.
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8, "64-bit detail record");

// One snapshot of the driver's device list. The paths follow the record in memory, as the
// bus pipe sent them: each NUL-terminated, in enumeration order.
struct InterfaceList {
  std::uint32_t magic;
  GUID interfaceClass;
  DWORD count;
};

wchar_t* pathsOf(InterfaceList* list) { return reinterpret_cast<wchar_t*>(list + 1); }
const wchar_t* pathsOf(const InterfaceList* list) {
  return reinterpret_cast<const wchar_t*>(list + 1);
}

InterfaceList* listOf(HDEVINFO set) {
  auto* list = static_cast<InterfaceList*>(set);
  return set != nullptr && set != INVALID_HANDLE_VALUE && list->magic == LIST_MAGIC ? list
                                                                                    : nullptr;
}

const wchar_t* pathAt(const InterfaceList& list, DWORD index) {
  const wchar_t* path = pathsOf(&list);
  for (DWORD i = 0; i < index; ++i) {
    path += std::wcslen(path) + 1;
  }
  return path;
}

// Counts the paths of a list answer; false unless it is a sequence of NUL-terminated
// UTF-16 strings.
bool countPaths(const wchar_t* paths, DWORD bytes, DWORD& count) {
  count = 0;
  if (bytes % sizeof(wchar_t) != 0) {
    return false;
  }
  const std::size_t units = bytes / sizeof(wchar_t);
  if (units > 0 && paths[units - 1] != L'\0') {
    return false;
  }
  for (std::size_t i = 0; i < units; ++i) {
    count += paths[i] == L'\0' ? 1 : 0;
  }
  return true;
}

BOOL fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

bool sameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// The interface that EnumDeviceInterfaces handed out in `data`, or null.
const wchar_t* interfacePath(const InterfaceList& list, const SP_DEVICE_INTERFACE_DATA* data) {
  if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Reserved == 0 ||
      data->Reserved > list.count) {
    return nullptr;
  }
  return pathAt(list, static_cast<DWORD>(data->Reserved - 1));
}

}  // namespace

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND, DWORD flags) {
  if (classGuid == nullptr || enumerator != nullptr || (flags & DIGCF_DEVICEINTERFACE) == 0 ||
      (flags & DIGCF_ALLCLASSES) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  wchar_t paths[standin::MAX_LIST_BYTES / sizeof(wchar_t)];
  DWORD received = 0;
  // The driver serves HID interfaces only; every other class has none here.
  if (sameGuid(*classGuid, HID_INTERFACE_CLASS)) {
    standin::BusRequest request{};
    request.kind = standin::BusRequestKind::List;
    const DWORD error = standin::callBus(request, paths, sizeof paths, received);
    if (error != ERROR_SUCCESS) {
      SetLastError(error);
      return INVALID_HANDLE_VALUE;
    }
  }
  DWORD count = 0;
  if (!countPaths(paths, received, count)) {
    SetLastError(ERROR_INVALID_DATA);
    return INVALID_HANDLE_VALUE;
  }
  auto* list =
      static_cast<InterfaceList*>(HeapAlloc(GetProcessHeap(), 0, sizeof(InterfaceList) + received));
  if (list == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  list->magic = LIST_MAGIC;
  list->interfaceClass = *classGuid;
  list->count = count;
  std::memcpy(pathsOf(list), paths, received);
  return list;
}

WINBOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfo,
                                           const GUID* interfaceClassGuid, DWORD memberIndex,
                                           PSP_DEVICE_INTERFACE_DATA interfaceData) {
  const InterfaceList* list = listOf(set);
  if (list == nullptr) {
    return fail(ERROR_INVALID_HANDLE);
  }
  if (deviceInfo != nullptr || interfaceClassGuid == nullptr) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  if (interfaceData == nullptr || interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    return fail(ERROR_INVALID_USER_BUFFER);
  }
  if (!sameGuid(*interfaceClassGuid, list->interfaceClass) || memberIndex >= list->count) {
    return fail(ERROR_NO_MORE_ITEMS);
  }
  interfaceData->InterfaceClassGuid = *interfaceClassGuid;
  interfaceData->Flags = SPINT_ACTIVE;
  interfaceData->Reserved = ULONG_PTR{memberIndex} + 1;
  return TRUE;
}

// As the system's: asked without a buffer it fails with ERROR_INSUFFICIENT_BUFFER and
// says the size needed.
WINBOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO set,
                                                PSP_DEVICE_INTERFACE_DATA interfaceData,
                                                PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                                DWORD detailSize, PDWORD requiredSize,
                                                PSP_DEVINFO_DATA deviceInfo) {
  const InterfaceList* list = listOf(set);
  if (list == nullptr) {
    return fail(ERROR_INVALID_HANDLE);
  }
  const wchar_t* path = interfacePath(*list, interfaceData);
  if (path == nullptr || deviceInfo != nullptr) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  const std::size_t pathBytes = (std::wcslen(path) + 1) * sizeof(wchar_t);
  const auto needed = static_cast<DWORD>(DETAIL_PATH_OFFSET + pathBytes);
  if (requiredSize != nullptr) {
    *requiredSize = needed;
  }
  if (detail == nullptr) {
    return fail(detailSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER);
  }
  if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
    return fail(ERROR_INVALID_USER_BUFFER);
  }
  if (detailSize < needed) {
    return fail(ERROR_INSUFFICIENT_BUFFER);
  }
  // DevicePath is declared with one element; the caller's buffer holds the whole path.
  std::memcpy(reinterpret_cast<unsigned char*>(detail) + DETAIL_PATH_OFFSET, path, pathBytes);
  return TRUE;
}

WINBOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  InterfaceList* list = listOf(set);
  if (list == nullptr) {
    return fail(ERROR_INVALID_HANDLE);
  }
  list->magic = 0;
  HeapFree(GetProcessHeap(), 0, list);
  return TRUE;
}

}  // extern "C"
