// The HID.DLL and SETUPAPI.DLL functions the platform uses, resolved at run time.
// Neither DLL is imported statically: the program's import table then names only DLLs
// that Windows always takes from System32, and a planted copy beside the program is
// never picked up.
#pragma once

#include <windows.h>
// SetupAPI's header needs the base types above declared first.
#include <setupapi.h>

namespace esc {

// HID.DLL's records, declared here with the layout HID.DLL writes, so that no driver-kit
// header is needed.
struct HidAttributesRecord {
  ULONG Size;
  USHORT VendorID;
  USHORT ProductID;
  USHORT VersionNumber;
};
static_assert(sizeof(HidAttributesRecord) == 12, "HIDD_ATTRIBUTES layout");

struct HidCapabilitiesRecord {
  USHORT Usage;
  USHORT UsagePage;
  USHORT InputReportByteLength;
  USHORT OutputReportByteLength;
  USHORT FeatureReportByteLength;
  USHORT Reserved[17];
  USHORT Counts[10];
};
static_assert(sizeof(HidCapabilitiesRecord) == 64, "HIDP_CAPS layout");

struct HidPreparsedData;  // opaque, owned by HID.DLL

inline constexpr LONG HIDP_STATUS_SUCCESS_VALUE = 0x00110000;

struct HidApi {
  void(WINAPI* HidD_GetHidGuid)(GUID* hidGuid);
  BOOLEAN(WINAPI* HidD_GetAttributes)(HANDLE device, HidAttributesRecord* attributes);
  BOOLEAN(WINAPI* HidD_GetPreparsedData)(HANDLE device, HidPreparsedData** preparsedData);
  BOOLEAN(WINAPI* HidD_FreePreparsedData)(HidPreparsedData* preparsedData);
  LONG(WINAPI* HidP_GetCaps)(HidPreparsedData* preparsedData, HidCapabilitiesRecord* caps);
  BOOLEAN(WINAPI* HidD_FlushQueue)(HANDLE device);

  HDEVINFO(WINAPI* SetupDiGetClassDevsW)
  (const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags);
  BOOL(WINAPI* SetupDiEnumDeviceInterfaces)
  (HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfo, const GUID* interfaceClassGuid,
   DWORD memberIndex, PSP_DEVICE_INTERFACE_DATA interfaceData);
  BOOL(WINAPI* SetupDiGetDeviceInterfaceDetailW)
  (HDEVINFO deviceInfoSet, PSP_DEVICE_INTERFACE_DATA interfaceData,
   PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize, PDWORD requiredSize,
   PSP_DEVINFO_DATA deviceInfo);
  BOOL(WINAPI* SetupDiDestroyDeviceInfoList)(HDEVINFO deviceInfoSet);
};

// Loads the two DLLs from System32 only and resolves every function. On failure nothing
// stays loaded, `api` is left empty and the result is the Windows error code (126 for a
// missing DLL, 127 for a missing function); ERROR_SUCCESS otherwise. The names are
// parameters so that the clean failure can be exercised with DLLs that lack the exports.
DWORD loadHidApi(const wchar_t* hidDllName, const wchar_t* setupDllName, HidApi& api);

// hid.dll and setupapi.dll, loaded on the first call and kept for the whole run. Null
// when the load failed; `loadError` then holds why.
const HidApi* systemHidApi(DWORD& loadError);

}  // namespace esc
