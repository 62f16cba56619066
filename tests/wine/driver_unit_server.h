// The emulated programming unit for the product's tests: an emulated bus with another HID
// device and the unit on it, served from the driver's process to the test stand-ins of
// hid.dll and setupapi.dll in the product's process (hid_standin_protocol.h). Each device
// is a named pipe that the product opens with its ordinary CreateFileW; every report it
// writes goes through the bus's own platform table, so the emulator's unit answers it and
// its faults and log apply exactly as in the simulator.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "emulator/sim_bus.h"
#include "emulator/sim_settings.h"

namespace driver {

struct UnitServer {
  UnitServer();
  ~UnitServer();
  UnitServer(const UnitServer&) = delete;
  UnitServer& operator=(const UnitServer&) = delete;

  esc::sim::Bus bus;  // only under `lock` while the server runs
  std::size_t unit = esc::sim::NO_DEVICE;
  std::size_t otherDevice = esc::sim::NO_DEVICE;
  // Reports sent to the program: answers and reports the unit sent unasked.
  std::uint32_t reportsSent = 0;

  CRITICAL_SECTION lock;
  HANDLE stop = nullptr;
  std::vector<HANDLE> threads;  // under `lock`
  bool running = false;
};

// Puts another HID device and a unit with `settings` (its identity and its fault) on the
// bus and starts serving them; false when a pipe or thread could not be made.
bool startUnitServer(UnitServer& server, const esc::sim::UnitSettings& settings);
// Ends every connection and thread; the bus keeps its state for inspection.
void stopUnitServer(UnitServer& server);

// Runs `use` on the server's records while no connection can change them, and returns
// what it returns.
template <typename Use>
auto withBus(UnitServer& server, Use use) {
  struct Held {
    CRITICAL_SECTION* section;
    ~Held() { LeaveCriticalSection(section); }
  };
  EnterCriticalSection(&server.lock);
  const Held held{&server.lock};
  return use(server);
}

}  // namespace driver
