// Shared by the verbs: the console of one run, detection of the unit as the window does
// it at start-up, and the pieces of what the window shows (version rows, status panel,
// incompatibility box) as terminal text and JSON.
#pragma once

#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "device/hid_link.h"
#include "ui/cli/cli_arguments.h"
#include "ui/cli/cli_environment.h"
#include "ui/cli/exit_policy.h"
#include "ui/cli/unit_discovery.h"
#include "ui/detection_outcome.h"
#include "updater/classification.h"

namespace esc::cli {

struct Session {
  const CliArguments& arguments;
  const CliEnvironment& environment;
  // --wait's limit holds for the whole run (the check of --device and the detection after
  // it wait within the same seconds): set at the first look.
  mutable bool waitStarted = false;
  mutable std::uint64_t waitDeadline = 0;
  mutable bool waitingShown = false;

  void write(Stream stream, const std::string& text) const;
  void line(Stream stream, const std::string& text) const { write(stream, text + "\n"); }
  // One JSON document or event, on one line of standard output.
  void json(const nlohmann::json& value) const;
  std::uint64_t now() const;
};

// What the start-up detection found.
struct Detection {
  DetectionOutcome outcome = DetectionOutcome::NoUnit;
  bool unitFound = false;  // a unit was opened, whether or not it could be identified
  std::u16string path;
  std::uint16_t productId = 0;
  // Read before the link is given up, which clears the record.
  std::uint32_t modelCode = 0;
  // When no unit could be opened: the first one that is there but cannot be used.
  UnitEntry unusable{};
};

// Opens the unit (waiting for one with --wait) and decides as the window does at
// start-up; the link stays open only for the outcomes that keep it.
Detection detectUnit(const Session& session, HidLink& link, UpdateTarget& target);

struct VersionRow {
  std::string label;
  std::string value;
  bool enabled;
};

// The three rows of the window's version group, as it shows them for this link.
std::array<VersionRow, 3> versionRows(const HidLink& link);

// The status panel's text for an outcome that shows a heading: heading, a blank line and
// the instructions.
std::string panelText(DetectionOutcome outcome);
std::string outcomeName(DetectionOutcome outcome);

// Writes the detection's result for a unit that cannot be updated (every outcome but
// Supported) as the window shows it, as text or JSON fields, and returns how the run ends.
Ending reportNotUpdatable(const Session& session, DetectionOutcome outcome, nlohmann::json& fields);

nlohmann::json rowsJson(const std::array<VersionRow, 3>& rows);
void printRows(const Session& session, const std::array<VersionRow, 3>& rows);

// The JSON outcome line's common fields: the result `ending` names, the exit status, and
// whether an interruption arrived.
nlohmann::json outcomeJson(Ending ending, int status, bool interrupted);

// Why a unit cannot be used, naming its device and what to do, as text and as JSON.
std::string problemText(const UnitEntry& unit);
nlohmann::json problemJson(const UnitEntry& unit);
// Ends a verb at a unit that cannot be used: the reason on standard error, or in JSON (for
// update as its outcome line). Returns the exit status.
int reportUnusable(const Session& session, const UnitEntry& unit);

// "path (TUNEPUCK, product id 1)".
std::string unitLine(const std::u16string& path, std::uint16_t productId);

int updateVerb(const Session& session);

}  // namespace esc::cli
