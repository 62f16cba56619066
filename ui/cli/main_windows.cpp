// escupdate.exe: the Windows HID platform (or the emulated unit), the console in UTF-16 or
// UTF-8, device polling for --wait, and the console's control events.
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "device/hid_platform.h"
#include "device/win32/platform_win32.h"
#include "ui/cli/cli_program.h"
#include "ui/cli/cli_text.h"
#include "ui/cli/simulation.h"
#include "ui/sim/paced_platform.h"

namespace {

using namespace esc::cli;

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows texts are UTF-16");

std::atomic<int> currentPhase{static_cast<int>(Phase::Preparing)};
std::atomic<bool> interruptRequested{false};
std::string interruptedNotice;
DWORD interruptedNoticeHandle = STD_ERROR_HANDLE;

bool isConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode);
}

// A console gets UTF-16 (so German letters show whatever its code page); a file or pipe
// gets the UTF-8 bytes.
void writeText(DWORD which, const std::string& text) {
  const HANDLE handle = GetStdHandle(which);
  if (isConsole(handle)) {
    const std::u16string wide = fromUtf8(text);
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  const char* data = text.data();
  DWORD left = static_cast<DWORD>(text.size());
  while (left > 0) {
    DWORD written = 0;
    // A closed pipe must not stop an update: the output is given up.
    if (!WriteFile(handle, data, left, &written, nullptr) || written == 0) {
      return;
    }
    data += written;
    left -= written;
  }
}

void consoleWrite(void*, Stream stream, const std::string& text) {
  writeText(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE, text);
}

bool consoleReadLine(void*, std::string& line) {
  line.clear();
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  std::u16string typed;
  for (;;) {
    wchar_t c = 0;
    DWORD read = 0;
    if (!ReadConsoleW(input, &c, 1, &read, nullptr) || read == 0) {
      return false;
    }
    if (c == L'\n') {
      break;
    }
    if (c != L'\r') {
      typed += static_cast<char16_t>(c);
    }
  }
  line = toUtf8(typed);
  return true;
}

// Runs on a thread of its own. Before the lock request the program ends at once. While
// the firmware is being replaced, and after it until the outcome is printed, the event is
// only noted (ending then would leave the ESC without firmware). Windows ends the process
// as soon as the handler returns from a close, log-off or shutdown event, so the handler
// holds on to it while the main thread finishes the update and exits; Windows still ends
// the process when its own time for the event is up (about 5 s for a closed console window,
// a little more for log-off and shutdown), and nothing a program does prevents that.
BOOL WINAPI onControlEvent(DWORD event) {
  if (currentPhase.load() == static_cast<int>(Phase::Preparing)) {
    writeText(interruptedNoticeHandle, interruptedNotice);
    TerminateProcess(GetCurrentProcess(), EXIT_INTERRUPTED);
    return TRUE;
  }
  interruptRequested = true;
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    Sleep(INFINITE);
  }
  return TRUE;
}

std::uint32_t errorColumns(void*) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
    return 0;
  }
  return static_cast<std::uint32_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

void enterPhase(void*, Phase phase) { currentPhase = static_cast<int>(phase); }
bool requested(void*) { return interruptRequested.load(); }

// Windows tells device arrivals to windows only; a console program looks again after a
// pause.
HotplugChange pollingChange(void*, std::uint32_t timeoutMs) {
  Sleep(timeoutMs);
  return HotplugChange::None;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    words.push_back(toUtf8(reinterpret_cast<const char16_t*>(argv[i])));
  }
  CliArguments arguments;
  SimulateSettings settings;
  std::string error;
  if (!readCommandLine(words, arguments, settings, error)) {
    consoleWrite(nullptr, Stream::Err, error + "\n");
    return EXIT_USAGE;
  }

  interruptedNotice = interruptedText(arguments.json);
  interruptedNoticeHandle = arguments.json ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
  SetConsoleCtrlHandler(onControlEvent, TRUE);

  CliEnvironment environment{};
  environment.console = Console{nullptr,
                                consoleWrite,
                                consoleReadLine,
                                isConsole(GetStdHandle(STD_INPUT_HANDLE)),
                                isConsole(GetStdHandle(STD_ERROR_HANDLE)),
                                errorColumns};
  environment.interruption = Interruption{nullptr, enterPhase, requested};
  environment.devicePathsIgnoreCase = true;

  static Simulation simulation;
  static esc::HidPlatform paced;
  if (arguments.simulate) {
    setUpSimulation(simulation, settings);
    environment.hotplug = simulatedHotplugSource(simulation.hotplug);
    environment.loadImage = esc::loadFirmwareImage;
    if (settings.clock == SimulatedClock::Real) {
      // The bus answers; the waits between its answers are the product's precise ones.
      paced = esc::sim::pacedPlatform(simulation.bus.platform);
      esc::setHidPlatform(&paced);
    } else {
      esc::sim::install(simulation.bus);
    }
  } else {
    esc::setHidPlatform(&esc::windowsHidPlatform());
    environment.hotplug = HotplugSource{nullptr, pollingChange};
    environment.loadImage = esc::productImageLoader();
  }
  const int status = runCommand(arguments, environment);
  consoleWrite(nullptr, Stream::Err, simulationReport(arguments, settings, simulation, status));
  return status;
}
