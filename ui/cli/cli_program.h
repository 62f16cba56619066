// escupdate's verbs over the updater's core: list, info and update, with the window's
// texts and the window's update sequence (runUpdate), on whatever HID platform is
// installed.
#pragma once

#include <string>

#include "ui/cli/cli_arguments.h"
#include "ui/cli/cli_environment.h"
#include "ui/cli/exit_policy.h"

namespace esc::cli {

// Runs the verb of `arguments` (already parsed and valid) and returns the exit status.
// The HID platform must be installed; --device is applied here.
int runCommand(const CliArguments& arguments, const CliEnvironment& environment);

// What an interruption before anything was sent leaves on the console: the catalogue's
// notice, or the outcome object in JSON. Rendered ahead of time, because the signal
// handler that writes it may not build texts.
std::string interruptedText(bool json);

// Where the udev rule that gives the user at the seat the unit is installed.
inline constexpr char UDEV_RULE_PATH[] = "/usr/lib/udev/rules.d/70-escupdate.rules";

// "escupdate MAJOR.MINOR", what --version prints.
std::string versionLine();

// The overview (Verb::None) or one verb's help.
std::string helpText(Verb verb);

}  // namespace esc::cli
