// Arrival and removal of hidraw nodes, from udev's events.
#pragma once

#include <cstdint>
#include <string>

namespace esc {

struct HotplugMonitor;  // opaque

enum class HotplugEvent { None, Arrival, Removal };

// Starts watching hidraw arrivals and removals (after udev's rules ran). Null when udev is
// unavailable.
HotplugMonitor* openHotplugMonitor();
// Waits up to timeoutMs for the next hidraw event; `path` gets its device node
// (/dev/hidrawN). None on timeout.
HotplugEvent nextHotplugEvent(HotplugMonitor* monitor, std::uint32_t timeoutMs, std::string& path);
void closeHotplugMonitor(HotplugMonitor* monitor);

// What a udev action on a hidraw node means for the link: "add" an arrival, "remove" a
// removal, anything else (change, bind, ...) nothing.
HotplugEvent hotplugEventOf(const char* action);

}  // namespace esc
