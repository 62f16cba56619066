#include "ui/cli/cli_arguments.h"

#include <cstddef>

#include "ui/cli/shown_argument.h"

namespace esc::cli {
namespace {

struct VerbName {
  const char* name;
  Verb verb;
};

constexpr VerbName VERBS[] = {
    {"list", Verb::List},
    {"info", Verb::Info},
    {"update", Verb::Update},
    {"help", Verb::Help},
};

bool findVerb(const std::string& word, Verb& verb) {
  for (const VerbName& entry : VERBS) {
    if (word == entry.name) {
      verb = entry.verb;
      return true;
    }
  }
  return false;
}

// Whole decimal seconds from 1 to MAX_WAIT_SECONDS.
bool parseSeconds(const std::string& text, std::uint32_t& seconds) {
  if (text.empty() || text.size() > 6) {
    return false;
  }
  std::uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return false;
    }
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (value == 0 || value > MAX_WAIT_SECONDS) {
    return false;
  }
  seconds = value;
  return true;
}

// Splits "--name=value" into its name and value.
void splitOption(const std::string& word, std::string& name, std::string& value, bool& hasValue) {
  const std::size_t equals = word.find('=');
  hasValue = equals != std::string::npos;
  name = hasValue ? word.substr(0, equals) : word;
  value = hasValue ? word.substr(equals + 1) : std::string();
}

struct Parser {
  const std::vector<std::string>& words;
  std::size_t next;
  CliArguments& arguments;
  std::string& error;
  // -y, --yes or --assume-yes as typed, so that a refusal of it names what the user wrote.
  std::string yesWord;

  bool fail(const std::string& text) {
    error = text;
    return false;
  }

  // An error about one argument: the argument first, as the user can read it. An empty
  // one (an unset shell variable, say) is shown as '' rather than vanish from the line.
  bool failAt(const std::string& word, const std::string& text) {
    return fail("escupdate: " + (word.empty() ? std::string("''") : shownArgument(word)) + ": " +
                text);
  }

  bool option(const std::string& word) {
    std::string name;
    std::string value;
    bool hasValue = false;
    splitOption(word, name, value, hasValue);
    const bool flag = !hasValue;
    if ((name == "-y" || name == "--yes" || name == "--assume-yes") && flag) {
      arguments.assumeYes = true;
      yesWord = word;
    } else if (name == "--json" && flag) {
      arguments.json = true;
    } else if ((name == "-h" || name == "--help") && flag) {
      arguments.help = true;
    } else if (name == "--version" && flag) {
      arguments.version = true;
    } else if (name == "--wait") {
      arguments.wait = true;
      arguments.waitSeconds = 0;
      if (hasValue && !parseSeconds(value, arguments.waitSeconds)) {
        return failAt(word, "the wait is a whole number of seconds from 1 to " +
                                std::to_string(MAX_WAIT_SECONDS));
      }
    } else if (name == "--device") {
      if (!hasValue) {
        if (next >= words.size()) {
          return fail("escupdate: --device needs the path of a programming unit");
        }
        value = words[next++];
      }
      if (value.empty()) {
        return failAt(word, "the device path is empty");
      }
      arguments.deviceGiven = true;
      arguments.devicePath = value;
    } else if (name == "--simulate") {
      arguments.simulate = true;
      arguments.simulateSettings = value;
    } else if (name == "-y" || name == "--yes" || name == "--assume-yes" || name == "--json" ||
               name == "-h" || name == "--help" || name == "--version") {
      return failAt(word, "this option takes no value");
    } else {
      return failAt(word, "unknown option (see escupdate --help)");
    }
    return true;
  }

  bool positional(const std::string& word) {
    Verb verb = Verb::None;
    if (!findVerb(word, verb)) {
      return failAt(word, "unknown verb (list, info, update or help)");
    }
    if (arguments.verb == Verb::None) {
      arguments.verb = verb;
      return true;
    }
    if (arguments.verb == Verb::Help && arguments.helpVerb == Verb::None && verb != Verb::Help) {
      arguments.helpVerb = verb;
      return true;
    }
    return failAt(word, "only one verb at a time");
  }

  // Options that mean nothing to the verb are refused rather than silently ignored.
  bool checkCombination() {
    if (arguments.help || arguments.version || arguments.verb == Verb::Help) {
      return true;
    }
    if (arguments.verb == Verb::None) {
      return fail("escupdate: no verb given (list, info, update or help)");
    }
    if (arguments.assumeYes && arguments.verb != Verb::Update) {
      return failAt(yesWord, "only update asks questions");
    }
    return true;
  }

  bool run() {
    bool optionsEnded = false;
    while (next < words.size()) {
      const std::string& word = words[next++];
      if (!optionsEnded && word == "--") {
        optionsEnded = true;
        continue;
      }
      const bool isOption = !optionsEnded && word.size() > 1 && word[0] == '-';
      if (!(isOption ? option(word) : positional(word))) {
        return false;
      }
    }
    return checkCombination();
  }
};

}  // namespace

bool parseArguments(const std::vector<std::string>& words, CliArguments& arguments,
                    std::string& error) {
  arguments = CliArguments{};
  Parser parser{words, 0, arguments, error, std::string()};
  return parser.run();
}

const char* verbName(Verb verb) {
  for (const VerbName& entry : VERBS) {
    if (entry.verb == verb) {
      return entry.name;
    }
  }
  return "";
}

}  // namespace esc::cli
