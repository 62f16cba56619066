// escupdate's verbs over the updater's core: list, info and update, with the window's
// texts and the window's update sequence (runUpdate), on whatever HID platform is
// installed.
#pragma once

#include <string>

#include "ui/cli/cli_arguments.h"
#include "ui/cli/cli_environment.h"

namespace esc::cli {

// Exit statuses; the help lists them.
inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_USAGE = 2;
inline constexpr int EXIT_NO_UNIT = 3;      // none found, or none ready (wrong mode, no ESC)
inline constexpr int EXIT_DECLINED = 4;     // a question was answered with no
inline constexpr int EXIT_UNSUPPORTED = 5;  // the ESC is not one this build can write
inline constexpr int EXIT_FAILED = 6;       // the update failed
inline constexpr int EXIT_INTERRUPTED = 7;  // Ctrl-C, SIGTERM or SIGHUP

// Runs the verb of `arguments` (already parsed and valid) and returns the exit status.
// The HID platform must be installed; --device is applied here.
int runCommand(const CliArguments& arguments, const CliEnvironment& environment);

// What an interruption before anything was sent leaves on the console: the catalogue's
// notice, or the outcome object in JSON. Rendered ahead of time, because the signal
// handler that writes it may not build texts.
std::string interruptedText(bool json);

// The overview (Verb::None) or one verb's help.
std::string helpText(Verb verb);

}  // namespace esc::cli
