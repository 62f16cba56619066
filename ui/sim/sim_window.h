// The small top-level window "Simulated programming unit" beside the updater's dialog:
// it plugs the emulated unit in and out, sets what the unit and its ESC report, arms a
// fault for the next update and shows the unit's state.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/sim_bus.h"
#include "emulator/sim_settings.h"
#include "ui/win32/update_signals.h"

namespace esc::sim {

// What the updater last told Windows through its update signals, and whether Windows
// showed it; the read-out shows both.
struct SignalsSeen {
  bool keptAwake = false;
  TaskbarProgress taskbar = TaskbarProgress::None;
  std::uint32_t taskbarPosition = 0;
  bool taskbarShown = false;
  // The reason given for keeping the session from ending (non-ASCII letters as '?'),
  // empty while there is none.
  std::string shutdownReason;
};

struct Simulator {
  Bus bus;
  std::size_t unit = NO_DEVICE;
  std::size_t otherDevice = NO_DEVICE;  // a HID device that is no programming unit
  UnitSettings settings{};              // what the unit was last plugged in with
  // Per device of the bus: plugged as far as the dialog was told. Changes the bus makes
  // on its own (a fault that pulls the unit) are told at the next safe moment.
  std::vector<bool> toldPlugged;
  SignalsSeen signals;
  // Clicks of the window's buttons handled so far, whether or not they changed anything.
  std::uint32_t commandsTaken = 0;
  HWND window = nullptr;
  std::string shownReadout;
};

// Puts the other device and the unit on the bus, in this enumeration order, gives the
// unit the settings' identity, plugs it in or not, and arms the settings' fault.
void setUpBus(Simulator& simulator, const UnitSettings& settings);

// Creates and shows the window; null when that fails. `simulator` must outlive it.
HWND createSimulatorWindow(HINSTANCE instance, Simulator& simulator);

// Windows' update signals, recorded for the read-out on their way through.
UpdateSignals recordingSignals(Simulator& simulator);

// Updates the read-out and the plug buttons. Sends no notification.
void refreshReadout(Simulator& simulator);

}  // namespace esc::sim
