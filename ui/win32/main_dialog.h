// The Windows program's main dialog and the process-wide values it works with. The
// product's entry point and the simulator's both run the program through
// RunUpdaterProgram; the simulator sends its device notifications to `mainWindow`.
#pragma once

#include <windows.h>

#include <cstdint>

#include "device/hid_link.h"
#include "resources/messages.h"
#include "ui/win32/update_signals.h"
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
// and the modal main dialog. `loadImage` finds the firmware images for the update;
// `signals` are told about each update's command sequence. Returns 0 however the dialog
// ended.
int RunUpdaterProgram(HINSTANCE instance, ImageLoader loadImage,
                      DeviceNotificationRegistrar registrar = RegisterDeviceNotificationW,
                      const UpdateSignals& signals = windowsUpdateSignals());

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// A WM_SYSCOMMAND that asks to close the window; the code's low four bits are the
// system's own.
inline bool isCloseSystemCommand(WPARAM command) { return (command & 0xFFF0) == SC_CLOSE; }
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
// Held, they wait (see below); otherwise they act, and then so do those held meanwhile.
BOOL OnDeviceChange(WPARAM event, LPARAM data);

// Device notifications are held from Hold to the matching Release (the calls nest): while
// a message box of the program is open, while the update uses the link, and while a
// transfer waits for the unit. A box must never open on top of another, nor the link
// change under the update or under a transfer. A question of the update holds arrivals
// only: the unit's removal is shown at once, and the update then fails at the lock.
enum class HeldNotifications { All, ArrivalsOnly };
void HoldDeviceNotifications(HeldNotifications held = HeldNotifications::All);
void ReleaseDeviceNotifications(HeldNotifications held = HeldNotifications::All);
// Once nothing holds them, lets the held notifications do what they would have done, in
// their order; does nothing while they are held. True when the last detection it ran
// found a unit and gave it up (the link is then closed, and the unit's heading shown).
bool HandleHeldDeviceNotifications();
// MessageBoxW owned by the dialog, with device notifications held while it is open.
int ShowMessageBox(const char16_t* text, const char16_t* caption, UINT type,
                   HeldNotifications held = HeldNotifications::All);
// Replaces the status panel's text with the heading, a blank line and the connection
// instructions.
void ShowStatusWithInstructions(MessageId heading);

// Shows the versions of the open link, or the closed state.
void RefreshVersionDisplay();
// Closes the link, disables Update, refreshes the versions, shows the error box and
// leaves the failure notice in the status panel. An errorValue of -1 has no code line.
void ReportError(const char16_t* message, const char16_t* caption, std::int32_t errorValue,
                 std::uint32_t systemError);

// How the update procedure reaches the user in this program; `signals` is told about
// the command sequence and must outlive the update.
UpdatePort windowsUpdatePort(const UpdateSignals& signals);
// From the update's lock request until its writing has stopped, failed or not: the
// session must not end meanwhile.
bool UpdateIsWriting();

}  // namespace esc
