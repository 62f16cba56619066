// The simulator's settings and fault parsers with any text: a refused text leaves the value
// alone, an accepted fault reads back the same from its own text, and reading every
// variable from fuzzed values either fills the settings or names the variable it refused.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "emulator/sim_settings.h"
#include "fuzz/fuzz_check.h"

namespace esc::sim {
namespace {

using fuzz::check;

constexpr std::size_t MAX_TEXT_BYTES = 64;

template <typename Value>
void checkParser(bool (*parse)(const std::string&, Value&), const std::string& text, Value sentinel,
                 const char* what) {
  Value value = sentinel;
  if (!parse(text, value)) {
    check(value == sentinel, what);
  }
}

bool sameFault(const FaultSetting& a, const FaultSetting& b) {
  return a.choice == b.choice && a.block == b.block && a.status == b.status;
}

struct Lookup {
  std::vector<std::string> values;
  std::vector<bool> set;
};

const char* lookUp(const char* variable, void* context) {
  const Lookup& lookup = *static_cast<const Lookup*>(context);
  for (std::size_t i = 0; i < std::size(SETTING_OPTIONS); ++i) {
    if (std::strcmp(SETTING_OPTIONS[i].variable, variable) == 0) {
      return lookup.set[i] ? lookup.values[i].c_str() : nullptr;
    }
  }
  check(false, "only the documented variables are looked up");
  return nullptr;
}

void fuzzFault(const std::string& text) {
  FaultSetting fault{FaultChoice::NoAnswer, 77, 88};
  const FaultSetting sentinel = fault;
  if (!parseFault(text, fault)) {
    check(sameFault(fault, sentinel), "a refused fault leaves the setting alone");
    return;
  }
  if (fault.choice == FaultChoice::BlockFails || fault.choice == FaultChoice::UnplugAtBlock) {
    check(fault.block != 0, "blocks count from 1");
  }
  FaultSetting again{};
  check(parseFault(faultText(fault), again), "a fault's own text is accepted");
  check(sameFault(again, fault), "a fault reads back the same from its text");

  // Arming it on a bus counts from what the bus has seen; "none" clears the faults.
  Bus bus;
  bus.faults.push_back(Fault{});
  armFault(bus, fault);
  check(bus.faults.size() == (fault.choice == FaultChoice::None ? 0u : 1u),
        "one fault armed, or none");
}

void runOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string text = input.ConsumeRandomLengthString(MAX_TEXT_BYTES);

  checkParser(parseSwitch, text, true, "switch");
  checkParser(parseSwitch, text, false, "switch");
  checkParser(parseModelCode, text, std::uint32_t{0xA5A5A5A5}, "model code");
  checkParser(parseNumber16, text, std::uint16_t{0xA5A5}, "16-bit number");
  checkParser(parseEscVersion, text, std::uint16_t{0xA5A5}, "ESC version");
  checkParser(parsePackedVersion, text, std::uint32_t{0xA5A5A5A5}, "packed version");
  fuzzFault(text);

  Lookup lookup;
  for (std::size_t i = 0; i < std::size(SETTING_OPTIONS); ++i) {
    lookup.set.push_back(input.ConsumeBool());
    lookup.values.push_back(input.ConsumeRandomLengthString(MAX_TEXT_BYTES));
  }
  // Built once: the defaults are the same for every input.
  static const UnitSettings DEFAULTS = defaultSettings();
  UnitSettings settings = DEFAULTS;
  std::string error;
  if (readSettings(lookUp, &lookup, settings, error)) {
    check(error.empty(), "no error after reading every variable");
    Device unit;
    applyIdentity(settings, unit);
    check(unit.productId == settings.productId, "the unit takes the product id");
  } else {
    check(error.rfind("ESCSIM_", 0) == 0, "a refusal names its variable first");
  }
}

}  // namespace
}  // namespace esc::sim

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  esc::sim::runOneInput(data, size);
  return 0;
}
