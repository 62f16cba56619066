// The Windows program's main dialog and the process-wide values it works with. The
// product's entry point and the simulator's both run the program through
// RunUpdaterProgram; the simulator sends its device notifications to `mainWindow`.
#pragma once

#include <windows.h>

#include <cstdint>

#include "device/hid_link.h"
#include "resources/messages.h"
#include "updater/classification.h"
#include "updater/firmware_image.h"
#include "updater/update_port.h"

namespace esc {

// Source of every string, icon and bitmap the program loads.
extern HINSTANCE appInstance;
// The main dialog while it exists, null before and after.
extern HWND mainWindow;
// The HID device-interface notification registration, null while there is none.
extern HDEVNOTIFY deviceNotification;
// The one link to the programming unit.
extern HidLink deviceLink;
// What the last classification decided; read by the update.
extern UpdateTarget updateTarget;

// Registers a window for the device notifications that a filter selects: the platform's
// RegisterDeviceNotificationW, or the simulator's stand-in that refuses.
using DeviceNotificationRegistrar = HDEVNOTIFY(WINAPI*)(HANDLE recipient, LPVOID filter,
                                                        DWORD flags);

// Runs the program once the HID platform is installed: common controls, the cleared link
// and the modal main dialog. `loadImage` finds the firmware images for the update.
// Returns 0 however the dialog ended.
int RunUpdaterProgram(HINSTANCE instance, ImageLoader loadImage,
                      DeviceNotificationRegistrar registrar = RegisterDeviceNotificationW);

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Icon, title, row labels, then the notification registration and start-up detection.
void InitMainDialog(HWND window);
// Draws the logo right of the version group box.
void PaintLogo(HWND window);

// Registers the dialog for HID device-interface notifications through `registrar`. On
// failure shows the error box and ends the dialog with result 1, and returns false.
bool RegisterDeviceNotifications(HWND window, DeviceNotificationRegistrar registrar);
// The first detection, when the dialog opens.
void DetectUnitAtStartup();
// Device arrival and removal. TRUE for those two events, whether acted on or not.
BOOL OnDeviceChange(WPARAM event, LPARAM data);
// Replaces the status panel's text with the heading, a blank line and the connection
// instructions.
void ShowStatusWithInstructions(MessageId heading);

// Shows the versions of the open link, or the closed state.
void RefreshVersionDisplay();
// Closes the link, disables Update, refreshes the versions, shows the error box and
// leaves the failure notice in the status panel. An errorValue of -1 has no code line.
void ReportError(const char16_t* message, const char16_t* caption, std::int32_t errorValue,
                 std::uint32_t systemError);

// How the update procedure reaches the user in this program.
const UpdatePort& windowsUpdatePort();

}  // namespace esc
