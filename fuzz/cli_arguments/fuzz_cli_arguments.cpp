// escupdate's command line with any arguments: the input split at NUL bytes, as the
// system hands a program its arguments. The parser neither crashes nor exits; it depends
// on nothing but the words; a refusal is one line naming an argument that was given; an
// accepted command line gives a record each of whose fields some given word explains.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "ui/cli/cli_arguments.h"
#include "ui/cli/shown_argument.h"

namespace esc::cli {
namespace {

using fuzz::check;
using fuzz::hasControl;

const char NO_VERB[] = "escupdate: no verb given (list, info, update or help)";

std::vector<std::string> splitWords(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words;
  if (size == 0) {
    return words;
  }
  std::string word;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word.push_back(static_cast<char>(data[i]));
    }
  }
  words.push_back(word);
  return words;
}

bool sameRecord(const CliArguments& a, const CliArguments& b) {
  return a.verb == b.verb && a.help == b.help && a.helpVerb == b.helpVerb &&
         a.assumeYes == b.assumeYes && a.json == b.json && a.wait == b.wait &&
         a.waitSeconds == b.waitSeconds && a.deviceGiven == b.deviceGiven &&
         a.devicePath == b.devicePath && a.simulate == b.simulate &&
         a.simulateSettings == b.simulateSettings;
}

// A record as a previous parse, or garbage, may have left it: a parse starts from nothing.
CliArguments dirtyRecord() {
  CliArguments record;
  record.verb = Verb::Update;
  record.help = true;
  record.helpVerb = Verb::Info;
  record.assumeYes = true;
  record.json = true;
  record.wait = true;
  record.waitSeconds = 4242;
  record.deviceGiven = true;
  record.devicePath = "/dev/stale";
  record.simulate = true;
  record.simulateSettings = "stale";
  return record;
}

bool given(const std::vector<std::string>& words, const std::string& word) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

// A refusal starts with the word it is about, whole, as the message shows it (an empty one
// as ''): "escupdate: WORD: ..." or "escupdate: WORD needs ...".
bool namesAWord(const std::string& error, const std::vector<std::string>& words) {
  for (const std::string& word : words) {
    const std::string named =
        "escupdate: " + (word.empty() ? std::string("''") : shownArgument(word));
    if (error.rfind(named + ":", 0) == 0 || error.rfind(named + " ", 0) == 0) {
      return true;
    }
  }
  return false;
}

// The value of some "--name=value" word, or of a word after a "--name" word.
bool givenAsValue(const std::vector<std::string>& words, const std::string& option,
                  const std::string& value) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i] == option + "=" + value ||
        (words[i] == option && i + 1 < words.size() && words[i + 1] == value)) {
      return true;
    }
  }
  return false;
}

// A "--wait=N" word whose digits, leading zeros and all, make `seconds`.
bool givenWait(const std::vector<std::string>& words, std::uint32_t seconds) {
  const std::string prefix = "--wait=";
  for (const std::string& word : words) {
    if (word.rfind(prefix, 0) != 0 || word.size() == prefix.size()) {
      continue;
    }
    std::uint64_t value = 0;
    bool digits = true;
    for (std::size_t i = prefix.size(); i < word.size() && digits; ++i) {
      digits = word[i] >= '0' && word[i] <= '9' && value <= MAX_WAIT_SECONDS;
      value = value * 10 + static_cast<std::uint64_t>(word[i] - '0');
    }
    if (digits && value == seconds) {
      return true;
    }
  }
  return false;
}

void checkAccepted(const std::vector<std::string>& words, const CliArguments& record) {
  check(record.verb != Verb::None || record.help || record.version, "a verb, help or version");
  check(record.helpVerb == Verb::None || record.verb == Verb::Help, "a help verb only after help");
  check(record.helpVerb != Verb::Help, "help is no help verb");
  check(record.verb == Verb::None || given(words, verbName(record.verb)), "the verb was given");
  check(record.helpVerb == Verb::None || given(words, verbName(record.helpVerb)),
        "the help verb was given");
  check(
      !record.assumeYes || record.verb == Verb::Update || record.verb == Verb::Help || record.help,
      "--yes with update or help only");
  check(!record.assumeYes || given(words, "-y") || given(words, "--yes") ||
            given(words, "--assume-yes"),
        "--yes was given");
  check(!record.json || given(words, "--json"), "--json was given");
  check(!record.help || given(words, "-h") || given(words, "--help"), "--help was given");
  check(!record.version || given(words, "--version"), "--version was given");
  check(record.waitSeconds <= MAX_WAIT_SECONDS, "the wait is at most a day");
  check(record.wait || record.waitSeconds == 0, "seconds only with --wait");
  check(!record.wait || given(words, "--wait") || record.waitSeconds != 0, "--wait was given");
  check(record.waitSeconds == 0 || givenWait(words, record.waitSeconds), "the seconds were given");
  check(record.deviceGiven == !record.devicePath.empty(), "a device is a path");
  check(!record.deviceGiven || givenAsValue(words, "--device", record.devicePath),
        "the device path was given");
  check(record.simulate || record.simulateSettings.empty(), "settings only with --simulate");
  check(!record.simulate || (record.simulateSettings.empty() && given(words, "--simulate")) ||
            given(words, "--simulate=" + record.simulateSettings),
        "the settings were given");
}

void checkRefused(const std::vector<std::string>& words, const std::string& error) {
  check(error.rfind("escupdate: ", 0) == 0, "a refusal starts with the program's name");
  check(!hasControl(error), "a refusal is one line of plain text");
  if (error == NO_VERB) {
    // Nothing took the verb's place, so "help" at the end becomes the verb.
    std::vector<std::string> withHelp = words;
    withHelp.emplace_back("help");
    CliArguments record;
    std::string unused;
    check(parseArguments(withHelp, record, unused) && record.verb == Verb::Help &&
              record.helpVerb == Verb::None,
          "no verb given means none was");
    return;
  }
  check(namesAWord(error, words), "a refusal names an argument that was given");
}

void runOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> words = splitWords(data, size);

  CliArguments record;
  std::string error;
  const bool accepted = parseArguments(words, record, error);

  CliArguments again = dirtyRecord();
  std::string againError = "stale";
  check(parseArguments(words, again, againError) == accepted, "the same words, the same verdict");
  if (accepted) {
    check(sameRecord(record, again), "a parse depends on the words alone");
    checkAccepted(words, record);
  } else {
    check(error == againError, "the same words, the same refusal");
    checkRefused(words, error);
  }

  // --json in front changes the output's form and nothing else.
  std::vector<std::string> withJson = words;
  withJson.insert(withJson.begin(), "--json");
  CliArguments jsonRecord;
  std::string jsonError;
  check(parseArguments(withJson, jsonRecord, jsonError) == accepted, "--json changes no verdict");
  if (accepted) {
    record.json = true;
    check(sameRecord(record, jsonRecord), "--json changes nothing else");
  } else {
    check(jsonError == error, "--json changes no refusal");
  }
}

}  // namespace
}  // namespace esc::cli

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  esc::cli::runOneInput(data, size);
  return 0;
}
