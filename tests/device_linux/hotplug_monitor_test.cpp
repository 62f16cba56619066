// What udev's actions on hidraw nodes mean for the link, and a monitor that could not be
// opened (no udev daemon) behaving as one that never sees an event.
#include "device/linux/hotplug_monitor.h"

#include <gtest/gtest.h>

#include <string>

namespace esc::test {
namespace {

TEST(HotplugMonitor, OnlyAddAndRemoveChangeWhatIsPlugged) {
  struct Case {
    const char* action;
    HotplugEvent event;
  };
  const Case cases[] = {
      {"add", HotplugEvent::Arrival}, {"remove", HotplugEvent::Removal},
      {"change", HotplugEvent::None}, {"bind", HotplugEvent::None},
      {"unbind", HotplugEvent::None}, {"move", HotplugEvent::None},
      {"Add", HotplugEvent::None},    {"", HotplugEvent::None},
      {nullptr, HotplugEvent::None},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.action != nullptr ? test.action : "(none)");
    EXPECT_EQ(hotplugEventOf(test.action), test.event);
  }
}

TEST(HotplugMonitor, WithoutAMonitorThereIsNoEventAndNoPath) {
  std::string path = "/dev/hidraw3";

  EXPECT_EQ(nextHotplugEvent(nullptr, 0, path), HotplugEvent::None);

  EXPECT_TRUE(path.empty());
  closeHotplugMonitor(nullptr);
}

}  // namespace
}  // namespace esc::test
