#include "device/win32/hid_api.h"

namespace esc {
namespace {

// GetProcAddress hands back a generic function pointer; going through void(*)() keeps
// the conversion free of cast warnings on every compiler.
template <typename Function>
bool resolve(HMODULE module, const char* name, Function& target) {
  const FARPROC address = GetProcAddress(module, name);
  if (address == nullptr) {
    return false;
  }
  target = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
  return true;
}

bool resolveHid(HMODULE hid, HidApi& api) {
  return resolve(hid, "HidD_GetHidGuid", api.HidD_GetHidGuid) &&
         resolve(hid, "HidD_GetAttributes", api.HidD_GetAttributes) &&
         resolve(hid, "HidD_GetPreparsedData", api.HidD_GetPreparsedData) &&
         resolve(hid, "HidD_FreePreparsedData", api.HidD_FreePreparsedData) &&
         resolve(hid, "HidP_GetCaps", api.HidP_GetCaps) &&
         resolve(hid, "HidD_FlushQueue", api.HidD_FlushQueue);
}

bool resolveSetup(HMODULE setup, HidApi& api) {
  return resolve(setup, "SetupDiGetClassDevsW", api.SetupDiGetClassDevsW) &&
         resolve(setup, "SetupDiEnumDeviceInterfaces", api.SetupDiEnumDeviceInterfaces) &&
         resolve(setup, "SetupDiGetDeviceInterfaceDetailW", api.SetupDiGetDeviceInterfaceDetailW) &&
         resolve(setup, "SetupDiDestroyDeviceInfoList", api.SetupDiDestroyDeviceInfoList);
}

DWORD errorOr(DWORD error, DWORD fallback) { return error != ERROR_SUCCESS ? error : fallback; }

struct SystemHidApi {
  HidApi api{};
  DWORD loadError = ERROR_SUCCESS;
};

SystemHidApi loadSystemHidApi() {
  SystemHidApi loaded;
  loaded.loadError = loadHidApi(L"hid.dll", L"setupapi.dll", loaded.api);
  return loaded;
}

}  // namespace

DWORD loadHidApi(const wchar_t* hidDllName, const wchar_t* setupDllName, HidApi& api) {
  api = HidApi{};
  HidApi resolved{};
  // Only System32 is searched: neither the program's folder nor the current directory
  // nor PATH can supply these DLLs.
  const HMODULE hid = LoadLibraryExW(hidDllName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (hid == nullptr) {
    return errorOr(GetLastError(), ERROR_MOD_NOT_FOUND);
  }
  const HMODULE setup = LoadLibraryExW(setupDllName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (setup == nullptr) {
    const DWORD error = errorOr(GetLastError(), ERROR_MOD_NOT_FOUND);
    FreeLibrary(hid);
    return error;
  }
  if (!resolveHid(hid, resolved) || !resolveSetup(setup, resolved)) {
    const DWORD error = errorOr(GetLastError(), ERROR_PROC_NOT_FOUND);
    FreeLibrary(setup);
    FreeLibrary(hid);
    return error;
  }
  // Both modules stay loaded for the rest of the run; the table points into them.
  api = resolved;
  return ERROR_SUCCESS;
}

const HidApi* systemHidApi(DWORD& loadError) {
  static const SystemHidApi loaded = loadSystemHidApi();
  loadError = loaded.loadError;
  return loaded.loadError == ERROR_SUCCESS ? &loaded.api : nullptr;
}

}  // namespace esc
