// escupdate on the Linux hidraw backend, over the fake kernel: the paths list shows,
// --device on real node names, and the outcomes of a unit that stalls, sends garbage,
// vanishes mid-update or declares absurd report lengths.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "resources/message_ids.h"
#include "tests/device_linux/descriptor_cases.h"
#include "tests/device_linux/hidraw_session.h"
#include "ui/cli/cli_program.h"
#include "ui/cli/cli_text.h"
#include "ui/cli/hidraw_problem.h"

namespace esc::cli {
namespace {

using nlohmann::json;
using test::FakeNode;
using test::HidrawSession;

struct Output {
  std::string out;
  std::string err;
};

void record(void* context, Stream stream, const std::string& text) {
  Output& output = *static_cast<Output*>(context);
  (stream == Stream::Out ? output.out : output.err) += text;
}
bool noInput(void*, std::string&) { return false; }
bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A wait for a device change: its time passes on the kernel's clock, and a node set to
// arrive comes once the clock reaches its time.
struct Arrival {
  test::FakeKernel* kernel;
  std::size_t node;
  std::uint64_t atMicroseconds;  // 0: nothing arrives
};

HotplugChange passTime(void* context, std::uint32_t timeoutMs) {
  Arrival& arrival = *static_cast<Arrival*>(context);
  arrival.kernel->nowMicroseconds += std::uint64_t{timeoutMs} * 1000u;
  FakeNode& node = arrival.kernel->nodes[arrival.node];
  if (arrival.atMicroseconds != 0 && !node.present &&
      arrival.kernel->nowMicroseconds >= arrival.atMicroseconds) {
    node.present = true;
    return HotplugChange::Arrival;
  }
  return HotplugChange::None;
}
void ignorePhase(void*, Phase) {}
bool notInterrupted(void*) { return false; }

// Spoils the unit's node just before data block `block` is written, through a table that
// forwards everything else to the backend.
struct BlockTrap {
  const HidPlatform* backend;
  FakeNode* node;
  std::uint32_t block;
  void (*spoil)(FakeNode& node);
  std::uint32_t blocks;
};

BlockTrap* trap = nullptr;

bool trappedWrite(void* context, DeviceHandle device, const std::uint8_t* report,
                  std::uint32_t length, std::uint32_t timeoutMs) {
  if (length > 1 && report[1] == CMD_WRITE_BLOCK && ++trap->blocks == trap->block) {
    trap->spoil(*trap->node);
  }
  return trap->backend->writeReport(context, device, report, length, timeoutMs);
}

class CliOverHidraw : public ::testing::Test {
 protected:
  CliOverHidraw() {
    addNode(session.kernel, test::otherNode("/sys/a", "/dev/hidraw0", 0x046D, 0xC077));
    unitIndex = addNode(session.kernel, test::unitNode("/sys/b", "/dev/hidraw4"));
  }
  ~CliOverHidraw() override {
    trap = nullptr;
    setHidPlatform(nullptr);
  }

  FakeNode& unit() { return session.kernel.nodes[unitIndex]; }

  int run(const std::vector<std::string>& words) {
    CliArguments arguments;
    std::string error;
    EXPECT_TRUE(parseArguments(words, arguments, error)) << error;
    table = session.backend.platform;
    if (spoil != nullptr) {
      blockTrap = BlockTrap{&session.backend.platform, &unit(), spoilAtBlock, spoil, 0};
      trap = &blockTrap;
      table.writeReport = trappedWrite;
    }
    setHidPlatform(&table);
    CliEnvironment environment{};
    environment.console = Console{&output, record, noInput, false, false, nullptr};
    arrival.kernel = &session.kernel;
    arrival.node = unitIndex;
    environment.hotplug = HotplugSource{&arrival, passTime};
    environment.interruption = Interruption{nullptr, ignorePhase, notInterrupted};
    environment.loadImage = loader;
    environment.devicePathsIgnoreCase = false;
    environment.openProblem = hidrawOpenProblem;
    startMicroseconds = session.kernel.nowMicroseconds;
    return runCommand(arguments, environment);
  }

  std::uint64_t elapsedMicroseconds() const {
    return session.kernel.nowMicroseconds - startMicroseconds;
  }

  HidrawSession session;
  std::size_t unitIndex = 0;
  HidPlatform table{};
  BlockTrap blockTrap{};
  ImageLoader loader = loadFirmwareImage;
  void (*spoil)(FakeNode&) = nullptr;
  std::uint32_t spoilAtBlock = 0;
  Output output;
  std::uint64_t startMicroseconds = 0;
  Arrival arrival{};
};

std::string codeLine(std::int32_t errorValue, std::uint32_t systemError) {
  char text[64];
  std::snprintf(text, sizeof text, "The system shows following errorcode: 0x%08x-0x%08x",
                static_cast<unsigned>(errorValue), static_cast<unsigned>(systemError));
  return text;
}

TEST_F(CliOverHidraw, ListShowsTheUnitsNodeOnly) {
  EXPECT_EQ(run({"list"}), EXIT_OK);
  EXPECT_EQ(output.out, "/dev/hidraw4 (TUNEPUCK, product id 1)\n");
  EXPECT_EQ(openFiles(session.kernel), 0u);
}

// The keyboard's node is listed before the unit's; no verb may open it.
TEST_F(CliOverHidraw, NoVerbOpensAnotherHidDevice) {
  for (const std::vector<std::string>& words : {std::vector<std::string>{"list"},
                                                {"info"},
                                                {"update", "--yes"},
                                                {"info", "--json"},
                                                {"info", "--device", "/dev/hidraw0"},
                                                {"info", "--wait=1", "--device", "/dev/hidraw0"}}) {
    SCOPED_TRACE(words[0] + " " + words.back());
    session.kernel.openAttempts.clear();
    run(words);
    for (const std::string& path : session.kernel.openAttempts) {
      EXPECT_EQ(path, "/dev/hidraw4");
    }
  }
}

struct UnusableCase {
  const char* name;
  int openError;
  bool lockedElsewhere;
  std::vector<std::string> words;
  const char* reason;
  const char* text;  // after the node's path
};

const char PERMISSION_TEXT[] =
    ": this user may not open the programming unit (permission denied). Install the udev "
    "rule /usr/lib/udev/rules.d/70-escupdate.rules (cmake --install and the escupdate package "
    "provide it), then unplug the unit and plug it in again; or run escupdate once with sudo.";
const char IN_USE_TEXT[] =
    ": another program is using the programming unit. Close that program and try again.";

const UnusableCase UNUSABLE[] = {
    {"info, no rule yet", EACCES, false, {"info"}, "permission-denied", PERMISSION_TEXT},
    {"update, no rule yet",
     EPERM,
     false,
     {"update", "--yes"},
     "permission-denied",
     PERMISSION_TEXT},
    {"--device, no rule yet",
     EACCES,
     false,
     {"info", "--device", "/dev/hidraw4"},
     "permission-denied",
     PERMISSION_TEXT},
    {"--device --wait, no rule yet",
     EACCES,
     false,
     {"update", "--yes", "--wait=2", "--device=/dev/hidraw4"},
     "permission-denied",
     PERMISSION_TEXT},
    {"info, held", 0, true, {"info"}, "in-use", IN_USE_TEXT},
    {"update --wait, held", 0, true, {"update", "--yes", "--wait=2"}, "in-use", IN_USE_TEXT},
    {"list, held", 0, true, {"list"}, "in-use", IN_USE_TEXT},
    {"list --device, no rule yet",
     EACCES,
     false,
     {"list", "--device", "/dev/hidraw4"},
     "permission-denied",
     PERMISSION_TEXT},
};

// The usual first run on Linux: the unit is there, but its node is not the user's yet.
TEST_F(CliOverHidraw, AUnitThatCannotBeUsedIsNamedWithTheCauseAndTheFix) {
  for (const UnusableCase& c : UNUSABLE) {
    SCOPED_TRACE(c.name);
    unit().openError = c.openError;
    unit().lockedElsewhere = c.lockedElsewhere;
    const std::string text = std::string("/dev/hidraw4") + c.text + "\n";
    output = Output{};
    EXPECT_EQ(run(c.words), EXIT_UNUSABLE);
    const std::string& shown = c.words[0] == "list" ? output.out : output.err;
    EXPECT_TRUE(shown.size() >= text.size() &&
                shown.compare(shown.size() - text.size(), text.size(), text) == 0)
        << shown;
    EXPECT_EQ(output.err.find(messageText(MSG_NO_UNIT)), std::string::npos);
    EXPECT_TRUE(unit().writes.empty());

    std::vector<std::string> words = c.words;
    words.push_back("--json");
    output = Output{};
    run(words);
    EXPECT_EQ(run(words), EXIT_UNUSABLE);
    const std::size_t lastLine = output.out.rfind('\n', output.out.size() - 2);
    const json document =
        json::parse(output.out.substr(lastLine == std::string::npos ? 0 : lastLine + 1));
    const json& problem =
        c.words[0] == "list" ? document["units"][0]["problem"] : document["problem"];
    EXPECT_EQ(problem["path"], "/dev/hidraw4");
    EXPECT_EQ(problem["reason"], c.reason);
    EXPECT_EQ(problem["message"], text.substr(0, text.size() - 1));
    if (c.words[0] == "update") {
      EXPECT_EQ(document["result"], "unusable");
      EXPECT_EQ(document["exitCode"], EXIT_UNUSABLE);
    }
  }
}

TEST_F(CliOverHidraw, TheReasonAUnitCannotBeUsedIsGivenInGermanToo) {
  setMessageLanguage(Language::German);
  unit().openError = EACCES;
  EXPECT_EQ(run({"info"}), EXIT_UNUSABLE);
  unit().openError = 0;
  unit().lockedElsewhere = true;
  EXPECT_EQ(run({"info"}), EXIT_UNUSABLE);
  setMessageLanguage(Language::English);
  EXPECT_TRUE(contains(output.err,
                       "/dev/hidraw4: Dieser Benutzer darf die Programmiereinheit nicht "
                       "\xC3\xB6"
                       "ffnen (Zugriff verweigert). Installieren Sie die udev-Regel "
                       "/usr/lib/udev/rules.d/70-escupdate.rules"))
      << output.err;
  EXPECT_TRUE(
      contains(output.err, "/dev/hidraw4: Ein anderes Programm verwendet die Programmiereinheit."));
}

// The unit at the path arrives after 1.5 s and can never be identified (its descriptor
// cannot be read): the check of the path and the detection share the 2 s, and a unit
// never identified is no unit found.
TEST_F(CliOverHidraw, DeviceWithWaitWaitsItsSecondsInAll) {
  unit().present = false;
  unit().descriptorUnreadable = true;
  arrival.atMicroseconds = session.kernel.nowMicroseconds + 1500000;
  EXPECT_EQ(run({"info", "--wait=2", "--device", "/dev/hidraw4"}), EXIT_NO_UNIT);
  EXPECT_TRUE(unit().present);
  EXPECT_GE(elapsedMicroseconds(), 2000000u);
  EXPECT_LE(elapsedMicroseconds(), 2000000u + 500000u);
}

TEST_F(CliOverHidraw, DeviceOnANodeThatIsNoUnitOrNoNodeIsAUsageError) {
  EXPECT_EQ(run({"update", "--yes", "--device", "/dev/hidraw0"}), EXIT_USAGE);
  EXPECT_EQ(output.err,
            "escupdate: --device /dev/hidraw0: this HID device is no programming unit\n");
  output = Output{};
  EXPECT_EQ(run({"info", "--device=/dev/hidraw7"}), EXIT_USAGE);
  EXPECT_EQ(output.err,
            "escupdate: --device /dev/hidraw7: no HID device (hidraw node) has this path\n");
  EXPECT_TRUE(unit().writes.empty());
}

TEST_F(CliOverHidraw, AWholeUpdateWritesTheImageWithTheProductsWaits) {
  EXPECT_EQ(run({"update", "--yes", "--device", "/dev/hidraw4"}), EXIT_OK);
  const FirmwareImage image = loadFirmwareImage(157);
  ASSERT_NE(image.data, nullptr);
  EXPECT_EQ(sim::writtenFirmware(*unit().unit),
            std::vector<std::uint8_t>(image.data, image.data + image.size));
  EXPECT_EQ(elapsedMicroseconds(), 42700000u);
  EXPECT_EQ(openFiles(session.kernel), 0u);
}

TEST_F(CliOverHidraw, GarbageWaitingBeforeAnAnswerIsDroppedAndTheUpdateSucceeds) {
  unit().strayAfterAnswer = std::vector<std::uint8_t>(60, 0xA5);
  EXPECT_EQ(run({"update", "--yes"}), EXIT_OK);
  EXPECT_EQ(sim::writtenFirmware(*unit().unit).size(), 90256u);
}

// A unit that declares a longer input report besides its answers: hidraw hands each answer
// over at its own 60 bytes, and the update goes through as on Windows.
TEST_F(CliOverHidraw, AnswersShorterThanTheLongestInputReportAreWhole) {
  unit().descriptor = test::unitWithLongerInput();
  EXPECT_EQ(run({"update", "--yes"}), EXIT_OK);
  EXPECT_EQ(sim::writtenFirmware(*unit().unit).size(), 90256u);
}

TEST_F(CliOverHidraw, AbsurdReportLengthsLeaveNoUnitAndNothingWritten) {
  for (const std::uint16_t count : {std::uint16_t{2000}, std::uint16_t{20}}) {
    SCOPED_TRACE(count);
    unit().descriptor = test::unitWithInputCount(count);
    output = Output{};
    EXPECT_EQ(run({"update", "--yes"}), EXIT_NO_UNIT);
    EXPECT_NE(output.err.find(messageText(MSG_NO_UNIT)), std::string::npos);
    EXPECT_TRUE(unit().writes.empty());
  }
}

#if ESC_PLACEHOLDER_FIRMWARE
// The program as installed: its images are placeholders, which no real ESC may receive.
TEST_F(CliOverHidraw, APlaceholderBuildRefusesTheUpdateBeforeSendingAnyCommand) {
  loader = productImageLoader();
  EXPECT_EQ(run({"update", "--yes"}), EXIT_UNSUPPORTED);
  EXPECT_NE(output.err.find(messageText(MSG_UPDATE_FAILED_CAPTION) + "\n" +
                            messageText(MSG_IMAGE_MISSING) + "\n"),
            std::string::npos)
      << output.err;
  for (const std::vector<std::uint8_t>& written : unit().writes) {
    ASSERT_GT(written.size(), 1u);
    EXPECT_NE(written[1], CMD_SYSTEM_LOCK);
    EXPECT_NE(written[1], CMD_ERASE);
  }
  EXPECT_EQ(unit().unit->bootloader.erases, 0u);
}
#endif

struct FaultCase {
  const char* name;
  void (*spoil)(FakeNode& node);
  std::int32_t errorValue;
  std::uint32_t systemError;
  // The step gives up within its timeout: the time the update took at most.
  std::uint64_t atMostMicroseconds;
};

// Block 500 comes some 15 s into the update; a stalled read gives up after 10 s.
const FaultCase FAULTS[] = {
    {"stalls", [](FakeNode& n) { n.silentOnce = true; }, LINK_READ_FAILED, HIDRAW_ERROR_TIMEOUT,
     (15000 + 10000 + 500) * 1000u},
    {"vanishes while answering", [](FakeNode& n) { n.readFault = test::ReadFault::ReadEio; },
     LINK_READ_FAILED, HIDRAW_ERROR_REMOVED, (15000 + 500) * 1000u},
    {"vanishes before the request", [](FakeNode& n) { n.writeError = ENODEV; }, LINK_WRITE_FAILED,
     HIDRAW_ERROR_REMOVED, (15000 + 5000 + 500) * 1000u},
    {"answers a short report", [](FakeNode& n) { n.shortAnswerBytes = 10; }, LINK_READ_FAILED,
     HIDRAW_ERROR_SHORT_REPORT, (15000 + 500) * 1000u},
};

TEST_F(CliOverHidraw, AUnitFailingMidUpdateEndsInTheErrorTextNeverInSuccess) {
  for (const FaultCase& c : FAULTS) {
    SCOPED_TRACE(c.name);
    session.kernel.nodes[unitIndex] = test::unitNode("/sys/b", "/dev/hidraw4");
    output = Output{};
    spoil = c.spoil;
    spoilAtBlock = 500;
    EXPECT_EQ(run({"update", "--yes"}), EXIT_FAILED);
    EXPECT_NE(output.err.find(messageText(MSG_BLOCK_FAILED) + "\n" +
                              codeLine(c.errorValue, c.systemError) + "\n"),
              std::string::npos)
        << output.err;
    EXPECT_EQ(output.out.find(messageText(MSG_UPDATE_SUCCEEDED)), std::string::npos);
    EXPECT_LE(elapsedMicroseconds(), c.atMostMicroseconds);
    EXPECT_EQ(openFiles(session.kernel), 0u);
  }
}

}  // namespace
}  // namespace esc::cli
