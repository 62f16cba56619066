#include <windows.h>
// dbt.h relies on the Windows types being declared first.
#include <dbt.h>

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/wine/driver.h"
#include "ui/sim/sim_controls.h"

namespace driver {
namespace {

constexpr DWORD MESSAGE_TIMEOUT_MS = 300;
constexpr DWORD CLOSE_TIMEOUT_MS = 5000;
constexpr DWORD RESTART_PAUSE_MS = 1000;
constexpr DWORD SCREENSHOT_TIMEOUT_MS = 30000;
constexpr std::size_t SHOWN_TEXT_LIMIT = 300;
constexpr int MESSAGE_BOX_TEXT_ID = 0xFFFF;

std::wstring simPath;
std::wstring screenshotDirectory;
LANGID uiLanguage = 0;

std::string utf8(const std::wstring& text) {
  if (text.empty()) {
    return std::string();
  }
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size,
                      nullptr, nullptr);
  return result;
}

bool startsWithName(const std::wstring& entry, const wchar_t* name) {
  const std::size_t length = std::wcslen(name);
  return entry.size() > length && entry[length] == L'=' &&
         _wcsnicmp(entry.c_str(), name, length) == 0;
}

// The driver's environment without ESCSIM_* and the overridden names, plus `settings`,
// sorted by name as CreateProcess expects.
std::vector<wchar_t> environmentBlock(const Settings& settings) {
  std::vector<std::wstring> entries;
  wchar_t* inherited = GetEnvironmentStringsW();
  for (const wchar_t* entry = inherited; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
    const std::wstring text = entry;
    bool replaced = _wcsnicmp(entry, L"ESCSIM_", 7) == 0;
    for (const EnvironmentSetting& setting : settings) {
      replaced = replaced || startsWithName(text, setting.name);
    }
    if (!replaced) {
      entries.push_back(text);
    }
  }
  FreeEnvironmentStringsW(inherited);
  for (const EnvironmentSetting& setting : settings) {
    entries.push_back(std::wstring(setting.name) + L"=" + setting.value);
  }
  std::sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
    return _wcsicmp(a.c_str(), b.c_str()) < 0;
  });
  std::vector<wchar_t> block;
  for (const std::wstring& entry : entries) {
    block.insert(block.end(), entry.begin(), entry.end());
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

struct WindowSearch {
  DWORD processId;
  const wchar_t* className;
  const wchar_t* title;
  HWND owner;
  HWND found;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<WindowSearch*>(context);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  if (processId != search.processId || std::wcscmp(className, search.className) != 0 ||
      (search.owner != nullptr && GetWindow(window, GW_OWNER) != search.owner) ||
      (search.title != nullptr && windowText(window) != search.title)) {
    return TRUE;
  }
  search.found = window;
  return FALSE;
}

// The HID interface class, as the platform reports it in notifications.
constexpr GUID HID_INTERFACE_CLASS = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr DWORD DEVICE_CHANGE_TIMEOUT_MS = 2000;

}  // namespace

bool check(Test& test, bool passed, const char* format, ...) {
  if (passed) {
    return true;
  }
  ++test.failures;
  std::printf("  FAIL: ");
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
  std::printf("\n");
  std::fflush(stdout);
  return false;
}

bool checkText(Test& test, const char* what, const std::wstring& shown,
               const std::wstring& expected) {
  return check(test, shown == expected, "%s\n    shown:    \"%s\"\n    expected: \"%s\"", what,
               printable(shown).c_str(), printable(expected).c_str());
}

void note(const char* format, ...) {
  std::printf("  info: ");
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
  std::printf("\n");
  std::fflush(stdout);
}

std::string printable(const std::wstring& text) {
  std::wstring visible;
  for (const wchar_t c : text.substr(0, SHOWN_TEXT_LIMIT)) {
    visible += c == L'\r'   ? std::wstring(L"\\r")
               : c == L'\n' ? std::wstring(L"\\n")
                            : std::wstring(1, c);
  }
  if (text.size() > SHOWN_TEXT_LIMIT) {
    visible += L"...";
  }
  return utf8(visible);
}

void setSimPath(const std::wstring& path) { simPath = path; }

// On a loaded machine Wine now and then fails to start a process at all (error 1359,
// ERROR_INTERNAL_ERROR) before any of the program has run. That is no result of the test:
// the start is tried once more, and said so.
bool launchProgram(Test& test, Sim& sim, const std::wstring& path, const Settings& settings) {
  std::vector<wchar_t> environment = environmentBlock(settings);
  std::wstring commandLine = L"\"" + path + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 1; attempt <= 2; ++attempt) {
    if (CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                       CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr, &startup,
                       &sim.process)) {
      return true;
    }
    error = GetLastError();
    note("Wine did not start %s (error %lu)%s", printable(path).c_str(), error,
         attempt == 1 ? "; starting it once more" : "");
    Sleep(RESTART_PAUSE_MS);
  }
  return check(test, false, "could not start %s, twice (error %lu)", printable(path).c_str(),
               error);
}

bool launchSim(Test& test, Sim& sim, const Settings& settings) {
  return launchProgram(test, sim, simPath, settings);
}

bool startSim(Test& test, Sim& sim, const Settings& settings) {
  if (!launchSim(test, sim, settings)) {
    return false;
  }
  const DWORD processId = sim.process.dwProcessId;
  const bool found = waitUntil(START_TIMEOUT_MS, [&] {
    sim.dialog = findWindow(processId, L"#32770", MAIN_TITLE, nullptr);
    sim.unitWindow =
        findWindow(processId, esc::sim::SIM_WINDOW_CLASS, esc::sim::SIM_WINDOW_TITLE, nullptr);
    return sim.dialog != nullptr && sim.unitWindow != nullptr &&
           (IsWindowVisible(sim.dialog) ||
            findWindow(processId, L"#32770", nullptr, sim.dialog) != nullptr);
  });
  return check(test, found, "the dialog \"%s\" and the simulator window did not appear",
               printable(MAIN_TITLE).c_str());
}

bool waitForExit(Sim& sim, DWORD timeoutMs, DWORD& exitCode) {
  if (sim.process.hProcess == nullptr ||
      WaitForSingleObject(sim.process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
    return false;
  }
  return GetExitCodeProcess(sim.process.hProcess, &exitCode) != FALSE;
}

void stopSim(Sim& sim) {
  if (sim.process.hProcess == nullptr) {
    return;
  }
  DWORD exitCode = 0;
  if (!waitForExit(sim, 0, exitCode)) {
    if (sim.dialog != nullptr) {
      postCommand(sim.dialog, IDCANCEL);
    }
    if (!waitForExit(sim, CLOSE_TIMEOUT_MS, exitCode)) {
      TerminateProcess(sim.process.hProcess, 1);
      WaitForSingleObject(sim.process.hProcess, CLOSE_TIMEOUT_MS);
    }
  }
  CloseHandle(sim.process.hThread);
  CloseHandle(sim.process.hProcess);
  sim = Sim{};
}

std::wstring windowText(HWND window) {
  std::vector<wchar_t> buffer(8192, L'\0');
  const int length = InternalGetWindowText(window, buffer.data(), static_cast<int>(buffer.size()));
  return std::wstring(buffer.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::wstring controlText(HWND dialog, int id) { return windowText(GetDlgItem(dialog, id)); }

bool readEditText(HWND edit, std::wstring& text) {
  DWORD_PTR length = 0;
  if (edit == nullptr || SendMessageTimeoutW(edit, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG,
                                             MESSAGE_TIMEOUT_MS, &length) == 0) {
    return false;
  }
  std::vector<wchar_t> buffer(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (SendMessageTimeoutW(edit, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                          SMTO_ABORTIFHUNG, MESSAGE_TIMEOUT_MS, &copied) == 0) {
    return false;
  }
  text.assign(buffer.data(), std::min<std::size_t>(copied, length));
  return true;
}

bool responsive(HWND window) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, MESSAGE_TIMEOUT_MS,
                             &result) != 0;
}

bool controlEnabled(HWND dialog, int id) {
  return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

void pressButton(HWND dialog, int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void postCommand(HWND window, int id) {
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

bool sendDeviceChange(HWND dialog, WPARAM event, const std::u16string& path, DWORD statedSize) {
  const std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  std::vector<unsigned char> record(nameOffset + (path.size() + 1) * sizeof(char16_t), 0);
  DEV_BROADCAST_DEVICEINTERFACE_W header{};
  header.dbcc_size = statedSize != 0 ? statedSize : static_cast<DWORD>(record.size());
  header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  header.dbcc_classguid = HID_INTERFACE_CLASS;
  std::memcpy(record.data(), &header, nameOffset);
  std::memcpy(record.data() + nameOffset, path.data(), path.size() * sizeof(char16_t));
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(dialog, WM_DEVICECHANGE, event,
                             reinterpret_cast<LPARAM>(record.data()), SMTO_ABORTIFHUNG,
                             DEVICE_CHANGE_TIMEOUT_MS, &result) != 0;
}

bool setControlText(HWND dialog, int id, const wchar_t* text) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, MESSAGE_TIMEOUT_MS, &result) != 0;
}

HWND findWindow(DWORD processId, const wchar_t* className, const wchar_t* title, HWND owner) {
  WindowSearch search{processId, className, title, owner, nullptr};
  EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool waitForMessageBox(const Sim& sim, HWND owner, DWORD timeoutMs, MessageBoxView& box) {
  box = MessageBoxView{};
  const bool found = waitUntil(timeoutMs, [&] {
    const HWND window = findWindow(sim.process.dwProcessId, L"#32770", nullptr, owner);
    if (window == nullptr || window == sim.dialog || !IsWindowVisible(window) ||
        (owner == nullptr && GetWindow(window, GW_OWNER) != nullptr)) {
      return false;
    }
    box.window = window;
    return true;
  });
  if (!found) {
    return false;
  }
  box.caption = windowText(box.window);
  box.text = controlText(box.window, MESSAGE_BOX_TEXT_ID);
  box.hasOk = GetDlgItem(box.window, IDOK) != nullptr;
  box.hasCancel = GetDlgItem(box.window, IDCANCEL) != nullptr;
  box.hasYes = GetDlgItem(box.window, IDYES) != nullptr;
  box.hasNo = GetDlgItem(box.window, IDNO) != nullptr;
  return true;
}

bool answerMessageBox(const MessageBoxView& box, int buttonId) {
  postCommand(box.window, buttonId);
  return waitUntil(STATE_TIMEOUT_MS, [&] { return IsWindow(box.window) == FALSE; });
}

bool waitForPanel(const Sim& sim, const std::wstring& expected, DWORD timeoutMs,
                  std::wstring& shown) {
  const HWND panel = GetDlgItem(sim.dialog, IDC_STATUS_PANEL);
  return waitUntil(timeoutMs, [&] { return readEditText(panel, shown) && shown == expected; });
}

std::string readoutValue(const Sim& sim, const char* name) {
  const std::string readout = utf8(controlText(sim.unitWindow, esc::sim::IDC_SIM_READOUT));
  const std::string key = std::string(name) + ": ";
  std::size_t line = 0;
  while (line < readout.size()) {
    std::size_t end = readout.find("\r\n", line);
    if (end == std::string::npos) {
      end = readout.size();
    }
    if (readout.compare(line, key.size(), key) == 0) {
      return readout.substr(line + key.size(), end - line - key.size());
    }
    line = end + 2;
  }
  return std::string();
}

bool waitForReadout(const Sim& sim, const char* name, const char* value, DWORD timeoutMs) {
  return waitUntil(timeoutMs, [&] { return readoutValue(sim, name) == value; });
}

void setExpectedUiLanguage(LANGID language) { uiLanguage = language; }

LANGID expectedUiLanguage() { return uiLanguage; }

void setScreenshotDirectory(const std::wstring& directory) { screenshotDirectory = directory; }

void screenshot(const char* name) {
  if (screenshotDirectory.empty()) {
    return;
  }
  // Gives the windows a moment to paint what they just changed.
  Sleep(400);
  std::printf("SCREENSHOT %s\n", name);
  std::fflush(stdout);
  std::wstring acknowledgement = screenshotDirectory + L"\\";
  for (const char* c = name; *c != '\0'; ++c) {
    acknowledgement += static_cast<wchar_t>(*c);
  }
  acknowledgement += L".ack";
  if (!waitUntil(SCREENSHOT_TIMEOUT_MS, [&] {
        return GetFileAttributesW(acknowledgement.c_str()) != INVALID_FILE_ATTRIBUTES;
      })) {
    note("screenshot %s was not acknowledged", name);
  }
}

}  // namespace driver
