// The window-free parts of the Windows dialog: where the logo and the progress window go,
// and how a device-change notification is read and matched against the open unit.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "ui/win32/device_broadcast.h"
#include "ui/win32/dialog_geometry.h"

namespace esc {
namespace {

// --- Logo placement -------------------------------------------------------------------

constexpr std::int32_t LOGO_WIDTH = 1772;
constexpr std::int32_t LOGO_HEIGHT = 263;
constexpr std::int32_t FRAME = 3;
constexpr std::int32_t CAPTION = 19;

// A dialog at (100, 50) whose group box ends `room` + 45 pixels left of its right edge.
struct DialogWithRoom {
  ScreenRect dialog;
  ScreenRect group;
};

DialogWithRoom dialogWithRoom(std::int32_t room) {
  const ScreenRect group{118, 89, 343, 188};
  return {ScreenRect{100, 50, group.right + 45 + room, 430}, group};
}

struct LogoSizeCase {
  const char* name;
  std::int32_t bitmapWidth;
  std::int32_t bitmapHeight;
  std::int32_t room;  // what the dialog leaves beyond the 45-pixel reserve
  std::int32_t width;
  std::int32_t height;
};

// Cases print by name, so that a test's description is no dump of a record's padding.
void PrintTo(const LogoSizeCase& c, std::ostream* out) { *out << c.name; }

class LogoSize : public ::testing::TestWithParam<LogoSizeCase> {};

TEST_P(LogoSize, TakesTheSmallerOfHalfTheBitmapAndTheRoomAndKeepsTheAspectRatio) {
  const LogoSizeCase& c = GetParam();
  const DialogWithRoom d = dialogWithRoom(c.room);
  const Placement logo =
      placeLogo(c.bitmapWidth, c.bitmapHeight, d.dialog, d.group, FRAME, CAPTION);
  EXPECT_EQ(logo.width, c.width);
  EXPECT_EQ(logo.height, c.height);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LogoSize,
    ::testing::Values(
        // Plenty of room: half the bitmap, and half its height rounded down (263 / 2).
        LogoSizeCase{"HalfWidthWhenRoomIsAmple", LOGO_WIDTH, LOGO_HEIGHT, 2000, 886, 131},
        LogoSizeCase{"HalfWidthWhenRoomIsEqual", LOGO_WIDTH, LOGO_HEIGHT, 886, 886, 131},
        // The dialog of the program: 183 pixels, 183 * 263 / 1772 = 27.16.
        LogoSizeCase{"RoomLimitsTheWidth", LOGO_WIDTH, LOGO_HEIGHT, 183, 183, 27},
        // An odd bitmap width halves downwards: 1771 >> 1 = 885.
        LogoSizeCase{"OddBitmapWidthHalvesDown", 1771, LOGO_HEIGHT, 2000, 885, 131},
        // 3 / 19 * 95 is 15 exactly, but in single precision with the division first it
        // comes out just below and is truncated to 14.
        LogoSizeCase{"HeightInSinglePrecisionDivisionFirst", 19, 95, 3, 3, 14},
        LogoSizeCase{"NoRoomGivesZeroWidth", LOGO_WIDTH, LOGO_HEIGHT, 0, 0, 0},
        LogoSizeCase{"LessThanNoRoomGivesNegativeWidth", LOGO_WIDTH, LOGO_HEIGHT, -30, -30, -4}),
    [](const ::testing::TestParamInfo<LogoSizeCase>& param) { return param.param.name; });

TEST(LogoPlacement, StartsTwentyPixelsRightOfTheGroupBoxLevelWithItsTop) {
  const ScreenRect dialog{100, 50, 560, 430};
  const ScreenRect group{118, 89, 343, 188};
  const Placement logo = placeLogo(LOGO_WIDTH, LOGO_HEIGHT, dialog, group, FRAME, CAPTION);
  // Window to client: the frame comes off horizontally, only the caption vertically.
  EXPECT_EQ(logo.x, 343 - 100 - FRAME + 20);
  EXPECT_EQ(logo.y, 89 - 50 - CAPTION);
}

TEST(LogoPlacement, AnEmptyBitmapIsNotDividedByAndDrawsNothing) {
  const DialogWithRoom d = dialogWithRoom(500);
  const Placement logo = placeLogo(0, 0, d.dialog, d.group, FRAME, CAPTION);
  EXPECT_LE(logo.width, 0);
  EXPECT_LE(logo.height, 0);
}

// --- Progress window placement --------------------------------------------------------

struct ProgressCase {
  const char* name;
  ScreenRect dialog;
  std::int32_t x;
  std::int32_t y;
};

void PrintTo(const ProgressCase& c, std::ostream* out) { *out << c.name; }

class ProgressPlacement : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(ProgressPlacement, IsFourHundredByFiftyCentredOnTheDialog) {
  const ProgressCase& c = GetParam();
  const Placement window = placeProgressWindow(c.dialog);
  EXPECT_EQ(window.x, c.x);
  EXPECT_EQ(window.y, c.y);
  EXPECT_EQ(window.width, 400);
  EXPECT_EQ(window.height, 50);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgressPlacement,
    ::testing::Values(ProgressCase{"EvenSize", {100, 200, 700, 600}, 200, 375},
                      // 401 >> 1 = 200 and 51 >> 1 = 25: the half sizes round down.
                      ProgressCase{"OddSizeRoundsDown", {10, 20, 411, 71}, 10, 20},
                      // A dialog on a monitor left of and above the primary one.
                      ProgressCase{"NegativeCoordinates", {-801, -500, -200, -99}, -701, -325},
                      // Smaller than the progress window: it overhangs on every side.
                      ProgressCase{"SmallDialog", {0, 0, 100, 20}, -150, -15}),
    [](const ::testing::TestParamInfo<ProgressCase>& param) { return param.param.name; });

// --- Device-change notifications -------------------------------------------------------

// A notification record of exactly `size` bytes on the heap, so that the address
// sanitizer reports any read past the stated size.
std::unique_ptr<unsigned char[]> record(std::uint32_t size, std::uint32_t deviceType,
                                        const std::u16string& name = u"", bool terminate = true) {
  const std::size_t allocated = size < 4 ? 4 : size;
  auto bytes = std::make_unique<unsigned char[]>(allocated);
  std::memset(bytes.get(), 0xEE, allocated);
  std::memcpy(bytes.get(), &size, sizeof size);
  if (size >= 8) {
    std::memcpy(bytes.get() + 4, &deviceType, sizeof deviceType);
  }
  std::vector<char16_t> units(name.begin(), name.end());
  if (terminate) {
    units.push_back(0);
  }
  const std::size_t nameBytes = units.size() * sizeof(char16_t);
  const std::size_t room = size > INTERFACE_NAME_OFFSET ? size - INTERFACE_NAME_OFFSET : 0;
  std::memcpy(bytes.get() + INTERFACE_NAME_OFFSET, units.data(),
              nameBytes < room ? nameBytes : room);
  return bytes;
}

constexpr std::uint32_t DEVICE_TYPE_VOLUME = 2;
const std::u16string UNIT_PATH = u"\\\\?\\hid#vid_fff0&pid_0001#7&1a2b3c&0&0000#{4d1e55b2}";

std::uint32_t interfaceRecordSize(const std::u16string& name) {
  return static_cast<std::uint32_t>(INTERFACE_NAME_OFFSET + (name.size() + 1) * sizeof(char16_t));
}

TEST(DeviceBroadcast, AMissingRecordIsNotRead) {
  const DeviceBroadcast broadcast = readDeviceBroadcast(nullptr);
  EXPECT_FALSE(broadcast.readable);
  EXPECT_EQ(broadcast.interfaceName, nullptr);
}

TEST(DeviceBroadcast, ARecordSmallerThanTheHeaderIsNotRead) {
  for (std::uint32_t size : {0u, 4u, 11u}) {
    const auto bytes = record(size, DEVICE_TYPE_INTERFACE);
    const DeviceBroadcast broadcast = readDeviceBroadcast(bytes.get());
    EXPECT_FALSE(broadcast.readable) << "size " << size;
    EXPECT_EQ(broadcast.interfaceName, nullptr) << "size " << size;
  }
}

TEST(DeviceBroadcast, AnotherDeviceTypeGivesItsTypeAndNoName) {
  const auto bytes = record(12, DEVICE_TYPE_VOLUME);
  const DeviceBroadcast broadcast = readDeviceBroadcast(bytes.get());
  EXPECT_TRUE(broadcast.readable);
  EXPECT_EQ(broadcast.deviceType, DEVICE_TYPE_VOLUME);
  EXPECT_EQ(broadcast.interfaceName, nullptr);
}

TEST(DeviceBroadcast, ADeviceInterfaceGivesItsTerminatedPath) {
  const auto bytes = record(interfaceRecordSize(UNIT_PATH), DEVICE_TYPE_INTERFACE, UNIT_PATH);
  const DeviceBroadcast broadcast = readDeviceBroadcast(bytes.get());
  ASSERT_TRUE(broadcast.readable);
  EXPECT_EQ(broadcast.deviceType, DEVICE_TYPE_INTERFACE);
  ASSERT_NE(broadcast.interfaceName, nullptr);
  EXPECT_EQ(std::u16string(broadcast.interfaceName), UNIT_PATH);
}

TEST(DeviceBroadcast, ARecordPaddedBeyondItsPathStillGivesThePath) {
  // The system pads records; the size then exceeds what the path needs.
  const auto bytes = record(interfaceRecordSize(UNIT_PATH) + 6, DEVICE_TYPE_INTERFACE, UNIT_PATH);
  const DeviceBroadcast broadcast = readDeviceBroadcast(bytes.get());
  ASSERT_NE(broadcast.interfaceName, nullptr);
  EXPECT_EQ(std::u16string(broadcast.interfaceName), UNIT_PATH);
}

TEST(DeviceBroadcast, APathWithoutTerminatorWithinTheSizeIsIgnored) {
  const std::u16string path = u"abcde";
  const auto bytes = record(INTERFACE_NAME_OFFSET + 10, DEVICE_TYPE_INTERFACE, path, false);
  const DeviceBroadcast broadcast = readDeviceBroadcast(bytes.get());
  EXPECT_TRUE(broadcast.readable);
  EXPECT_EQ(broadcast.interfaceName, nullptr);
}

TEST(DeviceBroadcast, ATerminatorOnlyPartlyInsideTheSizeDoesNotCount) {
  // Three units and one byte of the terminator: the half unit is not examined.
  const auto bytes = record(INTERFACE_NAME_OFFSET + 7, DEVICE_TYPE_INTERFACE, u"abc");
  const DeviceBroadcast broadcast = readDeviceBroadcast(bytes.get());
  EXPECT_EQ(broadcast.interfaceName, nullptr);
}

TEST(DeviceBroadcast, AnInterfaceRecordTooShortForAPathGivesNoName) {
  for (std::uint32_t size : {12u, 20u, 28u, 29u}) {
    const auto bytes = record(size, DEVICE_TYPE_INTERFACE);
    const DeviceBroadcast broadcast = readDeviceBroadcast(bytes.get());
    EXPECT_TRUE(broadcast.readable) << "size " << size;
    EXPECT_EQ(broadcast.deviceType, DEVICE_TYPE_INTERFACE) << "size " << size;
    EXPECT_EQ(broadcast.interfaceName, nullptr) << "size " << size;
  }
}

TEST(DeviceBroadcast, AnEmptyPathIsAPath) {
  const auto bytes = record(INTERFACE_NAME_OFFSET + 2, DEVICE_TYPE_INTERFACE, u"");
  const DeviceBroadcast broadcast = readDeviceBroadcast(bytes.get());
  ASSERT_NE(broadcast.interfaceName, nullptr);
  EXPECT_EQ(broadcast.interfaceName[0], u'\0');
}

// --- Device path matching --------------------------------------------------------------

struct PathCase {
  const char* name;
  std::u16string first;
  std::u16string second;
  bool same;
};

void PrintTo(const PathCase& c, std::ostream* out) { *out << c.name; }

class DevicePathMatch : public ::testing::TestWithParam<PathCase> {};

TEST_P(DevicePathMatch, IgnoresTheCaseOfAToZOnly) {
  const PathCase& c = GetParam();
  EXPECT_EQ(sameDevicePath(c.first.c_str(), c.second.c_str()), c.same);
  EXPECT_EQ(sameDevicePath(c.second.c_str(), c.first.c_str()), c.same);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DevicePathMatch,
    ::testing::Values(
        PathCase{"Identical", UNIT_PATH, UNIT_PATH, true},
        PathCase{"DifferentCaseOfLetters", u"\\\\?\\HID#VID_FFF0&PID_0001#{4D1E55B2}",
                 u"\\\\?\\hid#vid_fff0&pid_0001#{4d1e55b2}", true},
        PathCase{"DifferentLetter", u"hid#vid_fff0&pid_0001", u"hid#vid_fff0&pid_0002", false},
        // Accented letters are compared exactly: only A to Z fold.
        PathCase{"NonAsciiCaseIsExact", u"hid#\u00C4", u"hid#\u00E4", false},
        // Pairs 0x20 apart that are not letters must not be folded together.
        PathCase{"AtSignIsNotBacktick", u"hid@1", u"hid`1", false},
        PathCase{"BracketIsNotBrace", u"hid[1]", u"hid{1}", false},
        PathCase{"PrefixIsNotTheSamePath", u"hid#vid_fff0", u"hid#vid_fff0&pid_0001", false},
        PathCase{"EmptyPaths", u"", u"", true}),
    [](const ::testing::TestParamInfo<PathCase>& param) { return param.param.name; });

TEST(DevicePathMatchNull, AMissingPathMatchesNothing) {
  EXPECT_FALSE(sameDevicePath(nullptr, UNIT_PATH.c_str()));
  EXPECT_FALSE(sameDevicePath(UNIT_PATH.c_str(), nullptr));
}

}  // namespace
}  // namespace esc
