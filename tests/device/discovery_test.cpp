// Finding, opening and closing the programming unit.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/device/link_session.h"

namespace esc::test {
namespace {

using sim::EventKind;

std::size_t countOf(const sim::Bus& bus, EventKind kind) {
  return sim::entriesOf(bus, kind).size();
}

sim::Device unitWithPath(std::uint16_t productId, const char16_t* path) {
  sim::Device unit = sim::makeSupportedUnit();
  unit.productId = productId;
  unit.path = path;
  return unit;
}

TEST(Discovery, TakesTheFirstOfTwoUnitsAndLeavesTheOtherUntouched) {
  Session session;
  sim::addDevice(session.bus, unitWithPath(2, u"\\\\?\\hid#first"));
  sim::addDevice(session.bus, unitWithPath(1, u"\\\\?\\hid#second"));

  EXPECT_EQ(open(session.link), LINK_OK);

  EXPECT_TRUE(isOpen(session.link));
  EXPECT_EQ(pathOf(session.link), u"\\\\?\\hid#first");
  EXPECT_EQ(session.link.productId, 2);
  EXPECT_EQ(session.bus.devices[1].opens, 0u);
  EXPECT_EQ(session.bus.devices[1].requests, 0u);
  EXPECT_EQ(countOf(session.bus, EventKind::Open), 1u);
  EXPECT_FALSE(session.bus.enumerationOpen);
}

// Each of these devices must be passed over: alone it leaves "no unit", ahead of a real
// unit it must not keep the link from finding that unit, and it is never left open.
struct SkippedDevice {
  const char* name;
  std::function<void(sim::Device&)> spoil;
  bool opened;  // whether discovery gets as far as opening it
};

// Derived from the build's vendor id, so that no choice of ESC_UNIT_VENDOR_ID makes it the
// unit's own.
constexpr std::uint16_t OTHER_VENDOR_ID = static_cast<std::uint16_t>(UNIT_VENDOR_ID ^ 0x0101u);

const SkippedDevice SKIPPED_DEVICES[] = {
    {"other vendor id", [](sim::Device& d) { d.vendorId = OTHER_VENDOR_ID; }, true},
    {"product id 3", [](sim::Device& d) { d.productId = 3; }, true},
    {"product id 0", [](sim::Device& d) { d.productId = 0; }, true},
    {"held open by another program", [](sim::Device& d) { d.heldOpenElsewhere = true; }, false},
    {"attributes unreadable", [](sim::Device& d) { d.attributesUnreadable = true; }, true},
    {"interface path unavailable", [](sim::Device& d) { d.detailUnavailable = true; }, false},
};

TEST(Discovery, ANonQualifyingDeviceAloneMeansNoUnit) {
  for (const SkippedDevice& skipped : SKIPPED_DEVICES) {
    SCOPED_TRACE(skipped.name);
    Session session;
    sim::Device device = sim::makeSupportedUnit();
    skipped.spoil(device);
    sim::addDevice(session.bus, device);

    EXPECT_EQ(open(session.link), LINK_NO_UNIT);

    expectCleared(session.link);
    EXPECT_EQ(sim::openHandleCount(session.bus), 0u);
    EXPECT_EQ(session.bus.devices[0].opens, skipped.opened ? 1u : 0u);
    EXPECT_EQ(session.bus.devices[0].requests, 0u);
    EXPECT_FALSE(session.bus.enumerationOpen);
  }
}

TEST(Discovery, ANonQualifyingDeviceIsPassedOverForTheUnitBehindIt) {
  for (const SkippedDevice& skipped : SKIPPED_DEVICES) {
    SCOPED_TRACE(skipped.name);
    Session session;
    sim::Device device = unitWithPath(1, u"\\\\?\\hid#skipped");
    skipped.spoil(device);
    sim::addDevice(session.bus, device);
    sim::addDevice(session.bus, unitWithPath(1, u"\\\\?\\hid#unit"));

    EXPECT_EQ(open(session.link), LINK_OK);

    EXPECT_EQ(pathOf(session.link), u"\\\\?\\hid#unit");
    EXPECT_EQ(sim::openHandleCount(session.bus), 1u);
    EXPECT_EQ(session.bus.devices[0].requests, 0u);
    EXPECT_FALSE(session.bus.enumerationOpen);
  }
}

TEST(Discovery, AnUnavailableDeviceListGivesMinusOneWithTheLinkCleared) {
  Session session;
  sim::addDevice(session.bus, sim::makeSupportedUnit());
  session.bus.listUnavailable = true;

  EXPECT_EQ(open(session.link), LINK_UNAVAILABLE);

  expectCleared(session.link);
  EXPECT_EQ(countOf(session.bus, EventKind::Open), 0u);
}

TEST(Discovery, NoDevicesAtAllGivesNoUnitWithTheLinkCleared) {
  Session session;
  EXPECT_EQ(open(session.link), LINK_NO_UNIT);
  expectCleared(session.link);
  EXPECT_FALSE(session.bus.enumerationOpen);
}

TEST(Discovery, WithoutAnInstalledPlatformTheDeviceListIsUnavailable) {
  setHidPlatform(nullptr);
  HidLink link;
  EXPECT_EQ(open(link), LINK_UNAVAILABLE);
  expectCleared(link);
}

TEST(Discovery, OpenKeepsAnOwnedCopyOfThePathAndTheProductId) {
  Session session;
  const std::size_t unit = sim::addDevice(session.bus, unitWithPath(2, u"\\\\?\\hid#Unit"));

  ASSERT_EQ(open(session.link), LINK_OK);
  session.bus.devices[unit].path = u"changed";

  EXPECT_EQ(pathOf(session.link), u"\\\\?\\hid#Unit");
  EXPECT_EQ(session.link.productId, 2);
}

TEST(Discovery, OpeningAnOpenLinkClosesTheOldHandleBeforeSearchingAgain) {
  OpenSession session;
  const DeviceHandle first = session.link.deviceHandle;

  ASSERT_EQ(open(session.link), LINK_OK);

  ASSERT_GE(session.bus.log.size(), 2u);
  EXPECT_EQ(session.bus.log[0].kind, EventKind::Close);
  EXPECT_EQ(session.bus.log[0].handle, first);
  EXPECT_TRUE(session.bus.log[0].succeeded);
  EXPECT_EQ(session.bus.log[1].kind, EventKind::Enumerate);
  EXPECT_NE(session.link.deviceHandle, first);
  EXPECT_EQ(sim::openHandleCount(session.bus), 1u);
  EXPECT_EQ(session.device().opens, 2u);
}

TEST(Discovery, OpeningAgainForgetsWhatTheLastIdentificationLearned) {
  OpenSession session;
  ASSERT_NE(escModelCode(session.link), 0u);
  session.device().identity.escStatus = 2;

  ASSERT_EQ(open(session.link), LINK_OK);

  EXPECT_EQ(session.link.escStatus, 2);
  EXPECT_EQ(escModelCode(session.link), 0u);
  EXPECT_EQ(escFirmwareVersion(session.link), 0);
  EXPECT_EQ(escBootloaderVersion(session.link), 0u);
}

TEST(Discovery, OpeningAgainWithTheUnitGoneEndsInTheClearedState) {
  OpenSession session;
  sim::unplug(session.bus, session.unit);

  EXPECT_EQ(open(session.link), LINK_NO_UNIT);

  expectCleared(session.link);
  EXPECT_EQ(sim::openHandleCount(session.bus), 0u);
}

TEST(Discovery, AUnitWhoseIdentificationFailsStaysOpen) {
  Session session;
  sim::addDevice(session.bus, sim::makeSupportedUnit());
  session.bus.faults.push_back(sim::atExchange(sim::FaultKind::WriteFails, 1));

  EXPECT_EQ(open(session.link), LINK_WRITE_FAILED);

  EXPECT_TRUE(isOpen(session.link));
  EXPECT_NE(session.link.devicePath, nullptr);
  EXPECT_EQ(session.link.productId, 1);
}

TEST(Closing, ReleasesTheDeviceAndClearsTheRecord) {
  OpenSession session;
  close(session.link);
  expectCleared(session.link);
  EXPECT_EQ(sim::openHandleCount(session.bus), 0u);
}

TEST(Closing, IsHarmlessOnAClosedLink) {
  OpenSession session;
  close(session.link);
  close(session.link);
  HidLink neverOpened;
  close(neverOpened);

  EXPECT_EQ(countOf(session.bus, EventKind::Close), 1u);
  for (const sim::LogEntry* entry : sim::entriesOf(session.bus, EventKind::Close)) {
    EXPECT_TRUE(entry->succeeded);
  }
  expectCleared(session.link);
  expectCleared(neverOpened);
}

struct DeclaredLengths {
  std::uint16_t input;
  std::uint16_t output;
};

TEST(ReportLengths, ShorterThanTheRecordOrAbove1024AreRefusedBeforeAnyCommand) {
  const DeclaredLengths refused[] = {{59, 60},   {60, 59},   {0, 0},        {8, 8},
                                     {1025, 60}, {60, 1025}, {65535, 65535}};
  for (const DeclaredLengths& lengths : refused) {
    SCOPED_TRACE(testing::Message() << lengths.input << "/" << lengths.output);
    Session session;
    sim::Device unit = sim::makeSupportedUnit();
    unit.inputReportLength = lengths.input;
    unit.outputReportLength = lengths.output;
    sim::addDevice(session.bus, unit);

    EXPECT_EQ(open(session.link), LINK_UNAVAILABLE);

    EXPECT_TRUE(isOpen(session.link));
    EXPECT_EQ(session.link.inputReportLength, 0u);
    EXPECT_EQ(session.link.outputReportLength, 0u);
    EXPECT_EQ(countOf(session.bus, EventKind::Write), 0u);
    // A link in that state still sends nothing.
    HidReport answer{};
    EXPECT_EQ(exchange(session.link, reportOf(recordOf({1, CMD_GET_UNIT_INFO})), answer),
              LINK_UNAVAILABLE);
    EXPECT_EQ(countOf(session.bus, EventKind::Write), 0u);
  }
}

TEST(ReportLengths, UnreadableCapabilitiesGiveMinusOneBeforeAnyCommand) {
  Session session;
  sim::Device unit = sim::makeSupportedUnit();
  unit.capabilitiesUnreadable = true;
  sim::addDevice(session.bus, unit);

  EXPECT_EQ(open(session.link), LINK_UNAVAILABLE);

  EXPECT_TRUE(isOpen(session.link));
  EXPECT_EQ(countOf(session.bus, EventKind::Write), 0u);
}

TEST(ReportLengths, LongerReportsArePaddedWithZerosAndTrimmedToTheRecord) {
  const DeclaredLengths accepted[] = {{60, 60}, {61, 64}, {64, 61}, {1024, 1024}};
  for (const DeclaredLengths& lengths : accepted) {
    SCOPED_TRACE(testing::Message() << lengths.input << "/" << lengths.output);
    Session session;
    sim::Device unit = sim::makeSupportedUnit();
    unit.inputReportLength = lengths.input;
    unit.outputReportLength = lengths.output;
    sim::addDevice(session.bus, unit);

    ASSERT_EQ(open(session.link), LINK_OK);

    EXPECT_EQ(session.link.inputReportLength, lengths.input);
    EXPECT_EQ(session.link.outputReportLength, lengths.output);
    EXPECT_EQ(escModelCode(session.link), 0x110FA0D2u);
    const auto writes = writtenRequests(session.bus);
    ASSERT_EQ(writes.size(), 3u);
    for (const auto& written : writes) {
      ASSERT_EQ(written.size(), lengths.output);
      EXPECT_EQ(std::vector<std::uint8_t>(written.begin() + 60, written.end()),
                std::vector<std::uint8_t>(lengths.output - 60u, 0));
    }
    EXPECT_EQ(writes[0], [&] {
      std::vector<std::uint8_t> expected = recordOf({0x01, 0x08, 0x00});
      expected.resize(lengths.output, 0);
      return expected;
    }());
  }
}

}  // namespace
}  // namespace esc::test
