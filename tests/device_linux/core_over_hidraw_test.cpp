// The portable link, identification, the bootloader commands and a whole update running
// over the hidraw backend, with the emulated unit behind a fake kernel.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "device/bootloader.h"
#include "resources/messages.h"
#include "tests/device_linux/descriptor_cases.h"
#include "tests/device_linux/hidraw_session.h"
#include "updater/run_update.h"

namespace esc::test {
namespace {

std::u16string pathOf(const HidLink& link) {
  return link.devicePath ? std::u16string(link.devicePath.get()) : std::u16string();
}

TEST(CoreOverHidraw, OpenFindsAndIdentifiesTheUnit) {
  HidrawSession session;
  session.install();
  addNode(session.kernel, otherNode("/sys/a", "/dev/hidraw0", 0x046D, 0xC077));
  addNode(session.kernel, unitNode("/sys/b", "/dev/hidraw4"));

  ASSERT_EQ(open(session.link), LINK_OK);

  EXPECT_EQ(pathOf(session.link), u"/dev/hidraw4");
  EXPECT_EQ(session.link.productId, 1);
  EXPECT_EQ(session.link.inputReportLength, 60u);
  EXPECT_EQ(session.link.outputReportLength, 60u);
  EXPECT_EQ(escModelCode(session.link), 0x110FA0D2u);
  EXPECT_EQ(escFirmwareVersion(session.link), 0x0100);
  // Only the unit stays open, and locked.
  ASSERT_EQ(openFiles(session.kernel), 1u);
  EXPECT_TRUE(session.kernel.files[0].holdsLock);

  close(session.link);

  EXPECT_EQ(openFiles(session.kernel), 0u);
}

// Which node discovery takes: the first qualifying one in sysfs order. A unit whose
// descriptor cannot be read is still the one taken; identification then fails, as on
// Windows when the capabilities cannot be read.
TEST(CoreOverHidraw, DiscoverySkipsWhatDoesNotQualify) {
  struct Case {
    const char* name;
    void (*spoil)(FakeNode& first);
    std::int32_t result;
    std::u16string path;
  };
  const Case cases[] = {
      {"another vendor", [](FakeNode& n) { n.vendor = 0x046D; }, LINK_OK, u"/dev/hidraw1"},
      {"product id 3", [](FakeNode& n) { n.product = 3; }, LINK_OK, u"/dev/hidraw1"},
      {"locked by another program", [](FakeNode& n) { n.lockedElsewhere = true; }, LINK_OK,
       u"/dev/hidraw1"},
      {"cannot be opened", [](FakeNode& n) { n.openError = EACCES; }, LINK_OK, u"/dev/hidraw1"},
      {"unreadable ids", [](FakeNode& n) { n.infoUnreadable = true; }, LINK_OK, u"/dev/hidraw1"},
      {"product id 2", [](FakeNode& n) { n.product = 2; }, LINK_OK, u"/dev/hidraw9"},
      {"unreadable descriptor", [](FakeNode& n) { n.descriptorUnreadable = true; },
       LINK_UNAVAILABLE, u"/dev/hidraw9"},
      {"malformed descriptor", [](FakeNode& n) { n.descriptor = descriptorBytes({0xB4}); },
       LINK_UNAVAILABLE, u"/dev/hidraw9"},
      {"reports longer than the link takes",
       [](FakeNode& n) { n.descriptor = unitWithInputCount(2000); }, LINK_UNAVAILABLE,
       u"/dev/hidraw9"},
      {"reports shorter than the record",
       [](FakeNode& n) { n.descriptor = unitWithInputCount(20); }, LINK_UNAVAILABLE,
       u"/dev/hidraw9"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    HidrawSession session;
    session.install();
    // hidraw9 sorts first by its sysfs path.
    FakeNode first = unitNode("/sys/devices/usb1/1-1/hidraw/hidraw9", "/dev/hidraw9");
    test.spoil(first);
    addNode(session.kernel, unitNode("/sys/devices/usb1/1-2/hidraw/hidraw1", "/dev/hidraw1"));
    addNode(session.kernel, std::move(first));

    EXPECT_EQ(open(session.link), test.result);

    EXPECT_EQ(pathOf(session.link), test.path);
    EXPECT_EQ(openFiles(session.kernel), 1u);
  }
}

TEST(CoreOverHidraw, NoQualifyingUnitLeavesNothingOpen) {
  HidrawSession session;
  session.install();
  FakeNode spoiled = unitNode("/sys/a", "/dev/hidraw0");
  spoiled.product = 3;
  addNode(session.kernel, std::move(spoiled));
  addNode(session.kernel, otherNode("/sys/b", "/dev/hidraw1", 0x046D, 1));

  EXPECT_EQ(open(session.link), LINK_NO_UNIT);

  EXPECT_FALSE(isOpen(session.link));
  EXPECT_EQ(openFiles(session.kernel), 0u);
}

// The link's request always carries id 1; a device without numbered output reports cannot
// take it, and the write is refused rather than sent with a shifted payload.
TEST(CoreOverHidraw, AUnitWithoutReportIdsIsRefusedAtTheFirstWrite) {
  HidrawSession session;
  session.install();
  FakeNode node = unitNode("/sys/a", "/dev/hidraw0");
  node.descriptor = unnumberedDescriptor();
  const std::size_t index = addNode(session.kernel, std::move(node));

  EXPECT_EQ(open(session.link), LINK_WRITE_FAILED);

  EXPECT_EQ(session.lastError(), static_cast<std::uint32_t>(EINVAL));
  EXPECT_TRUE(session.kernel.nodes[index].writes.empty());
}

struct OpenLink : HidrawSession {
  OpenLink() {
    install();
    node = addNode(kernel, unitNode("/sys/a", "/dev/hidraw0"));
    EXPECT_EQ(open(link), LINK_OK);
  }
  FakeNode& unit() { return kernel.nodes[node]; }
  std::size_t node = 0;
};

TEST(CoreOverHidraw, BootloaderCommandsReachTheUnit) {
  OpenLink session;
  const std::uint8_t block[56] = {0x11, 0x22, 0x33, 0x44};

  EXPECT_EQ(setSystemLock(session.link, LockState::Set), LINK_OK);
  EXPECT_EQ(setWriteProtection(session.link, WriteProtection::Unlock), LINK_OK);
  const std::uint64_t beforeErase = session.kernel.nowMicroseconds;
  EXPECT_EQ(eraseFirmware(session.link), LINK_OK);
  EXPECT_GE(session.kernel.nowMicroseconds - beforeErase,
            std::uint64_t{ERASE_ANSWER_DELAY_MS} * MS);
  EXPECT_EQ(setFlashAddress(session.link), LINK_OK);
  EXPECT_EQ(writeBlock(session.link, block, 1), LINK_OK);

  EXPECT_TRUE(session.unit().unit->bootloader.systemLocked);
  EXPECT_EQ(session.unit().unit->bootloader.blocksWritten, 1u);
  EXPECT_EQ(sim::writtenFirmware(*session.unit().unit),
            (std::vector<std::uint8_t>{0x11, 0x22, 0x33, 0x44}));
}

// A report the unit sent unasked, or an answer that came after its read gave up, waits in
// the descriptor's queue; the next request must still get its own answer.
TEST(CoreOverHidraw, StaleInputNeverPassesForTheNextAnswer) {
  struct Case {
    const char* name;
    void (*arrange)(FakeNode& unit);
    std::int32_t first;
  };
  const Case cases[] = {
      {"a stray report",
       [](FakeNode& unit) {
         std::vector<std::uint8_t> stray(60, 0);
         stray[0] = INPUT_REPORT_ID;
         stray[1] = ANSWER_ERROR_MARKER;
         stray[4] = 0x77;
         unit.strayAfterAnswer = stray;
       },
       LINK_OK},
      {"a late answer",
       [](FakeNode& unit) { unit.answerDelayMicroseconds = (LINK_READ_TIMEOUT_MS + 500) * MS; },
       LINK_READ_FAILED},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    OpenLink session;
    test.arrange(session.unit());

    EXPECT_EQ(setSystemLock(session.link, LockState::Set), test.first);
    session.unit().answerDelayMicroseconds = 0;
    session.kernel.nowMicroseconds += 1000 * MS;  // whatever was late has arrived by now
    EXPECT_EQ(setWriteProtection(session.link, WriteProtection::Unlock), LINK_OK);

    EXPECT_FALSE(session.unit().unit->bootloader.writeProtected);
  }
}

TEST(CoreOverHidraw, APulledUnitFailsTheExchangeWithTheRemovalError) {
  OpenLink session;
  session.unit().readFault = ReadFault::Unplugged;
  session.unit().silentOnce = true;

  EXPECT_EQ(setSystemLock(session.link, LockState::Set), LINK_READ_FAILED);

  EXPECT_EQ(session.lastError(), HIDRAW_ERROR_REMOVED);
  EXPECT_EQ(setSystemLock(session.link, LockState::Set), LINK_WRITE_FAILED);
  EXPECT_EQ(session.lastError(), HIDRAW_ERROR_REMOVED);
}

struct UpdateOutcome {
  int successes = 0;
  int errors = 0;
  std::int32_t errorValue = 0;
  std::uint32_t systemError = 0;
};

bool answerYes(void*, Question, const char16_t*, const char16_t*) { return true; }
void ignoreTitle(void*, const char16_t*) {}
void ignorePosition(void*, std::uint32_t) {}
void ignore(void*) {}
void countError(void* context, const char16_t*, const char16_t*, std::int32_t value,
                std::uint32_t systemError) {
  auto& outcome = *static_cast<UpdateOutcome*>(context);
  ++outcome.errors;
  outcome.errorValue = value;
  outcome.systemError = systemError;
}
void countSuccess(void* context) { ++static_cast<UpdateOutcome*>(context)->successes; }

// An open link to the supported unit, and a port that confirms and counts the outcome.
class CoreOverHidrawUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    setMessageLanguage(Language::English);
    ASSERT_EQ(classifyController(escModelCode(session.link), target),
              ClassificationResult::Supported);
  }

  OpenLink session;
  UpdateTarget target{};
  UpdateOutcome outcome;
  const UpdatePort port{&outcome,   answerYes,    ignoreTitle, ignorePosition, ignore,
                        countError, countSuccess, ignore,      ignore,         sleepUntilDeadline};
};

TEST_F(CoreOverHidrawUpdate, AWholeUpdateWritesTheImageWithItsWaits) {
  const std::uint64_t start = session.kernel.nowMicroseconds;

  runUpdate(session.link, target, port);

  EXPECT_EQ(outcome.errors, 0);
  EXPECT_EQ(outcome.successes, 1);
  const FirmwareImage image = loadFirmwareImage(157);
  ASSERT_NE(image.data, nullptr);
  EXPECT_EQ(sim::writtenFirmware(*session.unit().unit),
            std::vector<std::uint8_t>(image.data, image.data + image.size));
  // The unit answers at once here, so the update lasts exactly the waits it needs.
  EXPECT_EQ(session.kernel.nowMicroseconds - start, 42700 * MS);
}

TEST_F(CoreOverHidrawUpdate, AnUpdateInterruptedByRemovalReportsTheRemovalError) {
  session.unit().writeError = ENODEV;

  runUpdate(session.link, target, port);

  EXPECT_EQ(outcome.errors, 1);
  EXPECT_EQ(outcome.errorValue, LINK_WRITE_FAILED);
  EXPECT_EQ(outcome.systemError, HIDRAW_ERROR_REMOVED);
  EXPECT_FALSE(isOpen(session.link));
  EXPECT_EQ(openFiles(session.kernel), 0u);
}

}  // namespace
}  // namespace esc::test
