// A stand-in hid.dll for the DLL-planting check. Whoever loads it gets a marker file,
// "planted-hid-loaded.txt", beside the DLL: proof that the planted copy was used.
#include <windows.h>

#include <cstring>
#include <cwchar>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) {
    return TRUE;
  }
  wchar_t path[MAX_PATH + 32] = {};
  const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return TRUE;
  }
  wchar_t* folderEnd = std::wcsrchr(path, L'\\');
  if (folderEnd == nullptr) {
    return TRUE;
  }
  const wchar_t markerName[] = L"planted-hid-loaded.txt";
  std::memcpy(folderEnd + 1, markerName, sizeof(markerName));  // the buffer has room to spare
  const HANDLE marker =
      CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker != INVALID_HANDLE_VALUE) {
    CloseHandle(marker);
  }
  return TRUE;
}
