// What device notifications held while a box is open or the update runs do once they may
// act: the effect of handling them one by one, in the order they came, in a few flags.
#include "ui/held_device_events.h"

#include <gtest/gtest.h>

#include <string>

namespace esc {
namespace {

struct HeldCase {
  const char* name;
  // In arrival order: 'A' an arrival, 'R' the removal of the unit open while they were
  // held, 'r' the removal of some other device, 'H' the removal of the open unit handled
  // at once (arrivals alone were held).
  const char* events;
  bool linkOpenWhenHandled;
  bool loseOpenUnit;
  bool detect;
};

const HeldCase CASES[] = {
    {"nothing held does nothing", "", true, false, false},
    {"an arrival while the unit is open changes nothing", "A", true, false, false},
    {"an arrival with the link closed detects", "A", false, false, true},
    {"arrivals in a row detect once", "AAAA", false, false, true},
    {"the unit's removal loses it", "R", true, true, false},
    {"the unit's removal, then an arrival: lost, then detected", "RA", true, true, true},
    {"an arrival before the unit's removal does not detect", "AR", true, true, false},
    {"arrivals around the removal detect once, after it", "ARA", true, true, true},
    {"the unit pulled and plugged in again and again: lost once, detected once", "RARARA", true,
     true, true},
    {"the unit pulled twice is lost once", "RR", true, true, false},
    {"removals of other devices change nothing", "rrr", true, false, false},
    {"a device that comes and goes while the link is closed detects once", "ArArArA", false, false,
     true},
    {"a device that comes and goes while the unit is open changes nothing", "ArArArA", true, false,
     false},
    {"the unit's removal after the program closed the link changes nothing", "R", false, false,
     false},
    {"after the program closed the link, any arrival detects", "AR", false, false, true},
    {"after the program closed the link, the unit's return is detected", "RA", false, false, true},
    {"arrivals before a removal handled at once change nothing", "AAH", false, false, false},
    {"an arrival after a removal handled at once detects", "AHA", false, false, true},
    {"arrivals after a removal handled at once detect once", "AHAAA", false, false, true},
    {"other devices coming and going around a removal handled at once", "ArHrA", false, false,
     true},
};

class HeldDeviceEventsTest : public ::testing::TestWithParam<HeldCase> {};

TEST_P(HeldDeviceEventsTest, ActLikeTheNotificationsHandledInOrder) {
  const HeldCase& c = GetParam();
  HeldDeviceEvents held;
  for (const char event : std::string(c.events)) {
    if (event == 'A') {
      holdArrival(held);
    } else if (event == 'H') {
      openUnitRemovalHandled(held);
    } else {
      holdRemoval(held, event == 'R');
    }
  }
  const HeldEventActions actions = actionsFor(held, c.linkOpenWhenHandled);
  EXPECT_EQ(actions.loseOpenUnit, c.loseOpenUnit);
  EXPECT_EQ(actions.detect, c.detect);
  // A removal handled at once leaves held only what came after it.
  const std::string events(c.events);
  const std::size_t handled = events.rfind('H');
  const std::string after = handled == std::string::npos ? events : events.substr(handled + 1);
  EXPECT_EQ(anyHeld(held), after.find_first_of("AR") != std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Cases, HeldDeviceEventsTest, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<HeldCase>& param) {
                           std::string name;
                           for (const char c : std::string(param.param.name)) {
                             name += (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ? c : '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace esc
