// escupdate's verbs run in the test's process on the emulated unit (virtual clock), with a
// console and an interruption that record what the program did.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/bootloader.h"
#include "emulator/sim_bus.h"
#include "resources/messages.h"
#include "ui/cli/cli_program.h"
#include "ui/cli/cli_text.h"
#include "ui/cli/simulation.h"

namespace esc::cli::test {

struct Recording {
  std::string out;
  std::string err;
  std::vector<std::string> answers;  // lines the user types, in order
  std::size_t answered = 0;
  bool inputIsTerminal = false;
  bool errorIsTerminal = false;
  // The terminal's width at each look (the last one stays); none: unknown.
  std::vector<std::uint32_t> columns;
  std::size_t columnLooks = 0;
  std::vector<Phase> phases;
  // An interruption arrives once the unit has received this many data blocks (0: never).
  std::uint32_t interruptAtBlock = 0;
  const sim::Bus* bus = nullptr;
};

inline Recording& recordingOf(void* context) { return *static_cast<Recording*>(context); }

inline void recordWrite(void* context, Stream stream, const std::string& text) {
  (stream == Stream::Out ? recordingOf(context).out : recordingOf(context).err) += text;
}

inline bool typeAnswer(void* context, std::string& line) {
  Recording& r = recordingOf(context);
  if (r.answered >= r.answers.size()) return false;
  line = r.answers[r.answered++];
  r.err += line + "\n";  // the terminal echoes what was typed, where the prompt is
  return true;
}

inline std::uint32_t terminalWidth(void* context) {
  Recording& r = recordingOf(context);
  if (r.columns.empty()) return 0;
  return r.columns[std::min(r.columnLooks++, r.columns.size() - 1)];
}

inline void recordPhase(void* context, Phase phase) {
  recordingOf(context).phases.push_back(phase);
}

inline bool interruptAfterBlocks(void* context) {
  const Recording& r = recordingOf(context);
  return r.interruptAtBlock != 0 && !r.phases.empty() && r.phases.front() == Phase::Writing &&
         r.bus->commandRequests[CMD_WRITE_BLOCK] >= r.interruptAtBlock;
}

inline FirmwareImage noImage(std::uint16_t) { return FirmwareImage{nullptr, 0}; }

class CliRun : public ::testing::Test {
 protected:
  void TearDown() override {
    setHidPlatform(nullptr);
    setMessageLanguage(Language::English);
  }

  // Runs `words` (the arguments after the program name) against a unit set up with
  // `settings` (--simulate's form; the clock is always virtual here).
  int run(std::vector<std::string> words, const std::string& settings = "",
          ImageLoader loader = loadFirmwareImage) {
    SimulateSettings parsed;
    std::string error;
    const std::string all = settings.empty() ? "clock=virtual" : settings + ",clock=virtual";
    EXPECT_TRUE(parseSimulateSettings(all, parsed, error)) << error;
    simulation = std::make_unique<Simulation>();
    setUpSimulation(*simulation, parsed);
    sim::install(simulation->bus);
    recording.bus = &simulation->bus;
    CliArguments arguments;
    if (!parseArguments(words, arguments, error)) {
      ADD_FAILURE() << error;
      return -1;
    }
    CliEnvironment environment{};
    environment.console = Console{
        &recording,   recordWrite, typeAnswer, recording.inputIsTerminal, recording.errorIsTerminal,
        terminalWidth};
    environment.hotplug = simulatedHotplugSource(simulation->hotplug);
    environment.interruption = Interruption{&recording, recordPhase, interruptAfterBlocks};
    environment.loadImage = loader;
    environment.devicePathsIgnoreCase = true;
    return runCommand(arguments, environment);
  }

  sim::Device& unit() { return simulation->bus.devices[simulation->unit]; }
  std::vector<std::uint8_t> commands() const { return sim::sentCommands(simulation->bus); }
  bool sent(std::uint8_t command) const {
    for (const std::uint8_t c : commands()) {
      if (c == command) return true;
    }
    return false;
  }

  Recording recording;
  std::unique_ptr<Simulation> simulation;
};

inline std::string text(MessageId id) { return messageText(id); }

inline bool contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

}  // namespace esc::cli::test
