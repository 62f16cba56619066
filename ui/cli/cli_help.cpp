// The help of escupdate: the overview and one text per verb. English only, like the
// program's option names; the texts the update shows follow the locale.
#include "ui/cli/cli_program.h"

namespace esc::cli {
namespace {

constexpr char OVERVIEW_START[] = R"(Usage: escupdate <verb> [options]

Updates the firmware of an ESC through its USB programming unit, with the same checks,
questions and texts as the updater's window.

Verbs:
  list      every programming unit plugged in: path, product id, unit type
  info      the unit's and the ESC's versions, the status, the classification of the
            ESC and the firmware image an update would write
  update    writes the firmware image to the ESC, after the window's questions
  help [VERB]  this text, or the help of one verb (also: escupdate VERB --help)

Options:
  -y, --yes, --assume-yes
            update only: answer every question with yes
  --json    list, info: one JSON document; update: one JSON object per line
            (progress, then the outcome). Asks nothing, so update needs --yes.
  --wait[=SECONDS]
            wait until a programming unit is plugged in (as long as it takes, or at
            most SECONDS); for a bench where units are updated one after another.
            A unit that cannot be identified (one that drops out again at once, on a
            loose cable or a flapping hub) does not end the wait: it is asked again at
            the next device change, and at least every half second
  --device PATH
            use the unit at PATH (as list shows it, e.g. /dev/hidraw3) when several
            are plugged in. A path that is no HID device or no programming unit is a
            usage error (with --wait: waits for a unit at PATH).
  --simulate[=SETTINGS]
            run against the emulated programming unit instead of USB (see below)
  -h, --help
            help
  --version the program's version

Settings of --simulate: a comma-separated list of NAME=VALUE, e.g.
  --simulate=model=0x0A0640AA,fault=block:500
  plugged=0|1              the unit is plugged in at start (1)
  model=HEX                the ESC's model code (0x110FA0D2, a supported one)
  esc-version=V            the ESC's firmware: major.minor, a 16-bit number or none (1.0)
  bootloader-version=V     a.b, a.b.c or a 32-bit number (1.2)
  unit-version=V           the unit's firmware: a.b, a.b.c or a 32-bit number (1.2.3)
  product-id=N             the unit's USB product id; 1 and 2 are units (1)
  wrong-mode=0|1           the unit is in the wrong mode (0)
  esc-status=N             3 means an updatable ESC (3)
  fault=F                  one fault during the next update (none):
      lock-refused         the system lock is refused
      unlock-status[:S]    the unlock answers status S (4)
      erase-status[:S]     the erase answers status S (5)
      address-status[:S]   the flash address answers status S (6)
      block:N[:S]          data block N answers status S (7)
      no-answer            the unit stays silent after the lock (10 s timeout)
      unplug:N             the unit is pulled just before data block N
      ident-lost           the answer to the ESC identification is lost
  clock=real|virtual       real: waits last as long as with a real unit (an update takes
                           about 43 s); virtual: the emulator's clock skips them (real)
  plug-after=MS            the unit is plugged in MS milliseconds after the program
                           starts looking for it (implies plugged=0; for --wait)
  storm=N                  a flapping hub, for --wait: the unit and another HID device
                           come and go N times, one visit a millisecond (N arrivals and
                           N removals; some of the unit's visits end while it is being
                           identified), then the unit is plugged in for good 1 ms after
                           the storm, or at plug-after=MS if given (more than N).
                           Implies plugged=0.
Numbers are decimal, or hexadecimal with 0x. Under --simulate the emulator's firmware
images are written to the emulated ESC; without it, a build with placeholder images
refuses every update before anything is sent.

)";

constexpr char OVERVIEW_END[] = R"(
Texts are German when the locale (LC_ALL, LC_MESSAGES or LANG) is German, English
otherwise; output is UTF-8.

Permissions on Linux: the package installs the udev rule
/usr/lib/udev/rules.d/70-escupdate.rules, which gives the user at the seat access to
the programming unit (vendor id of this build), and has udev load it. After
installing it with cmake --install, run
  sudo udevadm control --reload-rules && sudo udevadm trigger
Then unplug the unit and plug it in again. No root is needed after that. A unit this
user may not open yet, or one another program is using, is named with the reason
(exit status 8). Only devices with the unit's ids are ever opened.

Output: results and the outcome go to standard output; the questions, the prompt and
the progress bar go to standard error (the terminal, also with standard output
redirected), and the answers are read from standard input.
)";

constexpr char LIST_HELP[] =
    R"(Usage: escupdate list [--json] [--wait[=SECONDS]] [--device PATH] [--simulate[=SETTINGS]]

Lists every programming unit plugged in (the build's vendor id, product id 1 or 2): its
path, its unit type as the window labels it, and its product id. Nothing is sent to the
units. --json prints {"units": [{"path", "productId", "label"}, ...]}.
Units that are plugged in but cannot be used are listed with the reason ("usable":
false and "problem": {"path", "reason", "message"} in JSON; reason is
permission-denied or in-use).
Exit status: 0 when at least one usable unit was found, 3 when none, 8 when only units
that cannot be used, 2 for a usage error.
)";

constexpr char INFO_HELP[] =
    R"(Usage: escupdate info [--json] [--wait[=SECONDS]] [--device PATH] [--simulate[=SETTINGS]]

Identifies the unit and its ESC as the window does at start-up and prints:
  the unit's path, type and product id;
  the three version rows exactly as the window shows them ("0.0.0" when the window
  gives the unit up: no unit, wrong mode, no updatable ESC, incompatible ESC);
  the ESC's model code and classification, and the firmware image an update would
  write (id and size, or that it is missing from this build);
  the status the window shows: the ready text, or a heading with the instructions.
--json prints one object: unit, rows, outcome (no-unit, wrong-mode, no-updatable-esc,
supported, accepted-without-target, incompatible), modelCode, classification, image,
heading, status (and box: the incompatibility box's caption and text), and problem
(path, reason, message) for a unit that cannot be used.
Exit status: 0 when a unit was found, 3 when none, 8 when a unit is there but cannot be
used, 2 for a usage error. With --wait only a unit that could be identified counts as
found.
)";

constexpr char UPDATE_HELP[] =
    R"(Usage: escupdate update [-y|--yes] [--json] [--wait[=SECONDS]] [--device PATH] [--simulate[=SETTINGS]]

Writes the firmware image for the ESC, as the window's Update button does: the
confirmation, then (when the installed version is not older) the version question,
each with the window's caption and text, answered on the terminal (y/yes/j/ja goes on,
anything else cancels) or with yes by --yes. Without a terminal on standard input and
without --yes, update refuses and writes nothing. Then the lock, unlock, erase, address,
the data blocks (a progress bar on a terminal, one line per percent otherwise) and the
closing commands, with the pauses the unit needs (an update takes about 43 seconds).
Success ends with the version rows and the success text; a failure with the error text
and its code line, as the window's error box shows them. An ESC that is not supported,
or a build without the image for it, ends with the window's message and writes nothing.
--json (needs --yes): {"event":"progress","percent":N} lines, then one
{"event":"outcome","result":...,"exitCode":N,"interrupted":bool,...} line; result is
succeeded, failed, declined, unsupported, no-unit or unusable (with problem: path,
reason, message); failures carry caption, message (with the code line), errorValue and
systemError.
A unit that stops answering, or is pulled out, fails the step it was at: each request
and each answer is given up after 10 s, so no step waits longer than that.
Ctrl-C, Ctrl-\, SIGTERM or SIGHUP before the lock request end the program at once;
later they are noted, the update runs to its end, and the program exits with status 7
(6 if the update failed). Ctrl-Z and the other job-control stops are ignored while the
firmware is written.
The questions, the prompt and the progress bar go to standard error (the terminal,
also when standard output is redirected); the answers are read from standard input.
Results and the outcome go to standard output.
Exit status: 0 updated, 2 usage, 3 no unit ready, 4 declined, 5 not supported,
6 failed, 7 interrupted, 8 a unit that cannot be used.
)";

std::string exitTable() {
  std::string text = "Exit status:\n";
  for (const ExitRule& rule : EXIT_RULES) {
    text += "  " + std::to_string(rule.status) + "  " + rule.meaning + "\n";
  }
  return text;
}

}  // namespace

std::string helpText(Verb verb) {
  switch (verb) {
    case Verb::List:
      return LIST_HELP;
    case Verb::Info:
      return INFO_HELP;
    case Verb::Update:
      return UPDATE_HELP;
    case Verb::None:
    case Verb::Help:
      break;
  }
  return OVERVIEW_START + exitTable() + OVERVIEW_END;
}

}  // namespace esc::cli
