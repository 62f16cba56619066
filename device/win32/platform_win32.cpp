#include "device/win32/platform_win32.h"

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "device/win32/hid_api.h"
#include "device/win32/overlapped_transfer.h"
#include "device/win32/precise_clock.h"

namespace esc {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows paths are UTF-16");

constexpr std::size_t DETAIL_PATH_OFFSET = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
// A device interface path is a kernel object name, which cannot exceed 32767 UTF-16 units;
// a larger size from the size query is not trusted.
constexpr DWORD MAX_DETAIL_BYTES = static_cast<DWORD>(DETAIL_PATH_OFFSET + 32768 * sizeof(wchar_t));

struct PlatformState {
  HDEVINFO interfaces = INVALID_HANDLE_VALUE;
  GUID hidGuid{};
  // Kept here because the calls made after a failure (cancelling a transfer, freeing
  // memory) may overwrite the thread's own value before the caller asks for it.
  DWORD lastError = ERROR_SUCCESS;
  TransferWaitHandler transferWait{};
};

PlatformState& stateOf(void* context) { return *static_cast<PlatformState*>(context); }

HANDLE toHandle(DeviceHandle device) { return reinterpret_cast<HANDLE>(device); }
DeviceHandle toDeviceHandle(HANDLE handle) { return reinterpret_cast<DeviceHandle>(handle); }

DWORD knownError(DWORD error) { return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE; }

void record(PlatformState& state, DWORD error) {
  state.lastError = error;
  SetLastError(error);
}

bool fail(PlatformState& state, DWORD error) {
  record(state, error);
  return false;
}

const HidApi* loadedApi(PlatformState& state) {
  DWORD loadError = ERROR_SUCCESS;
  const HidApi* api = systemHidApi(loadError);
  if (api == nullptr) {
    record(state, knownError(loadError));
  }
  return api;
}

void endEnumeration(void* context) {
  PlatformState& state = stateOf(context);
  if (state.interfaces == INVALID_HANDLE_VALUE) {
    return;
  }
  DWORD unused = ERROR_SUCCESS;
  const HidApi* api = systemHidApi(unused);
  if (api != nullptr) {
    api->SetupDiDestroyDeviceInfoList(state.interfaces);
  }
  state.interfaces = INVALID_HANDLE_VALUE;
}

bool beginEnumeration(void* context) {
  PlatformState& state = stateOf(context);
  endEnumeration(context);
  const HidApi* api = loadedApi(state);
  if (api == nullptr) {
    return false;
  }
  api->HidD_GetHidGuid(&state.hidGuid);
  const HDEVINFO interfaces = api->SetupDiGetClassDevsW(&state.hidGuid, nullptr, nullptr,
                                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (interfaces == INVALID_HANDLE_VALUE) {
    return fail(state, knownError(GetLastError()));
  }
  state.interfaces = interfaces;
  return true;
}

// Copies the NUL-terminated path out of a detail record of `size` bytes, never reading
// past the record even if the terminator is missing.
void copyDevicePath(const DWORD* record, DWORD size, std::u16string& path) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(record) + DETAIL_PATH_OFFSET;
  const std::size_t capacity = (size - DETAIL_PATH_OFFSET) / sizeof(char16_t);
  for (std::size_t i = 0; i < capacity; ++i) {
    char16_t unit = 0;
    std::memcpy(&unit, bytes + i * sizeof(char16_t), sizeof(unit));
    if (unit == u'\0') {
      break;
    }
    path.push_back(unit);
  }
}

InterfaceLookup interfaceAt(void* context, std::uint32_t index, std::u16string& path) {
  PlatformState& state = stateOf(context);
  path.clear();
  if (state.interfaces == INVALID_HANDLE_VALUE) {
    record(state, ERROR_INVALID_HANDLE);
    return InterfaceLookup::End;
  }
  const HidApi* api = loadedApi(state);
  if (api == nullptr) {
    return InterfaceLookup::End;
  }
  SP_DEVICE_INTERFACE_DATA interfaceData{};
  interfaceData.cbSize = sizeof(interfaceData);
  if (!api->SetupDiEnumDeviceInterfaces(state.interfaces, nullptr, &state.hidGuid, index,
                                        &interfaceData)) {
    record(state, knownError(GetLastError()));  // ERROR_NO_MORE_ITEMS past the last one
    return InterfaceLookup::End;
  }
  DWORD required = 0;
  const BOOL sized = api->SetupDiGetDeviceInterfaceDetailW(state.interfaces, &interfaceData,
                                                           nullptr, 0, &required, nullptr);
  const DWORD sizeError = GetLastError();
  if (sized || sizeError != ERROR_INSUFFICIENT_BUFFER) {
    record(state, sized ? ERROR_INVALID_DATA : knownError(sizeError));
    return InterfaceLookup::DetailUnavailable;
  }
  if (required <= DETAIL_PATH_OFFSET || required > MAX_DETAIL_BYTES) {
    record(state, ERROR_INVALID_DATA);
    return InterfaceLookup::DetailUnavailable;
  }
  // DWORD units keep the record aligned for its cbSize member.
  const std::unique_ptr<DWORD[]> storage(
      new (std::nothrow) DWORD[(required + sizeof(DWORD) - 1) / sizeof(DWORD)]());
  if (!storage) {
    record(state, ERROR_NOT_ENOUGH_MEMORY);
    return InterfaceLookup::DetailUnavailable;
  }
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.get());
  // The size of the fixed part, not of the whole record: the call checks exactly this.
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  if (!api->SetupDiGetDeviceInterfaceDetailW(state.interfaces, &interfaceData, detail, required,
                                             nullptr, nullptr)) {
    record(state, knownError(GetLastError()));
    return InterfaceLookup::DetailUnavailable;
  }
  copyDevicePath(storage.get(), required, path);
  if (path.empty()) {
    record(state, ERROR_INVALID_DATA);
    return InterfaceLookup::DetailUnavailable;
  }
  return InterfaceLookup::Found;
}

DeviceHandle openDevice(void* context, const char16_t* path) {
  PlatformState& state = stateOf(context);
  if (path == nullptr || *path == u'\0') {
    record(state, ERROR_INVALID_PARAMETER);
    return INVALID_DEVICE_HANDLE;
  }
  // Overlapped, so that every transfer can be given up after its timeout.
  const HANDLE device = CreateFileW(
      reinterpret_cast<const wchar_t*>(path), GENERIC_READ | GENERIC_WRITE,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (device == INVALID_HANDLE_VALUE || device == nullptr) {
    record(state, knownError(GetLastError()));
    return INVALID_DEVICE_HANDLE;
  }
  return toDeviceHandle(device);
}

bool readAttributes(void* context, DeviceHandle device, std::uint16_t& vendorId,
                    std::uint16_t& productId) {
  PlatformState& state = stateOf(context);
  const HidApi* api = loadedApi(state);
  if (api == nullptr) {
    return false;
  }
  HidAttributesRecord attributes{};
  attributes.Size = sizeof(attributes);
  if (!api->HidD_GetAttributes(toHandle(device), &attributes)) {
    return fail(state, knownError(GetLastError()));
  }
  vendorId = attributes.VendorID;
  productId = attributes.ProductID;
  return true;
}

bool readCapabilities(void* context, DeviceHandle device, std::uint16_t& inputLength,
                      std::uint16_t& outputLength) {
  PlatformState& state = stateOf(context);
  const HidApi* api = loadedApi(state);
  if (api == nullptr) {
    return false;
  }
  HidPreparsedData* preparsed = nullptr;
  if (!api->HidD_GetPreparsedData(toHandle(device), &preparsed)) {
    return fail(state, knownError(GetLastError()));
  }
  HidCapabilitiesRecord capabilities{};
  const LONG status = api->HidP_GetCaps(preparsed, &capabilities);
  api->HidD_FreePreparsedData(preparsed);
  if (status != HIDP_STATUS_SUCCESS_VALUE) {
    // HidP_GetCaps does not set the thread's error; its own status names the cause.
    return fail(state, static_cast<DWORD>(status));
  }
  inputLength = capabilities.InputReportByteLength;
  outputLength = capabilities.OutputReportByteLength;
  return true;
}

// HID.DLL keeps a queue of input reports per handle. Emptying it before each request means
// a late answer or a report the unit sent unasked is never taken for the next answer.
// The platform's last error is left alone: a failure here shows again in the write.
void discardInput(void*, DeviceHandle device) {
  DWORD unused = ERROR_SUCCESS;
  const HidApi* api = systemHidApi(unused);
  if (api != nullptr) {
    const DWORD savedError = GetLastError();
    api->HidD_FlushQueue(toHandle(device));
    SetLastError(savedError);
  }
}

// A completed transfer clears the last error: when the unit then refuses a command in
// its answer, the error report shows no stale value of some earlier failed call (such as
// a device that could not be opened during discovery).
bool writeReport(void* context, DeviceHandle device, const std::uint8_t* report,
                 std::uint32_t length, std::uint32_t timeoutMs) {
  PlatformState& state = stateOf(context);
  const DWORD error =
      writeOverlapped(toHandle(device), report, length, timeoutMs, state.transferWait);
  record(state, error);
  return error == ERROR_SUCCESS;
}

bool readReport(void* context, DeviceHandle device, std::uint8_t* report, std::uint32_t length,
                std::uint32_t timeoutMs) {
  PlatformState& state = stateOf(context);
  const DWORD error =
      readOverlapped(toHandle(device), report, length, timeoutMs, state.transferWait);
  record(state, error);
  return error == ERROR_SUCCESS;
}

void closeDevice(void*, DeviceHandle device) {
  if (device == INVALID_DEVICE_HANDLE || device == 0) {
    return;
  }
  // Closing is part of reporting a failure; it must not disturb that failure's error.
  const DWORD savedError = GetLastError();
  CloseHandle(toHandle(device));
  SetLastError(savedError);
}

std::uint32_t lastError(void* context) { return stateOf(context).lastError; }

void sleep(void*, std::uint32_t milliseconds) { sleepAtLeast(milliseconds); }

std::uint64_t nowMicroseconds(void*) { return monotonicMicroseconds(); }

void sleepUntil(void*, std::uint64_t deadlineMicroseconds) {
  sleepUntilMicroseconds(deadlineMicroseconds);
}

void installTransferWaitHandler(void* context, TransferWaitHandler handler) {
  stateOf(context).transferWait = handler;
}

}  // namespace

const HidPlatform& windowsHidPlatform() {
  static PlatformState state;
  static const HidPlatform platform = {
      &state,      beginEnumeration, interfaceAt,      endEnumeration,
      openDevice,  readAttributes,   readCapabilities, discardInput,
      writeReport, readReport,       closeDevice,      lastError,
      sleep,       nowMicroseconds,  sleepUntil,       installTransferWaitHandler};
  return platform;
}

}  // namespace esc
