// What the command line needs from the system it runs on, as tables of functions: the
// console, the device arrivals it waits for, and the interruption (Ctrl-C and the like).
// The platform mains fill them (POSIX terminal and signals, Windows console and its
// control handler); the tests fill them with recorders.
#pragma once

#include <cstdint>
#include <string>

#include "updater/firmware_image.h"

namespace esc::cli {

enum class Stream { Out, Err };

// Results and the outcome go to standard output; the questions, the prompt and the
// progress bar go to standard error, which stays on the terminal when standard output is
// redirected (escupdate update > log), and the answers are read from standard input.
struct Console {
  void* context;
  // Writes UTF-8 text as it is; lines end in "\n".
  void (*write)(void* context, Stream stream, const std::string& utf8);
  // Reads one line the user typed, without its line end. False at the end of the input
  // or when the read was broken off.
  bool (*readLine)(void* context, std::string& line);
  bool inputIsTerminal;
  bool errorIsTerminal;
  // The width of the terminal on standard error, asked anew at each call (it changes when
  // the window is resized); 0 when it cannot be told.
  std::uint32_t (*columns)(void* context);
};

enum class HotplugChange { None, Arrival, Removal };

// Device arrivals and removals while the program waits for a unit. A source without
// notifications returns None after the timeout, and the waiting side rescans anyway.
struct HotplugSource {
  void* context;
  HotplugChange (*waitForChange)(void* context, std::uint32_t timeoutMs);
};

// Where the program stands, for what an interruption does: while Preparing it ends the
// program at once (nothing has been sent), while Writing it is only noted, since stopping
// would leave the ESC without firmware, and the program ends once the update has.
enum class Phase { Preparing, Writing, Finished };

struct Interruption {
  void* context;
  void (*enterPhase)(void* context, Phase phase);
  // True once an interruption arrived while Writing.
  bool (*requested)(void* context);
};

// Why a programming unit that is plugged in cannot be used.
enum class UnitProblem {
  None,
  NoPermission,  // this user may not open its device (no udev rule yet)
  InUse,         // another program holds it
};

// What a failed open of a device says, from the platform's last error; None unless it
// says that a unit is there.
using OpenProblem = UnitProblem (*)(std::uint32_t lastError);

struct CliEnvironment {
  Console console;
  HotplugSource hotplug;
  Interruption interruption;
  // The firmware images this run may write: the product's, or the simulator's.
  ImageLoader loadImage;
  // Windows device paths compare without regard to letter case, Linux paths exactly.
  bool devicePathsIgnoreCase;
  // Null where a failed open tells nothing (Windows opens a device before it knows its
  // ids; the hidraw backend opens only the unit's).
  OpenProblem openProblem;
};

}  // namespace esc::cli
