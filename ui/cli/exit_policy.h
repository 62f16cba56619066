// How every run of escupdate ends: its exit status, the result its JSON outcome names, and
// what the help says of it. The statuses, the JSON results and the help's table all come
// from here.
#pragma once

#include <cstddef>

namespace esc::cli {

enum class Ending {
  Succeeded,
  Usage,
  NoUnit,
  Declined,
  Unsupported,
  Failed,
  Interrupted,
  Unusable,
};

struct ExitRule {
  Ending ending;
  int status;
  const char* result;   // the JSON outcome's "result"
  const char* meaning;  // the help's line (wrapped at 80 columns, indented by 5)
};

inline constexpr ExitRule EXIT_RULES[] = {
    {Ending::Succeeded, 0, "succeeded",
     "the verb succeeded (info: it could tell about a unit, whatever the unit is)"},
    {Ending::Usage, 2, "usage",
     "usage error: unknown verb or option, a malformed value, a --device path that is\n"
     "     no HID device or no unit, update without a terminal and without --yes, or\n"
     "     update --json without --yes"},
    {Ending::NoUnit, 3, "no-unit",
     "no programming unit found (within --wait), or none ready: the unit is in the\n"
     "     wrong mode or has no updatable ESC"},
    {Ending::Declined, 4, "declined", "a question was answered with no: nothing was written"},
    {Ending::Unsupported, 5, "unsupported",
     "the ESC is not supported, or this build has no firmware image for it: nothing\n"
     "     was written"},
    {Ending::Failed, 6, "failed",
     "the update failed (the error text and its code line say where), even when an\n"
     "     interruption arrived meanwhile"},
    {Ending::Interrupted, 7, "interrupted",
     "interrupted by Ctrl-C, Ctrl-\\, SIGTERM or SIGHUP, with the ESC intact: before the\n"
     "     update's first command the program ends at once and nothing was written; once\n"
     "     the ESC's firmware is being replaced, stopping would leave the ESC without\n"
     "     firmware, so the update runs to its end first and completed"},
    {Ending::Unusable, 8, "unusable",
     "a programming unit was found but cannot be used: this user may not open it (no\n"
     "     udev rule yet), or another program is using it. The message names the device\n"
     "     and what to do."},
};

constexpr const ExitRule& exitRule(Ending ending) {
  return EXIT_RULES[static_cast<std::size_t>(ending)];
}

constexpr int exitStatus(Ending ending) { return exitRule(ending).status; }

inline constexpr int EXIT_OK = exitStatus(Ending::Succeeded);
inline constexpr int EXIT_USAGE = exitStatus(Ending::Usage);
inline constexpr int EXIT_NO_UNIT = exitStatus(Ending::NoUnit);
inline constexpr int EXIT_DECLINED = exitStatus(Ending::Declined);
inline constexpr int EXIT_UNSUPPORTED = exitStatus(Ending::Unsupported);
inline constexpr int EXIT_FAILED = exitStatus(Ending::Failed);
inline constexpr int EXIT_INTERRUPTED = exitStatus(Ending::Interrupted);
inline constexpr int EXIT_UNUSABLE = exitStatus(Ending::Unusable);

// The table is in the order of Ending, so that exitRule finds each ending's own rule.
constexpr bool rulesInOrder() {
  for (std::size_t i = 0; i < sizeof EXIT_RULES / sizeof EXIT_RULES[0]; ++i) {
    if (static_cast<std::size_t>(EXIT_RULES[i].ending) != i) {
      return false;
    }
  }
  return true;
}
static_assert(rulesInOrder(), "EXIT_RULES must list the endings in their order");

}  // namespace esc::cli
