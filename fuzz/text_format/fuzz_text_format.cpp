// The text formatter and the text rules with fuzzed formats, arguments and capacities. Each
// buffer is a heap block of exactly its capacity, so the address sanitizer reports any
// write past it; the text in it must always be terminated, and a text cut short must be
// the start of the text a large buffer receives.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "ui/texts.h"
#include "ui/wide_format.h"

namespace {

using esc::fuzz::check;

constexpr std::size_t MAX_CAPACITY = 300;
constexpr std::size_t MAX_FORMAT_UNITS = 200;
constexpr std::size_t MAX_ARGUMENT_UNITS = 100;
constexpr std::size_t MAX_ARGUMENTS = 6;
// Holds any text this target can produce whole: 200 format units and six conversions of
// at most 109 units each.
constexpr std::size_t LARGE_CAPACITY = 4096;

// A NUL-terminated UTF-16 text of fuzzed units, biased toward '%', digits and the
// conversion letters so that formats are mostly made of conversions.
std::u16string fuzzedText(FuzzedDataProvider& input, std::size_t maxUnits) {
  static constexpr char16_t FORMAT_UNITS[] = u"%%0123456789usxX. \r\n";
  std::u16string text;
  const std::size_t units = input.ConsumeIntegralInRange<std::size_t>(0, maxUnits);
  for (std::size_t i = 0; i < units; ++i) {
    const std::uint8_t kind = input.ConsumeIntegral<std::uint8_t>();
    char16_t unit;
    if (kind < 160) {
      unit = FORMAT_UNITS[kind % (std::size(FORMAT_UNITS) - 1)];
    } else {
      unit = input.ConsumeIntegral<char16_t>();
    }
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

std::size_t lengthOf(const char16_t* text) {
  std::size_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

bool startsWith(const char16_t* text, const char16_t* whole) {
  for (std::size_t i = 0; text[i] != 0; ++i) {
    if (text[i] != whole[i]) return false;
  }
  return true;
}

// A buffer of exactly `capacity` units (a null pointer for capacity 0 half of the time).
struct Buffer {
  Buffer(std::size_t units, bool nullWhenEmpty)
      : capacity(units),
        data(units == 0 && nullWhenEmpty ? nullptr : new char16_t[units == 0 ? 1 : units]) {
    if (units == 0 && data) data[0] = u'#';
  }
  std::size_t capacity;
  std::unique_ptr<char16_t[]> data;
};

void checkTerminated(const Buffer& buffer, const char* what) {
  if (buffer.capacity == 0) {
    check(!buffer.data || buffer.data[0] == u'#', what);
    return;
  }
  check(lengthOf(buffer.data.get()) < buffer.capacity, what);
}

// A text cut short by its capacity is the beginning of the whole text.
void checkCutFrom(const Buffer& cut, const Buffer& whole) {
  if (cut.capacity == 0) return;
  check(startsWith(cut.data.get(), whole.data.get()), "a cut text is a prefix of the whole one");
}

void fuzzFormatter(FuzzedDataProvider& input) {
  const std::u16string format = fuzzedText(input, MAX_FORMAT_UNITS);
  std::vector<std::u16string> texts;
  std::vector<esc::FormatArgument> arguments;
  const std::size_t count = input.ConsumeIntegralInRange<std::size_t>(0, MAX_ARGUMENTS);
  texts.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (input.ConsumeBool()) {
      texts.push_back(fuzzedText(input, MAX_ARGUMENT_UNITS));
      arguments.push_back(esc::textArgument(input.ConsumeBool() ? texts.back().c_str() : nullptr));
    } else {
      arguments.push_back(esc::numberArgument(input.ConsumeIntegral<std::uint32_t>()));
    }
  }
  const std::u16string prefix = fuzzedText(input, MAX_ARGUMENT_UNITS);
  const std::size_t capacity = input.ConsumeIntegralInRange<std::size_t>(0, MAX_CAPACITY);
  const bool nullWhenEmpty = input.ConsumeBool();

  Buffer cut(capacity, nullWhenEmpty);
  Buffer whole(LARGE_CAPACITY, false);
  esc::TextBuffer cutText = esc::startText(cut.data.get(), cut.capacity);
  esc::TextBuffer wholeText = esc::startText(whole.data.get(), whole.capacity);
  for (esc::TextBuffer* text : {&cutText, &wholeText}) {
    esc::appendText(*text, prefix.c_str());
    esc::appendFormatted(*text, format.c_str(), arguments.data(), arguments.size());
    esc::appendText(*text, prefix.c_str());
  }

  check(!wholeText.truncated, "the large buffer holds every text");
  checkTerminated(cut, "the formatted text is terminated within its capacity");
  if (cut.capacity > 0) {
    check(cutText.length == lengthOf(cut.data.get()), "the length is the text's");
  }
  check(cutText.length <= wholeText.length, "a cut text is never longer");
  check(cutText.truncated == (cutText.length < wholeText.length),
        "truncated exactly when something was left out");
  checkCutFrom(cut, whole);
}

void fuzzTextRules(FuzzedDataProvider& input) {
  const std::u16string message = fuzzedText(input, MAX_FORMAT_UNITS);
  const std::u16string other = fuzzedText(input, MAX_FORMAT_UNITS);
  const auto errorValue = input.ConsumeIntegral<std::int32_t>();
  const auto systemError = input.ConsumeIntegral<std::uint32_t>();
  const std::size_t capacity = input.ConsumeIntegralInRange<std::size_t>(0, MAX_CAPACITY);
  const std::uint8_t rule = input.ConsumeIntegralInRange<std::uint8_t>(0, 2);

  Buffer cut(capacity, input.ConsumeBool());
  Buffer whole(LARGE_CAPACITY, false);
  for (Buffer* buffer : {&cut, &whole}) {
    switch (rule) {
      case 0:
        esc::composeErrorText(message.c_str(), other.c_str(), errorValue, systemError,
                              buffer->data.get(), buffer->capacity);
        break;
      case 1:
        esc::composeStatusWithInstructions(message.c_str(), other.c_str(), buffer->data.get(),
                                           buffer->capacity);
        break;
      default:
        esc::formatIncompatibleText(message.c_str(), buffer->data.get(), buffer->capacity);
        break;
    }
  }
  checkTerminated(cut, "a composed text is terminated within its capacity");
  checkCutFrom(cut, whole);
  if (rule == 0 && errorValue == -1) {
    check(std::u16string(whole.data.get()) == message, "without a status code, no code line");
  }

  char16_t version[esc::VERSION_TEXT_UNITS];
  esc::formatUnitVersion(input.ConsumeIntegral<std::uint32_t>(), version);
  check(lengthOf(version) < esc::VERSION_TEXT_UNITS, "unit version text fits");
  esc::formatBootloaderVersion(input.ConsumeIntegral<std::uint32_t>(), version);
  check(lengthOf(version) < esc::VERSION_TEXT_UNITS, "bootloader version text fits");
  esc::formatEscFirmwareVersion(input.ConsumeIntegral<std::uint16_t>(), version);
  check(lengthOf(version) < esc::VERSION_TEXT_UNITS, "ESC version text fits");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  if (input.ConsumeBool()) {
    fuzzFormatter(input);
  } else {
    fuzzTextRules(input);
  }
  return 0;
}
