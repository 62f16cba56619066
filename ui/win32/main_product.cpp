// The updater for the real programming unit: the Windows HID platform, then the program.
#include <windows.h>

#include "device/hid_platform.h"
#include "device/win32/platform_win32.h"
#include "ui/win32/main_dialog.h"
#include "ui/win32/system_libraries.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  esc::searchSystemFolderOnly();
  esc::setHidPlatform(&esc::windowsHidPlatform());
  return esc::RunUpdaterProgram(instance, esc::productImageLoader());
}
