// The update verb: the window's update sequence (runUpdate) with its questions on the
// terminal, its progress as a bar or as lines, and its outcome as the window shows it.
#include <algorithm>
#include <cctype>

#include "device/hid_platform.h"
#include "resources/message_ids.h"
#include "ui/cli/cli_program.h"
#include "ui/cli/cli_session.h"
#include "ui/cli/cli_text.h"
#include "ui/texts.h"
#include "updater/run_update.h"

namespace esc::cli {
namespace {

using nlohmann::json;

// Pauses are slept in slices of this length, so that an interruption is answered within
// it even during the long pause after the erase.
constexpr std::uint64_t INTERRUPT_CHECK_MICROSECONDS = 50000;
constexpr std::size_t BAR_WIDTH = 30;
// Narrower than this, the bar gives up the time left, and then itself.
constexpr std::size_t MIN_BAR_WIDTH = 10;
// The first seconds say little about the rate: the time left is shown after them.
constexpr std::uint64_t ESTIMATE_AFTER_MICROSECONDS = 3000000;
// The error text, its CR LF and the code line: well within two message buffers.
constexpr std::size_t ERROR_TEXT_UNITS = 2 * MESSAGE_BUFFER_UNITS;

enum class End { None, Failed, Succeeded, Refused };

struct UpdateRun {
  UpdateRun(const Session& runSession, HidLink& runLink, UpdateTarget& runTarget)
      : session(runSession), link(runLink), target(runTarget) {}

  const Session& session;
  HidLink& link;
  UpdateTarget& target;
  bool sequenceStarted = false;
  bool noticeShown = false;
  End end = End::None;
  Ending refusedEnding = Ending::Unsupported;
  json outcome = json::object();
  // Progress.
  int lastPercent = -1;
  std::uint64_t progressStart = 0;
  std::string left;  // the time left, estimated when the percentage last changed
  std::string drawn;
  std::uint32_t drawnColumns = 0;
  bool barShown = false;
};

UpdateRun& runOf(void* context) { return *static_cast<UpdateRun*>(context); }

bool human(const UpdateRun& run) { return !run.session.arguments.json; }

bool isYes(std::string answer) {
  answer.erase(answer.begin(), std::find_if(answer.begin(), answer.end(),
                                            [](unsigned char c) { return !std::isspace(c); }));
  while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back()))) {
    answer.pop_back();
  }
  std::transform(answer.begin(), answer.end(), answer.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  // Both languages' words are taken whatever the language of the prompt.
  return answer == "y" || answer == "yes" || answer == "j" || answer == "ja";
}

bool ask(void* context, Question, const char16_t* caption, const char16_t* text) {
  UpdateRun& run = runOf(context);
  const Session& session = run.session;
  if (!human(run)) {
    return true;  // --json requires --yes
  }
  // Questions are for the person at the terminal, not for the results.
  session.line(Stream::Err, "");
  session.line(Stream::Err, toUtf8(caption));
  session.line(Stream::Err, toUtf8(text));
  const std::string prompt = messageText(MSG_CLI_CONTINUE_PROMPT) + " ";
  if (session.arguments.assumeYes) {
    session.line(Stream::Err, prompt + "y");
    return true;
  }
  session.write(Stream::Err, prompt);
  std::string answer;
  const Console& console = session.environment.console;
  if (!console.readLine(console.context, answer)) {
    session.line(Stream::Err, "");
    return false;
  }
  return isYes(answer);
}

// A bar goes to the terminal on standard error; without one, the title and a line per
// percent go to standard output with the results.
bool barOnTerminal(const UpdateRun& run) { return run.session.environment.console.errorIsTerminal; }

std::uint32_t terminalColumns(const UpdateRun& run) {
  const Console& console = run.session.environment.console;
  return console.columns != nullptr ? console.columns(console.context) : 0;
}

void progressOpen(void* context, const char16_t* title) {
  UpdateRun& run = runOf(context);
  run.lastPercent = -1;
  run.left.clear();
  run.drawn.clear();
  run.barShown = false;
  run.progressStart = run.session.now();
  if (human(run)) {
    run.session.line(barOnTerminal(run) ? Stream::Err : Stream::Out, toUtf8(title));
  }
}

std::string timeLeft(const UpdateRun& run, std::uint32_t percent) {
  const std::uint64_t elapsed = run.session.now() - run.progressStart;
  if (percent == 0 || percent >= 100 || elapsed < ESTIMATE_AFTER_MICROSECONDS) {
    return std::string();
  }
  const std::uint64_t left = (elapsed * (100 - percent) / percent + 999999) / 1000000;
  const FormatArgument arguments[] = {numberArgument(static_cast<std::uint32_t>(left / 60)),
                                      numberArgument(static_cast<std::uint32_t>(left % 60))};
  return formattedMessage(MSG_CLI_TIME_LEFT, arguments, 2);
}

// Characters a terminal shows for UTF-8 text (every character of the catalogue is one
// column wide).
std::size_t shownWidth(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// Estimated only as the percentage changes: in between, the time since the last change
// would make the estimate climb until the next one.
void estimate(UpdateRun& run, std::uint32_t percent) {
  if (static_cast<int>(percent) != run.lastPercent) {
    run.left = timeLeft(run, percent);
  }
}

// The bar within `columns` - 1 characters (text up to the last column makes some terminals
// wrap): it narrows first, then drops the time left, then leaves the percentage alone.
std::string barText(const UpdateRun& run, std::uint32_t percent, std::uint32_t columns) {
  const std::string number = std::to_string(percent);
  const std::string figure =
      std::string(3 - std::min<std::size_t>(3, number.size()), ' ') + number + " %";
  const std::string& left = run.left;
  const std::size_t limit = columns == 0 ? SIZE_MAX : columns - 1;
  std::string tail = left.empty() ? figure : figure + "  " + left;
  const auto room = [&] {
    const std::size_t used = shownWidth(tail) + 3;  // "[", "] " around the bar
    return limit > used ? std::min(BAR_WIDTH, limit - used) : 0;
  };
  if (room() < MIN_BAR_WIDTH) {
    tail = figure;
  }
  const std::size_t width = room();
  if (width < MIN_BAR_WIDTH) {
    return figure;
  }
  const std::size_t filled = percent * width / 100;
  return "[" + std::string(filled, '#') + std::string(width - filled, '-') + "] " + tail;
}

// A terminal gets one bar, redrawn in place when its text or the terminal's width changes;
// a file or pipe gets a line per percent.
void progressSet(void* context, std::uint32_t position) {
  UpdateRun& run = runOf(context);
  const Session& session = run.session;
  const int percent = static_cast<int>(std::min<std::uint32_t>(position, 100));
  if (!human(run)) {
    if (percent != run.lastPercent) {
      session.json({{"event", "progress"}, {"percent", percent}});
    }
  } else if (barOnTerminal(run)) {
    estimate(run, static_cast<std::uint32_t>(percent));
    const std::uint32_t columns = terminalColumns(run);
    const std::string text = barText(run, static_cast<std::uint32_t>(percent), columns);
    if (columns != run.drawnColumns && run.barShown) {
      // The old bar may be wider than the terminal now: the line is cleared, not padded.
      session.write(Stream::Err, "\r\x1b[K" + text);
    } else if (text != run.drawn) {
      const std::size_t pad = run.drawn.size() > text.size() ? run.drawn.size() - text.size() : 0;
      session.write(Stream::Err, "\r" + text + std::string(pad, ' '));
    }
    run.drawn = text;
    run.drawnColumns = columns;
    run.barShown = true;
  } else if (percent != run.lastPercent) {
    session.line(Stream::Out, std::to_string(percent) + " %");
  }
  run.lastPercent = percent;
}

void progressClose(void* context) {
  UpdateRun& run = runOf(context);
  if (run.barShown) {
    run.session.write(Stream::Err, "\n");
    run.barShown = false;
  }
}

void reportError(void* context, const char16_t* message, const char16_t* caption,
                 std::int32_t errorValue, std::uint32_t systemError) {
  UpdateRun& run = runOf(context);
  char16_t codeLine[MESSAGE_BUFFER_UNITS];
  char16_t text[ERROR_TEXT_UNITS];
  loadMessage(MSG_ERROR_CODE_LINE, codeLine);
  composeErrorText(message, codeLine, errorValue, systemError, text, ERROR_TEXT_UNITS);
  const std::string notice = messageText(MSG_UPDATE_FAILED_NOTICE);
  run.end = End::Failed;
  run.outcome["caption"] = toUtf8(caption);
  run.outcome["message"] = toUtf8(text);
  run.outcome["errorValue"] = errorValue;
  run.outcome["systemError"] = systemError;
  run.outcome["status"] = notice;
  if (human(run)) {
    const Session& session = run.session;
    session.line(Stream::Err, "");
    session.line(Stream::Err, toUtf8(caption));
    session.line(Stream::Err, toUtf8(text));
    session.line(Stream::Err, "");
    session.line(Stream::Err, notice);
  }
}

void succeeded(void* context) {
  UpdateRun& run = runOf(context);
  run.end = End::Succeeded;
  const std::array<VersionRow, 3> rows = versionRows(run.link);
  const std::string text = messageText(MSG_UPDATE_SUCCEEDED);
  run.outcome["rows"] = rowsJson(rows);
  run.outcome["message"] = text;
  if (human(run)) {
    run.session.line(Stream::Out, "");
    printRows(run.session, rows);
    run.session.line(Stream::Out, "");
    run.session.line(Stream::Out, text);
  }
}

// The link holds a controller this build does not update: tell what detection tells.
void refused(void* context) {
  UpdateRun& run = runOf(context);
  run.end = End::Refused;
  const DetectionOutcome outcome = classifyOpenUnit(run.link, run.target);
  run.outcome["outcome"] = outcomeName(outcome);
  if (!keepsLinkOpen(outcome)) {
    close(run.link);
  }
  run.refusedEnding = reportNotUpdatable(run.session, outcome, run.outcome);
}

void sequenceStarts(void* context) {
  UpdateRun& run = runOf(context);
  run.sequenceStarted = true;
  const Interruption& interruption = run.session.environment.interruption;
  interruption.enterPhase(interruption.context, Phase::Writing);
}

// The first interruption during the sequence is answered with the notice, once.
void noticeInterruption(UpdateRun& run) {
  const Interruption& interruption = run.session.environment.interruption;
  if (run.noticeShown || !interruption.requested(interruption.context)) {
    return;
  }
  run.noticeShown = true;
  const std::string notice = messageText(MSG_CLI_INTERRUPT_DEFERRED);
  if (human(run)) {
    run.session.line(Stream::Err, (run.barShown ? "\n" : "") + notice);
    run.drawn.clear();
  } else {
    run.session.json({{"event", "notice"}, {"message", notice}});
  }
}

void waitUntil(void* context, std::uint64_t deadlineMicroseconds) {
  UpdateRun& run = runOf(context);
  const HidPlatform& platform = hidPlatform();
  for (;;) {
    noticeInterruption(run);
    const std::uint64_t now = platform.nowMicroseconds(platform.context);
    if (now >= deadlineMicroseconds) {
      return;
    }
    platform.sleepUntil(platform.context,
                        std::min(deadlineMicroseconds, now + INTERRUPT_CHECK_MICROSECONDS));
  }
}

const UpdatePort CLI_UPDATE_PORT = {
    nullptr,     ask,       progressOpen, progressSet,    progressClose,
    reportError, succeeded, refused,      sequenceStarts, waitUntil,
};

int finishUpdate(UpdateRun& run, const ImageLoader loadImage) {
  const Session& session = run.session;
  // An interruption after the last pause still gets its notice before the outcome.
  noticeInterruption(run);
  Ending ending = Ending::Declined;
  switch (run.end) {
    case End::Succeeded:
      ending = Ending::Succeeded;
      break;
    case End::Failed: {
      // A failure before the lock request sent nothing: the image for this controller is
      // not in this build (the link was open when the update began).
      const bool imageMissing =
          !run.sequenceStarted && loadImage(selectFirmwareImage(run.target)).data == nullptr;
      ending = imageMissing ? Ending::Unsupported : Ending::Failed;
      break;
    }
    case End::Refused:
      ending = run.refusedEnding;
      break;
    case End::None: {
      const std::string text = messageText(MSG_CLI_CANCELLED);
      run.outcome["message"] = text;
      if (human(run)) session.line(Stream::Err, text);
      break;
    }
  }
  const Interruption& interruption = session.environment.interruption;
  const bool interrupted = interruption.requested(interruption.context);
  // The result tells what became of the ESC; the status says interrupted only when the ESC
  // is whole: a failed update stays a failure, whatever arrived meanwhile.
  const int status =
      exitStatus(interrupted && ending != Ending::Failed ? Ending::Interrupted : ending);
  if (!human(run)) {
    json line = outcomeJson(ending, status, interrupted);
    line.update(run.outcome);
    session.json(line);
  }
  return status;
}

}  // namespace

int updateVerb(const Session& session) {
  const CliArguments& arguments = session.arguments;
  if (arguments.json && !arguments.assumeYes) {
    session.line(Stream::Err, "escupdate: update --json asks no questions: give --yes as well");
    return EXIT_USAGE;
  }
  if (!arguments.assumeYes && !session.environment.console.inputIsTerminal) {
    session.line(Stream::Err,
                 "escupdate: update: standard input is no terminal to answer the questions on; "
                 "give --yes to answer them with yes");
    return EXIT_USAGE;
  }
  HidLink link;
  UpdateTarget target{};
  const Detection detection = detectUnit(session, link, target);
  if (detection.unusable.problem != UnitProblem::None) {
    return reportUnusable(session, detection.unusable);
  }
  if (detection.outcome != DetectionOutcome::Supported) {
    json fields = {{"event", "outcome"}, {"outcome", outcomeName(detection.outcome)}};
    const Ending ending = reportNotUpdatable(session, detection.outcome, fields);
    const int status = exitStatus(ending);
    close(link);
    if (arguments.json) {
      fields.update(outcomeJson(ending, status, false));
      session.json(fields);
    }
    return status;
  }
  if (!arguments.json) {
    session.line(Stream::Out, unitLine(detection.path, detection.productId));
    printRows(session, versionRows(link));
  }
  UpdateRun run{session, link, target};
  UpdatePort port = CLI_UPDATE_PORT;
  port.context = &run;
  runUpdate(link, target, port, session.environment.loadImage);
  const Interruption& interruption = session.environment.interruption;
  interruption.enterPhase(interruption.context, Phase::Finished);
  const int status = finishUpdate(run, session.environment.loadImage);
  close(link);
  return status;
}

}  // namespace esc::cli
