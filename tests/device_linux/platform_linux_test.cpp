// The hidraw backend's operations over a fake kernel: enumeration, opening and the lock,
// attributes, report framing, timeouts, removal and the clock.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "tests/device_linux/descriptor_cases.h"
#include "tests/device_linux/hidraw_session.h"

namespace esc::test {
namespace {

std::vector<std::u16string> enumerated(HidrawSession& session) {
  std::vector<std::u16string> paths;
  EXPECT_TRUE(session.platform().beginEnumeration(session.context()));
  std::u16string path;
  for (std::uint32_t index = 0;; ++index) {
    const InterfaceLookup lookup = session.platform().interfaceAt(session.context(), index, path);
    if (lookup == InterfaceLookup::End) {
      break;
    }
    paths.push_back(lookup == InterfaceLookup::Found ? path : u"<unavailable>");
  }
  session.platform().endEnumeration(session.context());
  return paths;
}

// hidrawN numbers follow the order in which nodes were created and are reused; the sysfs
// path follows where the device sits, so the order stays the same from one scan to the next.
TEST(Enumeration, NodesComeInTheOrderOfTheirSysfsPaths) {
  HidrawSession session;
  addNode(session.kernel,
          otherNode("/sys/devices/pci0/usb1/1-3/hidraw/hidraw0", "/dev/hidraw0", 1, 1));
  addNode(session.kernel, unitNode("/sys/devices/pci0/usb1/1-1/hidraw/hidraw7", "/dev/hidraw7"));
  addNode(session.kernel,
          otherNode("/sys/devices/pci0/usb1/1-2/hidraw/hidraw2", "/dev/hidraw2", 1, 2));

  EXPECT_EQ(enumerated(session),
            (std::vector<std::u16string>{u"/dev/hidraw7", u"/dev/hidraw2", u"/dev/hidraw0"}));
  EXPECT_EQ(session.lastError(), HIDRAW_ERROR_NO_MORE_NODES);
}

TEST(Enumeration, ANodeWithoutDeviceNodeHasNoPath) {
  HidrawSession session;
  addNode(session.kernel, otherNode("/sys/a", "", 1, 1));
  addNode(session.kernel, otherNode("/sys/b", "/dev/h\xC3\xA4", 1, 1));
  addNode(session.kernel, unitNode("/sys/c", "/dev/hidraw1"));

  EXPECT_EQ(enumerated(session),
            (std::vector<std::u16string>{u"<unavailable>", u"<unavailable>", u"/dev/hidraw1"}));
}

TEST(Enumeration, AnUnavailableListFailsWithItsError) {
  HidrawSession session;
  session.kernel.listUnavailable = true;

  EXPECT_FALSE(session.platform().beginEnumeration(session.context()));
  EXPECT_EQ(session.lastError(), static_cast<std::uint32_t>(ENOENT));
  std::u16string path;
  EXPECT_EQ(session.platform().interfaceAt(session.context(), 0, path), InterfaceLookup::End);
}

TEST(Opening, ReadWriteNonBlockingNotInheritedAndLockedUntilClosed) {
  HidrawSession session;
  addNode(session.kernel, unitNode("/sys/a", "/dev/hidraw3"));

  const DeviceHandle device = session.openDevice(u"/dev/hidraw3");

  ASSERT_NE(device, INVALID_DEVICE_HANDLE);
  ASSERT_EQ(session.kernel.openFlags.size(), 1u);
  EXPECT_EQ(session.kernel.openFlags[0], O_RDWR | O_CLOEXEC | O_NONBLOCK);
  ASSERT_NE(fileOf(session.kernel, fdOf(device)), nullptr);
  EXPECT_TRUE(fileOf(session.kernel, fdOf(device))->holdsLock);

  session.platform().closeDevice(session.context(), device);

  EXPECT_EQ(openFiles(session.kernel), 0u);
}

// Another program holding the unit's lock makes it unusable for us, as a unit held open
// without sharing is on Windows: the descriptor is closed again and nothing is locked.
TEST(Opening, AUnitLockedElsewhereDoesNotOpen) {
  HidrawSession session;
  const std::size_t node = addNode(session.kernel, unitNode("/sys/a", "/dev/hidraw3"));
  session.kernel.nodes[node].lockedElsewhere = true;

  EXPECT_EQ(session.openDevice(u"/dev/hidraw3"), INVALID_DEVICE_HANDLE);

  EXPECT_EQ(session.lastError(), HIDRAW_ERROR_HELD_ELSEWHERE);
  EXPECT_EQ(openFiles(session.kernel), 0u);
}

TEST(Opening, OurOwnLockKeepsASecondOpenerOut) {
  HidrawSession session;
  addNode(session.kernel, unitNode("/sys/a", "/dev/hidraw3"));
  const DeviceHandle first = session.openDevice(u"/dev/hidraw3");
  ASSERT_NE(first, INVALID_DEVICE_HANDLE);

  EXPECT_EQ(session.openDevice(u"/dev/hidraw3"), INVALID_DEVICE_HANDLE);
  session.platform().closeDevice(session.context(), first);
  const DeviceHandle again = session.openDevice(u"/dev/hidraw3");

  EXPECT_NE(again, INVALID_DEVICE_HANDLE);
  session.platform().closeDevice(session.context(), again);
}

TEST(Opening, FailuresLeaveTheirErrorAndNoDescriptor) {
  struct Case {
    const char* name;
    std::u16string path;
    int openError;
    std::uint32_t error;
  };
  const Case cases[] = {
      {"access denied", u"/dev/hidraw3", EACCES, EACCES},
      {"a node the listing did not show", u"/dev/hidraw9", 0, HIDRAW_ERROR_NOT_A_UNIT},
      {"not a device node name", u"/dev/h\u00E4", 0, EINVAL},
      {"empty path", u"", 0, EINVAL},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    HidrawSession session;
    const std::size_t node = addNode(session.kernel, unitNode("/sys/a", "/dev/hidraw3"));
    session.kernel.nodes[node].openError = test.openError;

    EXPECT_EQ(session.openDevice(test.path.c_str()), INVALID_DEVICE_HANDLE);

    EXPECT_EQ(session.lastError(), test.error);
    EXPECT_EQ(openFiles(session.kernel), 0u);
  }
}

// Opening a keyboard, a security key or a game pad may wake it or disturb whatever drives
// it: the link looks at every listed node, but only the unit's are opened.
TEST(Opening, OnlyNodesListedWithTheUnitsIdsAreOpened) {
  HidrawSession session;
  addNode(session.kernel, otherNode("/sys/a", "/dev/hidraw0", 0x046D, 0xC31C));
  addNode(session.kernel, otherNode("/sys/b", "/dev/hidraw1", 0x1050, 0x0407));
  addNode(session.kernel, otherNode("/sys/c", "/dev/hidraw2", UNIT_VENDOR_ID, 3));
  FakeNode unlisted = unitNode("/sys/d", "/dev/hidraw3");
  unlisted.idsUnlisted = true;
  addNode(session.kernel, unlisted);
  addNode(session.kernel, unitNode("/sys/e", "/dev/hidraw4"));
  session.install();

  EXPECT_EQ(open(session.link), LINK_OK);

  EXPECT_EQ(session.kernel.openAttempts, std::vector<std::string>{"/dev/hidraw4"});
  for (const char16_t* foreign :
       {u"/dev/hidraw0", u"/dev/hidraw1", u"/dev/hidraw2", u"/dev/hidraw3", u"/dev/hidraw7"}) {
    EXPECT_EQ(session.platform().openDevice(session.context(), foreign), INVALID_DEVICE_HANDLE);
    EXPECT_EQ(session.lastError(), HIDRAW_ERROR_NOT_A_UNIT);
  }
  EXPECT_EQ(session.kernel.openAttempts.size(), 1u);
}

// A unit pulled after the listing is refused as well: the next listing no longer has it.
TEST(Opening, ANodeGoneSinceTheLastListingIsNotOpened) {
  HidrawSession session;
  const std::size_t node = addNode(session.kernel, unitNode("/sys/a", "/dev/hidraw3"));
  ASSERT_TRUE(session.platform().beginEnumeration(session.context()));
  session.platform().endEnumeration(session.context());
  session.kernel.nodes[node].present = false;

  EXPECT_EQ(session.platform().openDevice(session.context(), u"/dev/hidraw3"),
            INVALID_DEVICE_HANDLE);
  EXPECT_EQ(session.lastError(), static_cast<std::uint32_t>(ENOENT));
  EXPECT_EQ(session.openDevice(u"/dev/hidraw3"), INVALID_DEVICE_HANDLE);
  EXPECT_EQ(session.lastError(), HIDRAW_ERROR_NOT_A_UNIT);
}

TEST(HidId, VendorAndProductFromTheKernelsProperty) {
  struct Case {
    const char* text;
    bool parsed;
    std::uint16_t vendor;
    std::uint16_t product;
  };
  const Case cases[] = {
      {"0003:0000FFF0:00000001", true, 0xFFF0, 0x0001},
      {"0005:0000046d:0000c31c", true, 0x046D, 0xC31C},
      {"3:fff0:2", true, 0xFFF0, 0x0002},
      {"0003:0001FFF0:00000001", false, 0, 0},   // no 16-bit vendor id
      {"0003:0000FFF0:000100001", false, 0, 0},  // nine digits
      {"0003:0000FFF0", false, 0, 0},
      {"0003:0000FFF0:00000001:7", false, 0, 0},
      {"0003::00000001", false, 0, 0},
      {"0003:0000FFF0:", false, 0, 0},
      {"0003:0000FFG0:00000001", false, 0, 0},
      {"", false, 0, 0},
      {nullptr, false, 0, 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.text != nullptr ? test.text : "null");
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    EXPECT_EQ(parseHidId(test.text, vendor, product), test.parsed);
    EXPECT_EQ(vendor, test.vendor);
    EXPECT_EQ(product, test.product);
  }
}

// The kernel gives the ids as signed 16-bit numbers; the unit's vendor id (0xFFF0 unless
// the build says otherwise) must not come out negative.
TEST(Attributes, IdsFromTheSignedFieldsAreUnsigned) {
  HidrawSession session;
  addNode(session.kernel, otherNode("/sys/a", "/dev/hidraw0", UNIT_VENDOR_ID, 2));
  const DeviceHandle device = session.openDevice(u"/dev/hidraw0");
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;

  ASSERT_TRUE(session.platform().readAttributes(session.context(), device, vendor, product));

  EXPECT_EQ(vendor, UNIT_VENDOR_ID);
  EXPECT_EQ(product, 2);
}

TEST(Capabilities, LengthsFromTheDescriptorOrAFailure) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> descriptor;
    bool unreadable;
    bool succeeds;
    std::uint16_t input;
    std::uint16_t output;
    std::uint32_t error;
  };
  const Case cases[] = {
      {"the unit's own", unitDescriptor(), false, true, 60, 60, 0},
      {"unnumbered", unnumberedDescriptor(), false, true, 65, 65, 0},
      {"absurd but declarable", unitWithInputCount(2000), false, true, 2001, 60, 0},
      {"malformed", descriptorBytes({0x85, 0x02, 0x75}), false, false, 0, 0,
       HIDRAW_ERROR_BAD_DESCRIPTOR},
      {"unreadable", unitDescriptor(), true, false, 0, 0, EIO},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    HidrawSession session;
    const std::size_t node = addNode(session.kernel, unitNode("/sys/a", "/dev/hidraw0"));
    session.kernel.nodes[node].descriptor = test.descriptor;
    session.kernel.nodes[node].descriptorUnreadable = test.unreadable;
    const DeviceHandle device = session.openDevice(u"/dev/hidraw0");
    std::uint16_t input = 0;
    std::uint16_t output = 0;

    EXPECT_EQ(session.platform().readCapabilities(session.context(), device, input, output),
              test.succeeds);

    EXPECT_EQ(input, test.input);
    EXPECT_EQ(output, test.output);
    if (!test.succeeds) {
      EXPECT_EQ(session.lastError(), test.error);
    }
  }
}

// Numbered reports travel as the link holds them. Unnumbered output goes with a 0 in byte
// 0 (hidraw drops it), and unnumbered input comes behind a 0, as Windows frames both.
TEST(Framing, NumberedReportsPassUnchanged) {
  HidrawSession session;
  const std::size_t node = addNode(session.kernel, unitNode("/sys/a", "/dev/hidraw0"));
  const DeviceHandle device = session.openNode(u"/dev/hidraw0");
  std::vector<std::uint8_t> request = requestOf(CMD_GET_UNIT_INFO);
  request[59] = 0x5A;

  ASSERT_TRUE(session.write(device, request));
  std::vector<std::uint8_t> answer(60, 0xEE);
  ASSERT_TRUE(session.read(device, answer));

  EXPECT_EQ(session.kernel.nodes[node].writes.back(), request);
  EXPECT_EQ(answer[0], INPUT_REPORT_ID);
  EXPECT_EQ(answer[1], CMD_GET_UNIT_INFO);
  EXPECT_EQ(session.lastError(), 0u);
}

TEST(Framing, UnnumberedInputArrivesBehindAZero) {
  HidrawSession session;
  const std::size_t node = addNode(session.kernel, unitNode("/sys/a", "/dev/hidraw0"));
  session.kernel.nodes[node].descriptor = unnumberedDescriptor();
  const DeviceHandle device = session.openNode(u"/dev/hidraw0");
  std::vector<std::uint8_t> sent(64);
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<std::uint8_t>(i + 1);
  sendInput(session.kernel, node, sent);

  std::vector<std::uint8_t> report(65, 0xEE);
  ASSERT_TRUE(session.read(device, report));

  std::vector<std::uint8_t> expected = {0};
  expected.insert(expected.end(), sent.begin(), sent.end());
  EXPECT_EQ(report, expected);
}

TEST(Framing, AReportIdTheDeviceCannotHaveIsRefusedUnsent) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> descriptor;
    std::uint8_t firstByte;
    bool accepted;
  };
  const Case cases[] = {
      {"numbered output, id 1", unitDescriptor(), 1, true},
      {"numbered output, byte 0 = 0", unitDescriptor(), 0, false},
      {"unnumbered output, byte 0 = 0", unnumberedDescriptor(), 0, true},
      {"unnumbered output, byte 0 = 1", unnumberedDescriptor(), 1, false},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    HidrawSession session;
    const std::size_t node = addNode(session.kernel, unitNode("/sys/a", "/dev/hidraw0"));
    session.kernel.nodes[node].descriptor = test.descriptor;
    const DeviceHandle device = session.openNode(u"/dev/hidraw0");
    std::vector<std::uint8_t> report(60, 0);
    report[0] = test.firstByte;

    EXPECT_EQ(session.write(device, report), test.accepted);

    EXPECT_EQ(session.kernel.nodes[node].writes.size(), test.accepted ? 1u : 0u);
    EXPECT_EQ(session.lastError(), test.accepted ? 0u : static_cast<std::uint32_t>(EINVAL));
  }
}

// Nothing must be lost by reading into too small a buffer, and a report shorter than the
// declared length is no whole answer.
TEST(Framing, AShortReportFails) {
  HidrawSession session;
  const std::size_t node = addNode(session.kernel, unitNode("/sys/a", "/dev/hidraw0"));
  session.kernel.nodes[node].shortAnswerBytes = 20;
  const DeviceHandle device = session.openNode(u"/dev/hidraw0");
  ASSERT_TRUE(session.write(device, requestOf(CMD_GET_UNIT_INFO)));

  std::vector<std::uint8_t> answer(60);
  EXPECT_FALSE(session.read(device, answer));

  EXPECT_EQ(session.lastError(), HIDRAW_ERROR_SHORT_REPORT);
}

// The queue drained before each request holds up to 64 reports; only what has arrived is
// dropped, and the error of an earlier failure stays for the caller.
TEST(Discard, DropsEveryWaitingReportAndLeavesTheLastError) {
  HidrawSession session;
  const std::size_t node = addNode(session.kernel, unitNode("/sys/a", "/dev/hidraw0"));
  const DeviceHandle device = session.openNode(u"/dev/hidraw0");
  for (int i = 0; i < 63; ++i) {
    sendInput(session.kernel, node, std::vector<std::uint8_t>(60, static_cast<std::uint8_t>(i)));
  }
  sendInput(session.kernel, node, std::vector<std::uint8_t>(60, 0xAA), 5 * MS);
  ASSERT_FALSE(session.write(device, std::vector<std::uint8_t>(60, 0)));  // byte 0 = 0: EINVAL

  session.platform().discardInput(session.context(), device);

  EXPECT_EQ(fileOf(session.kernel, fdOf(device))->queue.size(), 1u);
  EXPECT_EQ(session.lastError(), static_cast<std::uint32_t>(EINVAL));
  std::vector<std::uint8_t> later(60);
  ASSERT_TRUE(session.read(device, later, 10));
  EXPECT_EQ(later, std::vector<std::uint8_t>(60, 0xAA));
}

}  // namespace
}  // namespace esc::test
