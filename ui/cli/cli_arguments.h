// The command line of escupdate: verbs and options, read without side effects so that any
// list of arguments (a fuzzer's too) can be fed to it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace esc::cli {

enum class Verb { None, List, Info, Update, Help };

struct CliArguments {
  Verb verb = Verb::None;
  // --help, or the verb "help": the overview, or the help of `helpVerb`.
  bool help = false;
  Verb helpVerb = Verb::None;
  bool version = false;  // --version: the program's version, and nothing else
  bool assumeYes = false;
  bool json = false;
  bool wait = false;
  // 0: wait as long as it takes.
  std::uint32_t waitSeconds = 0;
  bool deviceGiven = false;
  std::string devicePath;
  bool simulate = false;
  std::string simulateSettings;
};

// Longest --wait accepted: a day.
inline constexpr std::uint32_t MAX_WAIT_SECONDS = 86400;

// Reads the arguments after the program name. On a malformed command line returns false
// with `error` as one line naming the offending argument; `arguments` is then incomplete.
bool parseArguments(const std::vector<std::string>& words, CliArguments& arguments,
                    std::string& error);

// The verb's name as typed ("list", "info", "update", "help"); empty for None.
const char* verbName(Verb verb);

}  // namespace esc::cli
