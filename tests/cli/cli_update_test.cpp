// escupdate update on the emulated unit: the window's sequence, questions, texts and
// outcomes, and what an interruption does while the firmware is written.
#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>

#include "resources/message_ids.h"
#include "tests/cli/cli_session.h"

namespace esc::cli::test {
namespace {

using nlohmann::json;

constexpr std::uint16_t IMAGE_OF_DEFAULT_MODEL = 157;

std::vector<json> jsonLines(const std::string& out) {
  std::vector<json> lines;
  std::istringstream stream(out);
  for (std::string line; std::getline(stream, line);) {
    lines.push_back(json::parse(line));
  }
  return lines;
}

bool flashHoldsImage(const sim::Device& unit, std::uint16_t imageId) {
  const FirmwareImage image = loadFirmwareImage(imageId);
  const std::vector<std::uint8_t> flash = sim::writtenFirmware(unit);
  return image.data != nullptr &&
         flash == std::vector<std::uint8_t>(image.data, image.data + image.size);
}

TEST_F(CliRun, UpdateWritesTheImageByteForByteAndEndsWithTheSuccessText) {
  EXPECT_EQ(run({"update", "--yes"}), EXIT_OK);
  EXPECT_TRUE(flashHoldsImage(unit(), IMAGE_OF_DEFAULT_MODEL));
  EXPECT_EQ(unit().bootloader.erases, 1u);
  // The question goes where the person is, the results where they were sent.
  EXPECT_EQ(recording.err, "\n" + text(MSG_CONFIRM_CAPTION) + "\n" + text(MSG_CONFIRM) + "\n" +
                               text(MSG_CLI_CONTINUE_PROMPT) + " y\n");
  EXPECT_FALSE(contains(recording.out, text(MSG_CONFIRM)));
  EXPECT_TRUE(contains(recording.out, text(MSG_PROGRESS_TITLE) + "\n"));
  // The rows as the window shows them after the update, then the success text.
  EXPECT_TRUE(contains(recording.out, "TUNEPUCK: 1.2.3\nESC-bootloader: 1.2\nESC: 1.1\n\n" +
                                          text(MSG_UPDATE_SUCCEEDED) + "\n"));
  EXPECT_EQ(recording.phases, (std::vector<Phase>{Phase::Writing, Phase::Finished}));
  // Restore and release close the sequence.
  const std::vector<std::uint8_t> sentList = commands();
  ASSERT_GE(sentList.size(), 2u);
  EXPECT_EQ(sentList[sentList.size() - 2], CMD_WRITE_PROTECT);
  EXPECT_EQ(sentList.back(), CMD_SYSTEM_LOCK);
}

TEST_F(CliRun, UpdateIsPacedLikeTheProduct) {
  ASSERT_EQ(run({"update", "--yes"}), EXIT_OK);
  // The mandated waits of a 90256-byte image; the emulated unit answers in no time, and
  // the command line's sliced pauses must add nothing to them.
  EXPECT_EQ(sim::nowMicroseconds(simulation->bus), 42700000u);
}

TEST_F(CliRun, ProgressOnAFileIsOneLinePerPercentFromZeroToHundred) {
  ASSERT_EQ(run({"update", "--yes"}), EXIT_OK);
  std::string expected = text(MSG_PROGRESS_TITLE) + "\n";
  for (int percent = 0; percent <= 100; ++percent) {
    expected += std::to_string(percent) + " %\n";
  }
  EXPECT_TRUE(contains(recording.out, expected));
  EXPECT_EQ(recording.out.find('\r'), std::string::npos);
}

// The bar's draws on standard error: the text between one carriage return and the next.
std::vector<std::string> barDraws(const std::string& err) {
  std::vector<std::string> draws;
  const std::size_t first = err.find('\r');
  if (first == std::string::npos) return draws;
  const std::size_t end = err.find('\n', first);
  std::istringstream bar(err.substr(first + 1, end - first - 1));
  for (std::string draw; std::getline(bar, draw, '\r');) draws.push_back(draw);
  return draws;
}

TEST_F(CliRun, ProgressOnATerminalIsOneBarRedrawnOnlyWhenItChanges) {
  recording.errorIsTerminal = true;
  ASSERT_EQ(run({"update", "--yes"}), EXIT_OK);
  EXPECT_FALSE(contains(recording.out, "%"));
  EXPECT_FALSE(contains(recording.out, text(MSG_PROGRESS_TITLE)));
  const std::vector<std::string> draws = barDraws(recording.err);
  ASSERT_GE(draws.size(), 2u);
  for (std::size_t i = 1; i < draws.size(); ++i) {
    EXPECT_NE(draws[i], draws[i - 1]) << "redrawn unchanged at " << i;
  }
  EXPECT_EQ(draws.front().rfind("[------------------------------]   0 %", 0), 0u) << draws.front();
  EXPECT_EQ(draws.back().rfind("[##############################] 100 %", 0), 0u) << draws.back();
  // Redrawn for a new percentage or a new time left, far fewer times than the 1882
  // positions it was given.
  EXPECT_LE(draws.size(), 400u);
}

struct WidthCase {
  std::uint32_t columns;
  std::size_t barAtTheEnd;  // the bar's width at 100 %; 0: no bar, the percentage alone
};

// Up to the last column, a redraw would wrap onto a new line every time.
const WidthCase WIDTHS[] = {{80, 30}, {45, 30}, {30, 21}, {16, 0}, {8, 0}};

TEST_F(CliRun, TheBarFitsTheTerminalsWidth) {
  for (const WidthCase& c : WIDTHS) {
    SCOPED_TRACE(c.columns);
    recording = Recording{};
    recording.errorIsTerminal = true;
    recording.columns = {c.columns};
    ASSERT_EQ(run({"update", "--yes"}), EXIT_OK);
    const std::vector<std::string> draws = barDraws(recording.err);
    ASSERT_FALSE(draws.empty());
    for (const std::string& draw : draws) {
      EXPECT_LT(draw.size(), c.columns) << draw;
    }
    const std::string end =
        c.barAtTheEnd == 0 ? "100 %" : "[" + std::string(c.barAtTheEnd, '#') + "] 100 %";
    EXPECT_EQ(draws.back().substr(0, end.size()), end);
  }
}

TEST_F(CliRun, TheBarIsRedrawnToTheNewWidthWhenTheTerminalIsResized) {
  recording.errorIsTerminal = true;
  recording.columns = std::vector<std::uint32_t>(400, 80);
  recording.columns.push_back(40);
  ASSERT_EQ(run({"update", "--yes"}), EXIT_OK);
  const std::vector<std::string> draws = barDraws(recording.err);
  std::size_t cleared = 0;
  for (std::size_t i = 0; i < draws.size(); ++i) {
    if (draws[i].rfind("\x1b[K", 0) == 0) {
      cleared = i;
      break;
    }
  }
  ASSERT_NE(cleared, 0u) << "no redraw for the new width";
  for (std::size_t i = cleared; i < draws.size(); ++i) {
    const std::size_t shown = draws[i].size() - (i == cleared ? 3 : 0);
    EXPECT_LT(shown, 40u) << draws[i];
  }
  EXPECT_GE(draws[cleared - 1].size(), 40u);
}

// Seconds of "M:SS left" in a draw, or -1.
int secondsLeft(const std::string& draw) {
  const std::size_t at = draw.find(" left");
  const std::size_t colon = draw.rfind(':', at);
  if (at == std::string::npos || colon == std::string::npos) return -1;
  const std::size_t start = draw.rfind(' ', colon) + 1;
  return std::stoi(draw.substr(start, colon - start)) * 60 + std::stoi(draw.substr(colon + 1, 2));
}

// A steady unit gives a steady estimate: none in the first seconds, then one that only
// counts down (by the time that passed, give or take a second).
TEST_F(CliRun, TheTimeLeftDoesNotJump) {
  recording.errorIsTerminal = true;
  ASSERT_EQ(run({"update", "--yes"}), EXIT_OK);
  const std::vector<std::string> draws = barDraws(recording.err);
  int previous = -1;
  std::size_t estimates = 0;
  for (const std::string& draw : draws) {
    const int left = secondsLeft(draw);
    const int percent = std::stoi(draw.substr(draw.find(']') + 1));
    if (percent < 7) {
      EXPECT_EQ(left, -1) << draw;
    }
    if (left < 0) continue;
    ++estimates;
    if (previous >= 0) {
      EXPECT_LE(left, previous + 1) << draw;
    }
    previous = left;
  }
  EXPECT_GE(estimates, 80u);
}

struct AnswerCase {
  std::vector<std::string> answers;
  bool updated;
  std::size_t questions;
};

// The confirmation, then the version question (the ESC already has 1.1).
const AnswerCase ANSWERS[] = {
    {{"y", "y"}, true, 2},  {{"Y", "yes"}, true, 2}, {{" j ", "JA"}, true, 2},
    {{"n"}, false, 1},      {{""}, false, 1},        {{"nein"}, false, 1},
    {{"y", "n"}, false, 2}, {{"y", "x"}, false, 2},  {{"y"}, false, 2},
    {{}, false, 1},
};

TEST_F(CliRun, QuestionsOnTheTerminalGoOnOnlyForYes) {
  for (const AnswerCase& c : ANSWERS) {
    SCOPED_TRACE(testing::PrintToString(c.answers));
    recording = Recording{};
    recording.inputIsTerminal = true;
    recording.answers = c.answers;
    const int status = run({"update"}, "esc-version=1.1");
    EXPECT_EQ(status, c.updated ? EXIT_OK : EXIT_DECLINED);
    EXPECT_EQ(sent(CMD_SYSTEM_LOCK), c.updated);
    EXPECT_EQ(unit().bootloader.erases, c.updated ? 1u : 0u);
    const bool versionAsked = contains(
        recording.err, text(MSG_OLDER_FIRMWARE_CAPTION) + "\n" + text(MSG_OLDER_FIRMWARE) + "\n");
    EXPECT_EQ(versionAsked, c.questions == 2);
    EXPECT_EQ(contains(recording.err, text(MSG_CLI_CANCELLED)), !c.updated);
    const bool wrote = std::find(recording.phases.begin(), recording.phases.end(),
                                 Phase::Writing) != recording.phases.end();
    EXPECT_EQ(wrote, c.updated);
  }
}

TEST_F(CliRun, OlderInstalledFirmwareAsksOnlyTheConfirmation) {
  recording.inputIsTerminal = true;
  recording.answers = {"y"};
  EXPECT_EQ(run({"update"}, "esc-version=1.0"), EXIT_OK);
  EXPECT_FALSE(contains(recording.err, text(MSG_OLDER_FIRMWARE)));
}

TEST_F(CliRun, WithoutATerminalOrYesUpdateRefusesBeforeTouchingTheBus) {
  EXPECT_EQ(run({"update"}), EXIT_USAGE);
  EXPECT_TRUE(contains(recording.err, "--yes"));
  EXPECT_TRUE(simulation->bus.log.empty());
  recording = Recording{};
  recording.inputIsTerminal = true;
  EXPECT_EQ(run({"update", "--json"}), EXIT_USAGE);
  EXPECT_TRUE(simulation->bus.log.empty());
  EXPECT_EQ(recording.out, "");
}

struct FailureCase {
  const char* fault;
  MessageId message;
  const char* codeLine;
  std::uint8_t lastCommand;  // the last request the unit received: the failing one
};

const FailureCase FAILURES[] = {
    {"fault=lock-refused", MSG_LOCK_FAILED, "0x0000065b-0x00000000", CMD_SYSTEM_LOCK},
    {"fault=no-answer", MSG_LOCK_FAILED, "0xfffffffd-0x000005b4", CMD_SYSTEM_LOCK},
    {"fault=unlock-status", MSG_UNLOCK_FAILED, "0x00000004-0x00000000", CMD_WRITE_PROTECT},
    {"fault=erase-status:0x8000002A", MSG_ERASE_FAILED, "0x8000002a-0x00000000", CMD_ERASE},
    {"fault=address-status", MSG_ADDRESS_FAILED, "0x00000006-0x00000000", CMD_SET_ADDRESS},
    {"fault=block:3", MSG_BLOCK_FAILED, "0x00000007-0x00000000", CMD_WRITE_BLOCK},
    // The write of block 1000 fails, so block 999 is the last the unit received.
    {"fault=unplug:1000", MSG_BLOCK_FAILED, "0xfffffffe-0x0000048f", CMD_WRITE_BLOCK},
};

TEST_F(CliRun, AFailedStepEndsWithTheErrorBoxTextItsCodeLineAndTheNotice) {
  for (const FailureCase& c : FAILURES) {
    SCOPED_TRACE(c.fault);
    recording = Recording{};
    EXPECT_EQ(run({"update", "--yes"}, c.fault), EXIT_FAILED);
    const std::string expected = text(MSG_UPDATE_FAILED_CAPTION) + "\n" + text(c.message) +
                                 "\nThe system shows following errorcode: " + c.codeLine + "\n\n" +
                                 text(MSG_UPDATE_FAILED_NOTICE) + "\n";
    EXPECT_TRUE(contains(recording.err, expected)) << recording.err;
    EXPECT_FALSE(contains(recording.out, text(MSG_UPDATE_SUCCEEDED)));
    // Neither closing command follows a failure.
    const std::vector<std::uint8_t> sentList = commands();
    EXPECT_EQ(sentList.back(), c.lastCommand);
    EXPECT_EQ(std::count(sentList.begin(), sentList.end(), CMD_SYSTEM_LOCK), 1);
  }
}

TEST_F(CliRun, NoImageForTheControllerWritesNothingAndSaysSo) {
  EXPECT_EQ(run({"update", "--yes"}, "", noImage), EXIT_UNSUPPORTED);
  EXPECT_TRUE(contains(recording.err,
                       text(MSG_UPDATE_FAILED_CAPTION) + "\n" + text(MSG_IMAGE_MISSING) + "\n\n"));
  // The message stands alone, as in the window: no code line.
  EXPECT_FALSE(contains(recording.err, "errorcode"));
  EXPECT_FALSE(sent(CMD_SYSTEM_LOCK));
  EXPECT_TRUE(recording.phases.empty() || recording.phases.front() != Phase::Writing);
}

struct NotUpdatableCase {
  const char* settings;
  int status;
  std::vector<MessageId> shown;  // in this order on standard error
};

const NotUpdatableCase NOT_UPDATABLE[] = {
    {"plugged=0", EXIT_NO_UNIT, {MSG_NO_UNIT, MSG_CLI_INSTRUCTIONS}},
    {"wrong-mode=1", EXIT_NO_UNIT, {MSG_WRONG_MODE, MSG_CLI_INSTRUCTIONS}},
    {"esc-status=2", EXIT_NO_UNIT, {MSG_NO_UPDATABLE_ESC, MSG_CLI_INSTRUCTIONS}},
    {"product-id=3", EXIT_NO_UNIT, {MSG_NO_UNIT, MSG_CLI_INSTRUCTIONS}},
    {"fault=ident-lost", EXIT_NO_UNIT, {MSG_NO_UNIT, MSG_CLI_INSTRUCTIONS}},
    {"model=0x12345678",
     EXIT_UNSUPPORTED,
     {MSG_INCOMPATIBLE_CAPTION, MSG_INCOMPATIBLE_HEADING, MSG_CLI_INSTRUCTIONS}},
    {"model=0x0A0640AA", EXIT_UNSUPPORTED, {MSG_CLI_NO_TARGET}},
};

TEST_F(CliRun, AUnitThatCannotBeUpdatedGetsTheWindowsTextsAndNothingIsWritten) {
  for (const NotUpdatableCase& c : NOT_UPDATABLE) {
    SCOPED_TRACE(c.settings);
    recording = Recording{};
    EXPECT_EQ(run({"update", "--yes"}, c.settings), c.status);
    std::size_t at = 0;
    for (const MessageId id : c.shown) {
      const std::size_t found = recording.err.find(text(id), at);
      EXPECT_NE(found, std::string::npos) << id;
      at = found == std::string::npos ? at : found;
    }
    EXPECT_FALSE(sent(CMD_SYSTEM_LOCK));
    EXPECT_FALSE(contains(recording.err, text(MSG_CONFIRM)));
  }
}

TEST_F(CliRun, TheIncompatibilityBoxNamesTheSupportedType) {
  run({"update", "--yes"}, "model=0x12345678");
  EXPECT_TRUE(contains(recording.err, "the type 'TESSARO HVI'. Other models"));
}

TEST_F(CliRun, JsonUpdateIsProgressLinesThenOneOutcome) {
  ASSERT_EQ(run({"update", "--yes", "--json"}), EXIT_OK);
  const std::vector<json> lines = jsonLines(recording.out);
  ASSERT_EQ(lines.size(), 102u);
  for (int percent = 0; percent <= 100; ++percent) {
    EXPECT_EQ(lines[static_cast<std::size_t>(percent)],
              (json{{"event", "progress"}, {"percent", percent}}));
  }
  const json& outcome = lines.back();
  EXPECT_EQ(outcome["event"], "outcome");
  EXPECT_EQ(outcome["result"], "succeeded");
  EXPECT_EQ(outcome["exitCode"], 0);
  EXPECT_EQ(outcome["interrupted"], false);
  EXPECT_EQ(outcome["rows"][2]["version"], "1.1");
  EXPECT_EQ(recording.err, "");
}

TEST_F(CliRun, JsonFailureCarriesTheBoxTextWithItsCodeLineAndTheValues) {
  ASSERT_EQ(run({"update", "--yes", "--json"}, "fault=block:3:0x8000002A"), EXIT_FAILED);
  const json outcome = jsonLines(recording.out).back();
  EXPECT_EQ(outcome["result"], "failed");
  EXPECT_EQ(outcome["exitCode"], EXIT_FAILED);
  EXPECT_EQ(outcome["caption"], text(MSG_UPDATE_FAILED_CAPTION));
  EXPECT_EQ(
      outcome["message"],
      text(MSG_BLOCK_FAILED) + "\nThe system shows following errorcode: 0x8000002a-0x00000000");
  EXPECT_EQ(outcome["errorValue"], static_cast<std::int32_t>(0x8000002A));
  EXPECT_EQ(outcome["status"], text(MSG_UPDATE_FAILED_NOTICE));
}

TEST_F(CliRun, JsonOutcomeOfAnUnsupportedEsc) {
  ASSERT_EQ(run({"update", "--yes", "--json"}, "model=0x12345678"), EXIT_UNSUPPORTED);
  const std::vector<json> lines = jsonLines(recording.out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["result"], "unsupported");
  EXPECT_EQ(lines[0]["outcome"], "incompatible");
  EXPECT_EQ(lines[0]["heading"]["id"], MSG_INCOMPATIBLE_HEADING);
}

TEST_F(CliRun, GermanLocaleGivesTheGermanTextsAndCodeLine) {
  setMessageLanguage(Language::German);
  EXPECT_EQ(run({"update", "--yes"}, "fault=lock-refused"), EXIT_FAILED);
  EXPECT_TRUE(contains(recording.err, "Wichtiger Hinweis\nWICHTIG: Den Updatevorgang NICHT"));
  EXPECT_TRUE(contains(recording.out, "Regler-Bootloader: 1.2\nRegler: 1.0\n"));
  EXPECT_TRUE(contains(recording.err,
                       "Update fehlgeschlagen!\nSystem-Lock der Programmiereinheit "
                       "konnte nicht gesetzt werden. Das Update wird abgebrochen.\n"
                       "Das System meldet Fehlercode 0x0000065b-0x00000000\n"));
}

TEST_F(CliRun, AnInterruptionDuringTheBlocksIsNotedOnceAndTheUpdateFinishes) {
  recording.interruptAtBlock = 100;
  EXPECT_EQ(run({"update", "--yes"}), EXIT_INTERRUPTED);
  EXPECT_TRUE(flashHoldsImage(unit(), IMAGE_OF_DEFAULT_MODEL));
  const std::string notice = text(MSG_CLI_INTERRUPT_DEFERRED);
  const std::size_t first = recording.err.find(notice);
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(recording.err.find(notice, first + 1), std::string::npos);
  EXPECT_TRUE(contains(recording.out, text(MSG_UPDATE_SUCCEEDED)));
  EXPECT_EQ(commands().back(), CMD_SYSTEM_LOCK);
}

TEST_F(CliRun, AnInterruptionDuringAFailingUpdateStillReportsTheFailure) {
  recording.interruptAtBlock = 100;
  // The ESC is left without whole firmware: that is a failure, whatever else happened.
  EXPECT_EQ(run({"update", "--yes", "--json"}, "fault=block:500"), EXIT_FAILED);
  const std::vector<json> lines = jsonLines(recording.out);
  std::size_t notices = 0;
  for (const json& line : lines) notices += line["event"] == "notice" ? 1u : 0u;
  EXPECT_EQ(notices, 1u);
  EXPECT_EQ(lines.back()["result"], "failed");
  EXPECT_EQ(lines.back()["interrupted"], true);
  EXPECT_EQ(lines.back()["exitCode"], EXIT_FAILED);
  // The unit wrote block 500 and answered it with the status; nothing followed.
  EXPECT_EQ(unit().bootloader.blocksWritten, 500u);
}

TEST_F(CliRun, WaitFindsAUnitPluggedInLater) {
  EXPECT_EQ(run({"update", "--yes", "--wait=10"}, "plug-after=2500"), EXIT_OK);
  EXPECT_TRUE(contains(recording.err, text(MSG_CLI_WAITING) + "\n"));
  EXPECT_TRUE(flashHoldsImage(unit(), IMAGE_OF_DEFAULT_MODEL));
  // Found within a rescan interval of its arrival, then the update's own 42.7 s.
  EXPECT_GE(sim::nowMicroseconds(simulation->bus), 2500000u + 42700000u);
  EXPECT_LE(sim::nowMicroseconds(simulation->bus), 3000000u + 42700000u);
}

TEST_F(CliRun, WaitGivesUpAtItsLimit) {
  EXPECT_EQ(run({"info", "--wait=3"}, "plug-after=5000"), EXIT_NO_UNIT);
  EXPECT_GE(sim::nowMicroseconds(simulation->bus), 3000000u);
  EXPECT_LE(sim::nowMicroseconds(simulation->bus), 3500000u);
  EXPECT_TRUE(contains(recording.err, text(MSG_NO_UNIT)));
}

}  // namespace
}  // namespace esc::cli::test
