#include "ui/cli/cli_program.h"

#include <algorithm>
#include <vector>

#include "device/hid_platform.h"
#include "resources/message_ids.h"
#include "resources/updater_version.h"
#include "ui/cli/cli_session.h"
#include "ui/cli/cli_text.h"
#include "ui/cli/shown_argument.h"
#include "ui/cli/unit_discovery.h"
#include "ui/texts.h"

namespace esc::cli {
namespace {

using nlohmann::json;

// How often a wait without notifications looks for the unit again, and the longest a
// wait with notifications goes without looking (an event may be missed).
constexpr std::uint32_t RESCAN_MS = 500;

// Heading, blank line and instructions: each part fits one message buffer.
constexpr std::size_t PANEL_TEXT_UNITS = 2 * MESSAGE_BUFFER_UNITS + 4;

std::string versionText(void (*format)(std::uint32_t, char16_t (&)[VERSION_TEXT_UNITS]),
                        std::uint32_t version) {
  char16_t text[VERSION_TEXT_UNITS];
  format(version, text);
  return toUtf8(text);
}

std::string hexText(std::uint32_t value) {
  static const char DIGITS[] = "0123456789abcdef";
  std::string text = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) {
    text += DIGITS[(value >> shift) & 0xFu];
  }
  return text;
}

// Waits for a change on the bus (or the rescan interval), within the --wait limit. False
// once the limit has passed.
bool waitForChange(const Session& session, std::uint64_t deadline) {
  const std::uint64_t now = session.now();
  std::uint32_t timeoutMs = RESCAN_MS;
  if (session.arguments.waitSeconds != 0) {
    if (now >= deadline) {
      return false;
    }
    timeoutMs = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(RESCAN_MS, (deadline - now + 999) / 1000));
  }
  const HotplugSource& hotplug = session.environment.hotplug;
  hotplug.waitForChange(hotplug.context, timeoutMs);
  return true;
}

// Calls `look` until it finds what it looks for; with --wait it looks again after every
// device change until the wait's limit, otherwise once.
template <typename Look>
bool lookFor(const Session& session, Look look) {
  if (!session.waitStarted) {
    session.waitStarted = true;
    session.waitDeadline = session.now() + std::uint64_t{session.arguments.waitSeconds} * 1000000u;
  }
  if (look()) {
    return true;
  }
  if (!session.arguments.wait) {
    return false;
  }
  if (!session.waitingShown && !session.arguments.json) {
    session.waitingShown = true;
    session.line(Stream::Err, messageText(MSG_CLI_WAITING));
  }
  while (waitForChange(session, session.waitDeadline)) {
    if (look()) {
      return true;
    }
  }
  return false;
}

void usageError(const Session& session, const std::string& text) {
  session.line(Stream::Err, text);
}

// With --device, the named path must be a unit; without --wait at once.
bool checkDevice(const Session& session, const HidPlatform& base, int& status) {
  const CliArguments& arguments = session.arguments;
  if (!arguments.deviceGiven) {
    return true;
  }
  const std::u16string path = fromUtf8(arguments.devicePath);
  DeviceCheck check = DeviceCheck::NoDevice;
  UnitEntry unusable{path, 0, UnitProblem::None};
  lookFor(session, [&] {
    check = checkDevicePath(base, path, session.environment.devicePathsIgnoreCase,
                            session.environment.openProblem, unusable.problem);
    return check == DeviceCheck::Unit;
  });
  const std::string shown = "escupdate: --device " + shownArgument(arguments.devicePath);
  switch (check) {
    case DeviceCheck::Unit:
      return true;
    case DeviceCheck::NoDevice:
      usageError(session, shown + ": no HID device (hidraw node) has this path");
      status = arguments.wait ? EXIT_NO_UNIT : EXIT_USAGE;
      return false;
    case DeviceCheck::NotAUnit:
      usageError(session, shown + ": this HID device is no programming unit");
      status = arguments.wait ? EXIT_NO_UNIT : EXIT_USAGE;
      return false;
    case DeviceCheck::Unusable:
      status = reportUnusable(session, unusable);
      return false;
    case DeviceCheck::ListUnavailable:
      break;
  }
  status = EXIT_NO_UNIT;
  return false;
}

bool usable(const UnitEntry& unit) { return unit.problem == UnitProblem::None; }

// list's line and JSON for a unit: a unit that cannot be used is shown with the reason.
std::string listLine(const UnitEntry& unit) {
  return usable(unit) ? unitLine(unit.path, unit.productId) : problemText(unit);
}

json unitsJson(const std::vector<UnitEntry>& units) {
  json list = json::array();
  for (const UnitEntry& unit : units) {
    list.push_back(
        usable(unit)
            ? json{{"path", toUtf8(unit.path)},
                   {"productId", unit.productId},
                   {"label", toUtf8(unitTypeLabel(unit.productId))},
                   {"usable", true}}
            : json{{"path", toUtf8(unit.path)}, {"usable", false}, {"problem", problemJson(unit)}});
  }
  return {{"units", list}};
}

// Units that cannot be used are listed with the reason, but only a usable one is found.
int listVerb(const Session& session) {
  std::vector<UnitEntry> units;
  const bool found = lookFor(session, [&] {
    findUnits(hidPlatform(), units, session.environment.openProblem);
    return std::any_of(units.begin(), units.end(), usable);
  });
  if (session.arguments.json) {
    session.json(unitsJson(units));
  } else {
    for (const UnitEntry& unit : units) {
      session.line(Stream::Out, listLine(unit));
    }
    if (units.empty()) {
      session.line(Stream::Err, panelText(DetectionOutcome::NoUnit));
    }
  }
  if (found) {
    return EXIT_OK;
  }
  return units.empty() ? EXIT_NO_UNIT : EXIT_UNUSABLE;
}

std::string targetVersionText(std::uint16_t version) {
  char16_t text[VERSION_TEXT_UNITS];
  formatEscFirmwareVersion(version, text);
  return toUtf8(text);
}

// The classification and the image an update would write, as text lines and JSON.
void describeController(const Session& session, const Detection& detection,
                        const UpdateTarget& target, std::vector<std::string>& lines, json& fields) {
  const bool identified = detection.outcome == DetectionOutcome::Supported ||
                          detection.outcome == DetectionOutcome::AcceptedWithoutTarget ||
                          detection.outcome == DetectionOutcome::Incompatible;
  const std::uint32_t model = detection.modelCode;
  const FormatArgument modelArgument[] = {numberArgument(model)};
  json classification = nullptr;
  json image = nullptr;
  switch (detection.outcome) {
    case DetectionOutcome::Supported: {
      const FormatArgument arguments[] = {numberArgument(model), numberArgument(target.type),
                                          numberArgument(target.rating),
                                          numberArgument(target.cells)};
      lines.push_back(formattedMessage(MSG_CLI_MODEL_SUPPORTED, arguments, 4));
      classification = {{"result", "supported"},
                        {"type", target.type},
                        {"rating", target.rating},
                        {"cells", target.cells},
                        {"targetVersion", targetVersionText(target.targetVersion)}};
      const std::uint16_t imageId = selectFirmwareImage(target);
      const FirmwareImage loaded = session.environment.loadImage(imageId);
      const bool present = loaded.data != nullptr && loaded.size != 0;
      const FormatArgument imageArguments[] = {numberArgument(imageId),
                                               numberArgument(loaded.size)};
      lines.push_back(formattedMessage(present ? MSG_CLI_IMAGE : MSG_CLI_IMAGE_MISSING,
                                       imageArguments, present ? 2 : 1));
      image = {{"id", imageId}, {"present", present}};
      if (present) image["size"] = loaded.size;
      break;
    }
    case DetectionOutcome::AcceptedWithoutTarget:
      lines.push_back(formattedMessage(MSG_CLI_MODEL_NO_TARGET, modelArgument, 1));
      lines.push_back(messageText(MSG_CLI_IMAGE_NONE));
      classification = {{"result", "accepted-without-target"}};
      break;
    case DetectionOutcome::Incompatible:
      lines.push_back(formattedMessage(MSG_CLI_MODEL_INCOMPATIBLE, modelArgument, 1));
      lines.push_back(messageText(MSG_CLI_IMAGE_NONE));
      classification = {{"result", "incompatible"}};
      break;
    default:
      lines.push_back(messageText(MSG_CLI_MODEL_NONE));
      lines.push_back(messageText(MSG_CLI_IMAGE_NONE));
      break;
  }
  fields["modelCode"] = identified ? json(hexText(model)) : json(nullptr);
  fields["classification"] = classification;
  fields["image"] = image;
}

int infoVerb(const Session& session) {
  HidLink link;
  UpdateTarget target{};
  const Detection detection = detectUnit(session, link, target);
  json fields = json::object();
  fields["unit"] = detection.unitFound ? json{{"path", toUtf8(detection.path)},
                                              {"productId", detection.productId},
                                              {"label", toUtf8(unitTypeLabel(detection.productId))}}
                                       : json(nullptr);
  const std::array<VersionRow, 3> rows = versionRows(link);
  fields["rows"] = rowsJson(rows);
  fields["outcome"] = outcomeName(detection.outcome);
  std::vector<std::string> lines;
  describeController(session, detection, target, lines, fields);
  close(link);

  const bool human = !session.arguments.json;
  if (human) {
    if (detection.unitFound) {
      session.line(Stream::Out, unitLine(detection.path, detection.productId));
    }
    printRows(session, rows);
    for (const std::string& text : lines) {
      session.line(Stream::Out, text);
    }
    session.line(Stream::Out, "");
  }
  int status = EXIT_OK;
  if (!usable(detection.unusable)) {
    const std::string text = problemText(detection.unusable);
    fields["problem"] = problemJson(detection.unusable);
    fields["status"] = text;
    if (human) session.line(Stream::Err, text);
    status = EXIT_UNUSABLE;
  } else if (detection.outcome == DetectionOutcome::Supported) {
    const std::string ready = messageText(MSG_CLI_READY);
    fields["status"] = ready;
    if (human) session.line(Stream::Out, ready);
  } else {
    status = exitStatus(reportNotUpdatable(session, detection.outcome, fields));
  }
  if (!human) {
    session.json(fields);
  }
  // info has done its job when it could tell about a unit, whatever the unit is.
  return detection.unitFound ? EXIT_OK : status;
}

}  // namespace

void Session::write(Stream stream, const std::string& text) const {
  environment.console.write(environment.console.context, stream, text);
}

void Session::json(const nlohmann::json& value) const {
  // Every text put in was converted from UTF-16, so it is valid UTF-8; replace is a guard.
  line(Stream::Out, value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

std::uint64_t Session::now() const {
  const HidPlatform& platform = hidPlatform();
  return platform.nowMicroseconds(platform.context);
}

Detection detectUnit(const Session& session, HidLink& link, UpdateTarget& target) {
  std::int32_t result = LINK_NO_UNIT;
  lookFor(session, [&] {
    result = open(link);
    // While waiting, a unit that could not be identified (whatever the reason, its
    // capabilities unreadable included) is not yet the one waited for: on a flapping hub
    // it is gone again before it has answered, and it may come back to stay. The window,
    // too, reports nothing for an arrival whose identification fails. If the wait runs out
    // first, no unit was found.
    if (result != LINK_OK && session.arguments.wait) {
      close(link);
      return false;
    }
    return result != LINK_NO_UNIT && result != LINK_UNAVAILABLE;
  });
  Detection detection;
  detection.unitFound = link.devicePath != nullptr;
  if (detection.unitFound) {
    detection.path = link.devicePath.get();
    detection.productId = link.productId;
  }
  detection.modelCode = escModelCode(link);
  detection.outcome = result == LINK_OK ? classifyOpenUnit(link, target) : DetectionOutcome::NoUnit;
  if (!keepsLinkOpen(detection.outcome)) {
    close(link);
  }
  if (!detection.unitFound) {
    std::vector<UnitEntry> units;
    findUnits(hidPlatform(), units, session.environment.openProblem);
    const auto unusable = std::find_if_not(units.begin(), units.end(), usable);
    if (unusable != units.end()) {
      detection.unusable = *unusable;
    }
  }
  return detection;
}

std::array<VersionRow, 3> versionRows(const HidLink& link) {
  if (!isOpen(link)) {
    const std::string none = toUtf8(NO_LINK_VERSION_TEXT);
    return {VersionRow{messageText(MSG_LABEL_UNIT), none, false},
            VersionRow{messageText(MSG_LABEL_BOOTLOADER), none, false},
            VersionRow{messageText(MSG_LABEL_ESC), none, false}};
  }
  char16_t esc[VERSION_TEXT_UNITS];
  formatEscFirmwareVersion(escFirmwareVersion(link), esc);
  return {VersionRow{toUtf8(unitTypeLabel(link.productId)),
                     versionText(formatUnitVersion, link.unitFirmwareVersion), true},
          VersionRow{messageText(MSG_LABEL_BOOTLOADER),
                     versionText(formatBootloaderVersion, escBootloaderVersion(link)), true},
          VersionRow{messageText(MSG_LABEL_ESC), toUtf8(esc), true}};
}

std::string panelText(DetectionOutcome outcome) {
  char16_t heading[MESSAGE_BUFFER_UNITS];
  char16_t instructions[MESSAGE_BUFFER_UNITS];
  char16_t text[PANEL_TEXT_UNITS];
  loadMessage(headingOf(outcome), heading);
  loadMessage(MSG_CLI_INSTRUCTIONS, instructions);
  composeStatusWithInstructions(heading, instructions, text, PANEL_TEXT_UNITS);
  return toUtf8(text);
}

std::string outcomeName(DetectionOutcome outcome) {
  switch (outcome) {
    case DetectionOutcome::NoUnit:
      return "no-unit";
    case DetectionOutcome::WrongMode:
      return "wrong-mode";
    case DetectionOutcome::NoUpdatableEsc:
      return "no-updatable-esc";
    case DetectionOutcome::Supported:
      return "supported";
    case DetectionOutcome::AcceptedWithoutTarget:
      return "accepted-without-target";
    case DetectionOutcome::Incompatible:
      break;
  }
  return "incompatible";
}

Ending reportNotUpdatable(const Session& session, DetectionOutcome outcome, json& fields) {
  const bool human = !session.arguments.json;
  if (outcome == DetectionOutcome::AcceptedWithoutTarget) {
    const std::string text = messageText(MSG_CLI_NO_TARGET);
    fields["status"] = text;
    if (human) session.line(Stream::Err, text);
    return Ending::Unsupported;
  }
  if (outcome == DetectionOutcome::Incompatible) {
    IncompatibleBoxTexts box;
    loadIncompatibleBoxTexts(box);
    const std::string caption = toUtf8(box.caption);
    const std::string text = toUtf8(box.text);
    fields["box"] = {{"caption", caption}, {"text", text}};
    if (human) {
      session.line(Stream::Err, caption);
      session.line(Stream::Err, text);
      session.line(Stream::Err, "");
    }
  }
  const MessageId heading = headingOf(outcome);
  const std::string panel = panelText(outcome);
  fields["heading"] = {{"id", heading}, {"text", messageText(heading)}};
  fields["status"] = panel;
  if (human) session.line(Stream::Err, panel);
  return outcome == DetectionOutcome::Incompatible ? Ending::Unsupported : Ending::NoUnit;
}

json rowsJson(const std::array<VersionRow, 3>& rows) {
  json list = json::array();
  for (const VersionRow& row : rows) {
    list.push_back({{"label", row.label}, {"version", row.value}, {"enabled", row.enabled}});
  }
  return list;
}

void printRows(const Session& session, const std::array<VersionRow, 3>& rows) {
  for (const VersionRow& row : rows) {
    session.line(Stream::Out, row.label + ": " + row.value);
  }
}

std::string versionLine() {
  return "escupdate " + std::to_string(ESC_UPDATER_VERSION_MAJOR) + "." +
         std::to_string(ESC_UPDATER_VERSION_MINOR) + "." +
         std::to_string(ESC_UPDATER_VERSION_PATCH);
}

json outcomeJson(Ending ending, int status, bool interrupted) {
  return {{"event", "outcome"},
          {"result", exitRule(ending).result},
          {"exitCode", status},
          {"interrupted", interrupted}};
}

std::string problemText(const UnitEntry& unit) {
  const std::u16string rule = fromUtf8(UDEV_RULE_PATH);
  const FormatArgument arguments[] = {textArgument(unit.path.c_str()), textArgument(rule.c_str())};
  return formattedMessage(
      unit.problem == UnitProblem::InUse ? MSG_CLI_IN_USE : MSG_CLI_NO_PERMISSION, arguments, 2);
}

json problemJson(const UnitEntry& unit) {
  return {{"path", toUtf8(unit.path)},
          {"reason", unit.problem == UnitProblem::InUse ? "in-use" : "permission-denied"},
          {"message", problemText(unit)}};
}

int reportUnusable(const Session& session, const UnitEntry& unit) {
  const bool list = session.arguments.verb == Verb::List;
  if (!session.arguments.json) {
    session.line(list ? Stream::Out : Stream::Err, listLine(unit));
  } else if (list) {
    session.json(unitsJson({unit}));
  } else if (session.arguments.verb == Verb::Update) {
    json line = outcomeJson(Ending::Unusable, EXIT_UNUSABLE, false);
    line["problem"] = problemJson(unit);
    session.json(line);
  } else {
    session.json({{"problem", problemJson(unit)}});
  }
  return EXIT_UNUSABLE;
}

std::string unitLine(const std::u16string& path, std::uint16_t productId) {
  const FormatArgument id[] = {numberArgument(productId)};
  return toUtf8(path) + " (" + toUtf8(unitTypeLabel(productId)) + ", " +
         formattedMessage(MSG_CLI_PRODUCT_ID, id, 1) + ")";
}

int runCommand(const CliArguments& arguments, const CliEnvironment& environment) {
  const Session session{arguments, environment};
  if (arguments.version && !arguments.help) {
    session.line(Stream::Out, versionLine());
    return EXIT_OK;
  }
  if (arguments.help || arguments.verb == Verb::Help) {
    const Verb topic = arguments.verb == Verb::Help ? arguments.helpVerb : arguments.verb;
    session.write(Stream::Out, helpText(topic));
    return EXIT_OK;
  }
  const HidPlatform& base = hidPlatform();
  int status = EXIT_OK;
  if (!checkDevice(session, base, status)) {
    return status;
  }
  DeviceFilter filter{&base, fromUtf8(arguments.devicePath), environment.devicePathsIgnoreCase};
  const HidPlatform restricted = restrictToDevice(filter);
  if (arguments.deviceGiven) {
    setHidPlatform(&restricted);
  }
  switch (arguments.verb) {
    case Verb::List:
      status = listVerb(session);
      break;
    case Verb::Info:
      status = infoVerb(session);
      break;
    case Verb::Update:
      status = updateVerb(session);
      break;
    case Verb::None:
    case Verb::Help:
      break;
  }
  if (arguments.deviceGiven) {
    setHidPlatform(&base);
  }
  return status;
}

std::string interruptedText(bool json) {
  const std::string notice = messageText(MSG_CLI_INTERRUPTED);
  if (!json) {
    return "\n" + notice + "\n";
  }
  nlohmann::json outcome = outcomeJson(Ending::Interrupted, EXIT_INTERRUPTED, true);
  outcome["message"] = notice;
  return outcome.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace esc::cli
