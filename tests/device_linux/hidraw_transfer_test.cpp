// Transfers that do not go through: a unit that takes no report or sends no answer gives
// up after the timeout, a pulled unit fails at once, and the clock behind the waits.
#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "tests/device_linux/descriptor_cases.h"
#include "tests/device_linux/hidraw_session.h"

namespace esc::test {
namespace {

struct OpenUnit : HidrawSession {
  OpenUnit() {
    node = addNode(kernel, unitNode("/sys/a", "/dev/hidraw0"));
    device = openNode(u"/dev/hidraw0");
  }
  FakeNode& unit() { return kernel.nodes[node]; }
  std::uint64_t elapsedSince(std::uint64_t start) const { return kernel.nowMicroseconds - start; }

  std::size_t node = 0;
  DeviceHandle device = INVALID_DEVICE_HANDLE;
};

struct ReportLengthCase {
  const char* name;
  std::vector<std::uint8_t> report;  // as hidraw delivers it, id first
  bool whole;
};

std::vector<std::uint8_t> reportOf(std::uint8_t id, std::size_t bytes) {
  std::vector<std::uint8_t> report(bytes, 0xA5);
  report[0] = id;
  return report;
}

// hidraw gives each report at its own length; Windows pads the shorter ones to the
// longest declared, and so does the backend. Any other length is no whole report.
const ReportLengthCase REPORT_LENGTHS[] = {
    {"report 2 at its own 60 bytes", reportOf(2, 60), true},
    {"report 3 at the longest, 101 bytes", reportOf(3, 101), true},
    {"report 2 cut to 59 bytes", reportOf(2, 59), false},
    {"report 3 at report 2's length", reportOf(3, 60), false},
    {"an undeclared report 7", reportOf(7, 60), false},
};

TEST(ReportLengths, AShorterReportIsTakenAtItsOwnIdsLengthAndPadded) {
  for (const ReportLengthCase& c : REPORT_LENGTHS) {
    SCOPED_TRACE(c.name);
    HidrawSession session;
    const std::size_t node = addNode(session.kernel, unitNode("/sys/a", "/dev/hidraw0"));
    session.kernel.nodes[node].descriptor = unitWithLongerInput();
    const DeviceHandle device = session.openNode(u"/dev/hidraw0");
    sendInput(session.kernel, node, c.report);
    std::vector<std::uint8_t> report(101, 0xEE);

    EXPECT_EQ(session.read(device, report), c.whole);

    if (c.whole) {
      std::vector<std::uint8_t> padded = c.report;
      padded.resize(101, 0);
      EXPECT_EQ(report, padded);
    } else {
      EXPECT_EQ(session.lastError(), HIDRAW_ERROR_SHORT_REPORT);
    }
  }
}

// The kernel copies a descriptor of at most 4095 bytes; a device declaring more is refused
// before any copy.
TEST(ReportLengths, DescriptorsUpToTheKernelsLimitAreRead) {
  for (const std::size_t size : {std::size_t{4095}, std::size_t{4096}}) {
    SCOPED_TRACE(size);
    HidrawSession session;
    const std::size_t node = addNode(session.kernel, unitNode("/sys/a", "/dev/hidraw0"));
    std::vector<std::uint8_t> descriptor = unitDescriptor();
    // Usage items change no length: the unit's descriptor behind as many as make the size,
    // one of them with two bytes of data when the count is odd.
    if ((size - descriptor.size()) % 2 != 0) {
      descriptor.insert(descriptor.begin(), {0x0A, 0x01, 0x00});
    }
    while (descriptor.size() < size) {
      descriptor.insert(descriptor.begin(), {0x09, 0x01});
    }
    session.kernel.nodes[node].descriptor = descriptor;
    ASSERT_EQ(descriptor.size(), size);
    const DeviceHandle device = session.openDevice(u"/dev/hidraw0");
    std::uint16_t input = 0;
    std::uint16_t output = 0;

    EXPECT_EQ(session.platform().readCapabilities(session.context(), device, input, output),
              size <= 4095);
    EXPECT_EQ(input, size <= 4095 ? 60 : 0);
  }
}

TEST(Timeouts, AWriteThatIsNeverTakenGivesUpAfterItsTimeout) {
  OpenUnit session;
  session.unit().writeNeverReady = true;
  const std::uint64_t start = session.kernel.nowMicroseconds;

  EXPECT_FALSE(session.write(session.device, requestOf(CMD_GET_UNIT_INFO), 3000));

  EXPECT_EQ(session.elapsedSince(start), 3000 * MS);
  EXPECT_EQ(session.lastError(), HIDRAW_ERROR_TIMEOUT);
  EXPECT_TRUE(session.unit().writes.empty());
}

// The USB core gives a report the device does not take 5 s; the write returns its error.
TEST(Timeouts, AWriteTheUsbCoreGivesUpKeepsItsError) {
  OpenUnit session;
  session.unit().writeError = ETIMEDOUT;
  const std::uint64_t start = session.kernel.nowMicroseconds;

  EXPECT_FALSE(session.write(session.device, requestOf(CMD_GET_UNIT_INFO)));

  EXPECT_EQ(session.elapsedSince(start), 5000 * MS);
  EXPECT_EQ(session.lastError(), static_cast<std::uint32_t>(ETIMEDOUT));
}

TEST(Timeouts, AnAnswerThatNeverComesGivesUpAfterTheReadTimeout) {
  OpenUnit session;
  session.unit().silentOnce = true;
  ASSERT_TRUE(session.write(session.device, requestOf(CMD_GET_UNIT_INFO)));
  const std::uint64_t start = session.kernel.nowMicroseconds;

  std::vector<std::uint8_t> answer(60);
  EXPECT_FALSE(session.read(session.device, answer));

  EXPECT_EQ(session.elapsedSince(start), std::uint64_t{LINK_READ_TIMEOUT_MS} * MS);
  EXPECT_EQ(session.lastError(), HIDRAW_ERROR_TIMEOUT);
}

TEST(Timeouts, ASlowAnswerWithinTheTimeoutIsTakenWhenItComes) {
  OpenUnit session;
  session.unit().answerDelayMicroseconds = 3000 * MS;
  ASSERT_TRUE(session.write(session.device, requestOf(CMD_GET_UNIT_INFO)));
  const std::uint64_t start = session.kernel.nowMicroseconds;

  std::vector<std::uint8_t> answer(60);
  EXPECT_TRUE(session.read(session.device, answer));

  EXPECT_EQ(session.elapsedSince(start), 3000 * MS);
  EXPECT_EQ(answer[0], INPUT_REPORT_ID);
}

// A signal ends one poll early; the wait goes on to the same deadline, no longer.
TEST(Timeouts, ASignalNeitherShortensNorStretchesTheWait) {
  OpenUnit session;
  session.unit().silentOnce = true;
  ASSERT_TRUE(session.write(session.device, requestOf(CMD_GET_UNIT_INFO)));
  session.kernel.interruptPolls = 3;
  const std::uint64_t start = session.kernel.nowMicroseconds;

  std::vector<std::uint8_t> answer(60);
  EXPECT_FALSE(session.read(session.device, answer));

  EXPECT_EQ(session.elapsedSince(start), std::uint64_t{LINK_READ_TIMEOUT_MS} * MS);
  EXPECT_EQ(session.lastError(), HIDRAW_ERROR_TIMEOUT);
}

// However the kernel tells that the unit is gone, the read fails at once (not after its
// timeout) and with the one removal error.
TEST(Removal, AReadFailsAtOnceWithTheRemovalError) {
  struct Case {
    const char* name;
    ReadFault fault;
    std::uint64_t elapsed;  // the fake pulls the unit 100 ms into the wait
  };
  const Case cases[] = {
      {"POLLHUP during the wait", ReadFault::Unplugged, 100 * MS},
      {"EIO from read", ReadFault::ReadEio, 0},
      {"ENODEV from read", ReadFault::ReadEnodev, 0},
      {"a read of 0 bytes", ReadFault::ReadZero, 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    OpenUnit session;
    session.unit().silentOnce = true;
    ASSERT_TRUE(session.write(session.device, requestOf(CMD_GET_UNIT_INFO)));
    session.unit().readFault = test.fault;
    const std::uint64_t start = session.kernel.nowMicroseconds;

    std::vector<std::uint8_t> answer(60);
    EXPECT_FALSE(session.read(session.device, answer));

    EXPECT_EQ(session.elapsedSince(start), test.elapsed);
    EXPECT_EQ(session.lastError(), HIDRAW_ERROR_REMOVED);
  }
}

TEST(Removal, AWriteToAPulledUnitFailsAtOnce) {
  OpenUnit session;
  session.unit().present = false;
  const std::uint64_t start = session.kernel.nowMicroseconds;

  EXPECT_FALSE(session.write(session.device, requestOf(CMD_GET_UNIT_INFO)));

  EXPECT_EQ(session.elapsedSince(start), 0u);
  EXPECT_EQ(session.lastError(), HIDRAW_ERROR_REMOVED);
}

TEST(Removal, ClosingAPulledUnitReleasesItsDescriptorAndKeepsTheError) {
  OpenUnit session;
  session.unit().present = false;
  std::vector<std::uint8_t> answer(60);
  ASSERT_FALSE(session.read(session.device, answer));

  session.platform().closeDevice(session.context(), session.device);

  EXPECT_EQ(openFiles(session.kernel), 0u);
  EXPECT_EQ(session.lastError(), HIDRAW_ERROR_REMOVED);
}

TEST(Clock, TimeAndWaitsFollowTheMonotonicClock) {
  HidrawSession session;
  session.kernel.nowMicroseconds = 7123456789;

  EXPECT_EQ(session.platform().nowMicroseconds(session.context()), 7123456789u);
  session.platform().sleep(session.context(), 20);
  EXPECT_EQ(session.kernel.nowMicroseconds, 7123476789u);
  session.platform().sleepUntil(session.context(), 7200000001);
  EXPECT_EQ(session.kernel.nowMicroseconds, 7200000001u);
  // A deadline already passed returns at once.
  session.platform().sleepUntil(session.context(), 5);
  EXPECT_EQ(session.kernel.nowMicroseconds, 7200000001u);
  EXPECT_EQ(session.kernel.sleepDeadlines, (std::vector<std::uint64_t>{7123476789, 7200000001, 5}));
}

}  // namespace
}  // namespace esc::test
