// The updater on the emulated bus: the same program as the product, with a window that
// plays the programming unit. Start-up settings come from ESCSIM_* variables.
#include <windows.h>

#include <string>

#include "device/hid_platform.h"
#include "emulator/sim_settings.h"
#include "ui/sim/paced_platform.h"
#include "ui/sim/sim_controls.h"
#include "ui/sim/sim_window.h"
#include "ui/win32/main_dialog.h"
#include "ui/win32/system_libraries.h"

namespace {

constexpr int BAD_SETTINGS_EXIT_CODE = 2;

// Holds the value of the variable looked up last.
const char* environmentValue(const char* variable, void* context) {
  auto& value = *static_cast<std::string*>(context);
  const DWORD size = GetEnvironmentVariableA(variable, nullptr, 0);
  if (size == 0) {
    return nullptr;
  }
  value.assign(size, '\0');
  const DWORD length = GetEnvironmentVariableA(variable, &value[0], size);
  value.resize(length < size ? length : 0);
  return value.c_str();
}

// Stands in for RegisterDeviceNotificationW when the settings ask for a refusal.
HDEVNOTIFY WINAPI refuseNotifications(HANDLE, LPVOID, DWORD) {
  SetLastError(ERROR_SERVICE_NOT_ACTIVE);
  return nullptr;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  esc::searchSystemFolderOnly();
  esc::sim::UnitSettings settings = esc::sim::defaultSettings();
  std::string lookupValue;
  std::string error;
  if (!esc::sim::readSettings(environmentValue, &lookupValue, settings, error)) {
    MessageBoxA(nullptr, error.c_str(), "Simulated programming unit", MB_OK | MB_ICONERROR);
    return BAD_SETTINGS_EXIT_CODE;
  }

  static esc::sim::Simulator simulator;
  esc::sim::setUpBus(simulator, settings);
  // The bus's own clock only times what the unit does by itself (a silent unit's
  // timeout); the program's waits go through the paced table below.
  esc::sim::useRealClock(simulator.bus, nullptr, nullptr);
  static const esc::HidPlatform paced = esc::sim::pacedPlatform(simulator.bus.platform);
  esc::setHidPlatform(&paced);

  esc::sim::createSimulatorWindow(instance, simulator);
  const esc::UpdateSignals signals = esc::sim::recordingSignals(simulator);
  const int result = esc::RunUpdaterProgram(
      instance, esc::loadFirmwareImage,
      settings.notificationsRefused ? refuseNotifications : RegisterDeviceNotificationW, signals);
  if (simulator.window != nullptr) {
    DestroyWindow(simulator.window);
  }
  return result;
}
