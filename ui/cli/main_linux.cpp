// escupdate on Linux: the hidraw platform (or the emulated unit), the terminal, udev's
// hot-plug events and the signals that would stop the program.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <string>
#include <vector>

#include "device/hid_platform.h"
#include "device/linux/hotplug_monitor.h"
#include "device/linux/platform_linux.h"
#include "ui/cli/cli_program.h"
#include "ui/cli/cli_text.h"
#include "ui/cli/hidraw_problem.h"
#include "ui/cli/simulation.h"

namespace {

using namespace esc::cli;

// The signal handler's view of the run; only lock-free atomic-sized values and a text
// rendered before the handler is installed.
volatile sig_atomic_t currentPhase = static_cast<int>(Phase::Preparing);
volatile sig_atomic_t interruptRequested = 0;
std::string interruptedNotice;
int interruptedNoticeFd = STDERR_FILENO;

void writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    // A closed pipe or a full disk must not stop an update: the output is given up.
    if (written <= 0) {
      return;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

// Before the lock request nothing has been sent, so the program ends at once. While the
// firmware is being replaced it only notes the request (ending then would leave the ESC
// without firmware), and after the update as well, so that the outcome is printed before
// the program ends with the status that tells what became of the ESC.
void onSignal(int) {
  if (currentPhase != static_cast<int>(Phase::Preparing)) {
    interruptRequested = 1;
    return;
  }
  writeAll(interruptedNoticeFd, interruptedNotice.data(), interruptedNotice.size());
  _exit(EXIT_INTERRUPTED);
}

// Ctrl-C, Ctrl-\, kill and a closed terminal.
constexpr int INTERRUPTS[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};
// Ctrl-Z, and a background job touching the terminal: a stop in the middle of the write
// would leave the ESC half-written for as long as nobody continues the job. They are
// ignored during the write, and they are no interruption.
constexpr int JOB_STOPS[] = {SIGTSTP, SIGTTIN, SIGTTOU};
struct sigaction jobStopActions[std::size(JOB_STOPS)];

struct sigaction ignoring() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  return ignore;
}

void installSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  for (const int signalNumber : INTERRUPTS) {
    sigaction(signalNumber, &action, nullptr);
  }
  // Writing to a closed pipe (escupdate ... | head) must fail quietly, not kill an update.
  const struct sigaction ignore = ignoring();
  sigaction(SIGPIPE, &ignore, nullptr);
}

void enterPhase(void*, Phase phase) {
  if (phase == Phase::Writing) {
    const struct sigaction ignore = ignoring();
    for (std::size_t i = 0; i < std::size(JOB_STOPS); ++i) {
      sigaction(JOB_STOPS[i], &ignore, &jobStopActions[i]);
    }
  } else if (currentPhase == static_cast<int>(Phase::Writing)) {
    for (std::size_t i = 0; i < std::size(JOB_STOPS); ++i) {
      sigaction(JOB_STOPS[i], &jobStopActions[i], nullptr);
    }
  }
  currentPhase = static_cast<int>(phase);
}
bool requested(void*) { return interruptRequested != 0; }

std::uint32_t errorColumns(void*) {
  winsize size{};
  return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

void consoleWrite(void*, Stream stream, const std::string& text) {
  writeAll(stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO, text.data(), text.size());
}

bool consoleReadLine(void*, std::string& line) {
  line.clear();
  for (;;) {
    char c = 0;
    const ssize_t count = ::read(STDIN_FILENO, &c, 1);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      return false;
    }
    if (c == '\n') {
      return true;
    }
    line += c;
  }
}

void sleepMilliseconds(std::uint32_t milliseconds) {
  timespec rest{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}

// udev's events, or a plain pause where udev is not running (a container): the waiting
// side rescans after either.
HotplugChange udevChange(void* context, std::uint32_t timeoutMs) {
  auto* monitor = static_cast<esc::HotplugMonitor*>(context);
  if (monitor == nullptr) {
    sleepMilliseconds(timeoutMs);
    return HotplugChange::None;
  }
  std::string path;
  switch (esc::nextHotplugEvent(monitor, timeoutMs, path)) {
    case esc::HotplugEvent::Arrival:
      return HotplugChange::Arrival;
    case esc::HotplugEvent::Removal:
      return HotplugChange::Removal;
    case esc::HotplugEvent::None:
      break;
  }
  return HotplugChange::None;
}

}  // namespace

int main(int argc, char** argv) {
  esc::setMessageLanguage(
      languageOfLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG")));
  const std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
  CliArguments arguments;
  SimulateSettings settings;
  std::string error;
  if (!readCommandLine(words, arguments, settings, error)) {
    consoleWrite(nullptr, Stream::Err, error + "\n");
    return EXIT_USAGE;
  }

  interruptedNotice = interruptedText(arguments.json);
  interruptedNoticeFd = arguments.json ? STDOUT_FILENO : STDERR_FILENO;
  installSignalHandlers();

  CliEnvironment environment{};
  environment.console = Console{nullptr,
                                consoleWrite,
                                consoleReadLine,
                                isatty(STDIN_FILENO) == 1,
                                isatty(STDERR_FILENO) == 1,
                                errorColumns};
  environment.interruption = Interruption{nullptr, enterPhase, requested};
  environment.devicePathsIgnoreCase = false;
  environment.openProblem = arguments.simulate ? nullptr : hidrawOpenProblem;

  static Simulation simulation;
  esc::HotplugMonitor* monitor = nullptr;
  if (arguments.simulate) {
    setUpSimulation(simulation, settings);
    useLinuxPaths(simulation);
    esc::sim::install(simulation.bus);
    environment.hotplug = simulatedHotplugSource(simulation.hotplug);
    environment.loadImage = esc::loadFirmwareImage;
  } else {
    esc::setHidPlatform(&esc::linuxHidPlatform());
    monitor = arguments.wait ? esc::openHotplugMonitor() : nullptr;
    environment.hotplug = HotplugSource{monitor, udevChange};
    environment.loadImage = esc::productImageLoader();
  }
  const int status = runCommand(arguments, environment);
  consoleWrite(nullptr, Stream::Err, simulationReport(arguments, settings, simulation, status));
  if (monitor != nullptr) {
    esc::closeHotplugMonitor(monitor);
  }
  return status;
}
