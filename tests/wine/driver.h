// The Wine test driver's shared pieces: test results, the simulated program's process
// and windows, bounded waits, the texts the program must show, and screenshots.
//
// The driver runs as a separate process on the same (virtual) display. It reads the
// program's windows from outside: statics, buttons and captions with
// InternalGetWindowText (no message is sent, so this works while the program's thread
// is busy), the status panel with WM_GETTEXT under a time limit, and it presses buttons
// with posted messages or with real input (SendInput). Every wait has a time limit.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "resources/messages.h"

namespace driver {

// ---- Results -------------------------------------------------------------------------

struct Test {
  const char* name;
  int failures;
};

// Counts and prints a failure when `passed` is false; returns `passed`.
bool check(Test& test, bool passed, const char* format, ...);
// Compares a text the program shows with the one expected, printing both on a mismatch.
bool checkText(Test& test, const char* what, const std::wstring& shown,
               const std::wstring& expected);
// Prints an informational line under the current test.
void note(const char* format, ...);

// UTF-8 with CR and LF made visible, cut to a readable length.
std::string printable(const std::wstring& text);

// ---- Waits ---------------------------------------------------------------------------

inline constexpr DWORD POLL_MS = 50;
inline constexpr DWORD START_TIMEOUT_MS = 30000;
inline constexpr DWORD STATE_TIMEOUT_MS = 10000;
// A full update paces 42.7 s of waits; the margin covers a slow machine.
inline constexpr DWORD UPDATE_TIMEOUT_MS = 120000;

// Polls `condition` until it holds or `timeoutMs` have passed.
template <typename Condition>
bool waitUntil(DWORD timeoutMs, Condition condition) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) {
      return true;
    }
    if (GetTickCount64() >= end) {
      return false;
    }
    Sleep(POLL_MS);
  }
}

// ---- The simulated program ----------------------------------------------------------

struct EnvironmentSetting {
  const wchar_t* name;
  const wchar_t* value;
};

using Settings = std::vector<EnvironmentSetting>;

struct Sim {
  PROCESS_INFORMATION process{};
  HWND dialog = nullptr;      // the updater's main dialog
  HWND unitWindow = nullptr;  // "Simulated programming unit"
};

void setSimPath(const std::wstring& path);

// Starts the program at `path` with the driver's environment, less every ESCSIM_*
// variable, plus `settings`. Only the process.
bool launchProgram(Test& test, Sim& sim, const std::wstring& path, const Settings& settings);
// launchProgram for the simulator; see startSim for the windows.
bool launchSim(Test& test, Sim& sim, const Settings& settings);
// Launches and waits until the dialog and the simulator window exist and the dialog is
// visible or has a box open (a box during the start-up detection comes first).
bool startSim(Test& test, Sim& sim, const Settings& settings);
// True when the process ended within the time limit; `exitCode` is then its code.
bool waitForExit(Sim& sim, DWORD timeoutMs, DWORD& exitCode);
// Ends the program if it still runs (Close, then termination), and releases its handles.
void stopSim(Sim& sim);

// ---- Windows and controls ------------------------------------------------------------

std::wstring windowText(HWND window);
std::wstring controlText(HWND dialog, int id);
// The text of an Edit control, which keeps it in its own buffer; false when the owner
// thread does not answer in time (for instance during the update's block loop).
bool readEditText(HWND edit, std::wstring& text);
bool responsive(HWND window);
bool controlEnabled(HWND dialog, int id);
// Presses a button as a click would (BM_CLICK, posted).
void pressButton(HWND dialog, int id);
// Posts the WM_COMMAND a click on control `id` sends, whatever the control's state.
void postCommand(HWND window, int id);
bool setControlText(HWND dialog, int id, const wchar_t* text);
// Sends the dialog a device-interface notification from this process, as the platform
// would, and waits until the dialog has taken it (at most 2 s). `statedSize` is the
// record's own size field (0: header, path and terminator); the system carries that many
// bytes to the dialog.
bool sendDeviceChange(HWND dialog, WPARAM event, const std::u16string& path, DWORD statedSize = 0);

// The first top-level window of the process with this class whose title and owner match
// (a null title or owner matches any).
HWND findWindow(DWORD processId, const wchar_t* className, const wchar_t* title, HWND owner);

struct MessageBoxView {
  HWND window = nullptr;
  std::wstring caption;
  std::wstring text;
  bool hasOk = false;
  bool hasCancel = false;
  bool hasYes = false;
  bool hasNo = false;
};

// Waits for a message box of the process owned by `owner` (null: one without owner).
bool waitForMessageBox(const Sim& sim, HWND owner, DWORD timeoutMs, MessageBoxView& box);
// Presses one of the box's buttons and waits until the box is gone.
bool answerMessageBox(const MessageBoxView& box, int buttonId);

// Waits until the status panel shows `expected` (and the dialog answers); `shown` gets
// the last text read.
bool waitForPanel(const Sim& sim, const std::wstring& expected, DWORD timeoutMs,
                  std::wstring& shown);
// The value of one "name: value" line of the simulator's read-out ("" when absent).
std::string readoutValue(const Sim& sim, const char* name);
bool waitForReadout(const Sim& sim, const char* name, const char* value, DWORD timeoutMs);

// ---- Checks of the main dialog ------------------------------------------------------

// Waits for the panel text; reports the difference when it does not come.
bool checkPanel(Test& test, const Sim& sim, const std::wstring& expected, DWORD timeoutMs);
// The panel still shows `expected` a moment later.
void checkPanelStays(Test& test, const Sim& sim, const std::wstring& expected);
// Waits for the simulator's read-out line `name` to show `value`; reports it otherwise.
void checkReadout(Test& test, const Sim& sim, const char* name, const char* value);
// The closed state of the version rows: "0.0.0" three times, all six controls disabled.
void checkRowsClosed(Test& test, const Sim& sim);
// An open unit's rows: the three values and the first row's label, all six enabled.
void checkRowsShow(Test& test, const Sim& sim, const wchar_t* unit, const wchar_t* bootloader,
                   const wchar_t* esc, const wchar_t* unitLabel);
void checkUpdateEnabled(Test& test, const Sim& sim, bool enabled);
// True when a child window of `dialog` shows exactly `text`.
bool hasChildWithText(HWND dialog, const std::wstring& text);

// ---- Real user input -------------------------------------------------------------------

// SendInput moves the cursor and clicks, or types into whatever window has the focus, as
// a person would; unlike a posted message it goes through the program's input handling.
void clickAt(POINT screen);
// Clicks the middle of the window.
void clickOn(HWND window);
// Where the caption's close box of `window` is, asked of the window itself; false when
// it has none or does not answer.
bool findCloseBox(HWND window, POINT& closeBox);
void pressKey(WORD virtualKey);
// `virtualKey` while `modifier` (VK_MENU for Alt) is held down.
void pressKeyWith(WORD modifier, WORD virtualKey);

// ---- Pixels on the screen ------------------------------------------------------------

// A rectangle of the screen as it was painted, one 0x00RRGGBB value per pixel, rows from
// the top.
struct ScreenCapture {
  RECT area{};
  std::vector<std::uint32_t> pixels;
  // The pixel at screen position (x, y), which must lie inside `area`.
  std::uint32_t at(LONG x, LONG y) const;
};

bool captureScreen(const RECT& area, ScreenCapture& capture);
// The logo's red and its darker shades.
bool isLogoRed(std::uint32_t pixel);
// The red of the third version row's text.
bool isTextRed(std::uint32_t pixel);
// The logo's transparent key, pure green, and colours near it.
bool isKeyGreen(std::uint32_t pixel);
bool isNearBlack(std::uint32_t pixel);

enum class BoxIcon { None, Error, Warning, Information, Question, Unknown };

// Which system icon the message box shows, compared pixel by pixel with the icons as the
// system draws them.
BoxIcon shownIcon(const MessageBoxView& box);
// Waits briefly for the box to show `expected`; reports the icon it shows otherwise.
bool checkBoxIcon(Test& test, const MessageBoxView& box, BoxIcon expected);
// A box with OK as its only button and `icon`; `which` names it in the failure
// ("the error box").
void checkOkBox(Test& test, const MessageBoxView& box, BoxIcon icon, const char* which);

// ---- Expected texts ------------------------------------------------------------------

// Fixed literal of the program, the same in every language.
inline constexpr wchar_t MAIN_TITLE[] = L"VELMOR TESSARO HVI FW Updater 1.1 Bootloader update";

std::wstring expectedText(esc::Language language, esc::MessageId id);
// Heading, one blank line, the connection instructions.
std::wstring withInstructions(esc::Language language, esc::MessageId heading);
// The error box's text: the message, CR LF and the code line with both values.
std::wstring errorBoxText(esc::Language language, esc::MessageId message, std::uint32_t errorValue,
                          std::uint32_t systemError);
// The incompatibility box's text, the supported type in place of its %s.
std::wstring incompatibleText(esc::Language language);

// The user-interface language this run is meant to have (0: any); see --ui-language.
void setExpectedUiLanguage(LANGID language);
LANGID expectedUiLanguage();

// ---- Screenshots ---------------------------------------------------------------------

void setScreenshotDirectory(const std::wstring& directory);
// Asks the runner for a screenshot of the display named `name` and waits until it is
// taken; does nothing without a screenshot directory.
void screenshot(const char* name);

}  // namespace driver
