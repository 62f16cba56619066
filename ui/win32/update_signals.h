// What an update tells Windows beyond its own windows: that the PC must not go to sleep
// while it writes, why the session must not end meanwhile, and how far it has got, on the
// dialog's taskbar button. None of them is needed for the update: where Windows refuses
// or lacks them, the update goes on and nothing is shown.
#pragma once

#include <windows.h>

#include <cstdint>

namespace esc {

enum class TaskbarProgress { None, Normal, Error };

struct UpdateSignals {
  void* context;
  // While `awake`, the system does not go to sleep on its own. False when it refused.
  bool (*keepSystemAwake)(void* context, bool awake);
  // On `window`'s taskbar button: no progress, `position` percent (0 to 100) of the way,
  // or the error state at the position reached. False when Windows shows none of it.
  bool (*showTaskbarProgress)(void* context, HWND window, TaskbarProgress state,
                              std::uint32_t position);
  // With a `reason`, Windows shows it beside `window` when the user logs off or shuts
  // down; null removes it. False when Windows refused.
  bool (*showShutdownReason)(void* context, HWND window, const char16_t* reason);
};

// The platform's: the thread's execution state, and the shell's taskbar list.
const UpdateSignals& windowsUpdateSignals() noexcept;

// Releases the taskbar list and what it loaded; called once the dialog has ended.
void releaseUpdateSignals();

}  // namespace esc
