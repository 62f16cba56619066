#include "device/linux/hotplug_monitor.h"

#include <libudev.h>
#include <poll.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace esc {

struct HotplugMonitor {
  udev* context;
  udev_monitor* monitor;
};

namespace {

std::uint64_t monotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace

HotplugEvent hotplugEventOf(const char* action) {
  if (action == nullptr) {
    return HotplugEvent::None;
  }
  if (std::strcmp(action, "add") == 0) {
    return HotplugEvent::Arrival;
  }
  if (std::strcmp(action, "remove") == 0) {
    return HotplugEvent::Removal;
  }
  return HotplugEvent::None;
}

// Events from "udev" rather than "kernel": they come once the rules ran, so a new node
// already has the permissions a rule gives it when the caller tries to open it. Without
// a running udev daemon (containers) none would ever come; the caller must rescan then.
HotplugMonitor* openHotplugMonitor() {
  udev* context = udev_new();
  if (context == nullptr) {
    return nullptr;
  }
  udev_queue* queue = udev_queue_new(context);
  const bool daemonRuns = queue != nullptr && udev_queue_get_udev_is_active(queue) != 0;
  udev_queue_unref(queue);
  udev_monitor* monitor = daemonRuns ? udev_monitor_new_from_netlink(context, "udev") : nullptr;
  if (monitor == nullptr ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor) < 0) {
    udev_monitor_unref(monitor);
    udev_unref(context);
    return nullptr;
  }
  return new HotplugMonitor{context, monitor};
}

HotplugEvent nextHotplugEvent(HotplugMonitor* monitor, std::uint32_t timeoutMs, std::string& path) {
  path.clear();
  if (monitor == nullptr) {
    return HotplugEvent::None;
  }
  const std::uint64_t deadline = monotonicMilliseconds() + timeoutMs;
  for (;;) {
    const std::uint64_t now = monotonicMilliseconds();
    const std::uint64_t remaining = deadline > now ? deadline - now : 0;
    pollfd request{udev_monitor_get_fd(monitor->monitor), POLLIN, 0};
    const int polled =
        poll(&request, 1, static_cast<int>(std::min<std::uint64_t>(remaining, INT_MAX)));
    if (polled < 0 && errno == EINTR) {
      continue;
    }
    if (polled <= 0) {
      return HotplugEvent::None;
    }
    // The socket does not block: a message the filter dropped gives null, and the wait
    // goes on to the same deadline.
    udev_device* device = udev_monitor_receive_device(monitor->monitor);
    if (device == nullptr) {
      continue;
    }
    const HotplugEvent event = hotplugEventOf(udev_device_get_action(device));
    const char* devNode = udev_device_get_devnode(device);
    if (event != HotplugEvent::None && devNode != nullptr) {
      path = devNode;
    }
    udev_device_unref(device);
    if (!path.empty()) {
      return event;
    }
  }
}

void closeHotplugMonitor(HotplugMonitor* monitor) {
  if (monitor == nullptr) {
    return;
  }
  udev_monitor_unref(monitor->monitor);
  udev_unref(monitor->context);
  delete monitor;
}

}  // namespace esc
