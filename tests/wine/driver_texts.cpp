// The texts the program must show, taken from the catalogue source through the table
// its generator writes, and composed here by the rules the program follows, written out
// independently of the program's own text code.
#include <cstdio>

#include "resources/message_ids.h"
#include "tests/wine/driver.h"

namespace driver {
namespace {

constexpr wchar_t INSTRUCTION_SEPARATOR[] = L"\r\n\r\n";
constexpr wchar_t CODE_LINE_BREAK[] = L"\r\n";
constexpr wchar_t SUPPORTED_TYPE[] = L"TESSARO HVI";

// Replaces the first `placeholder` in `text`; leaves the text as it is without one.
void replaceFirst(std::wstring& text, const wchar_t* placeholder, const std::wstring& value) {
  const std::size_t at = text.find(placeholder);
  if (at != std::wstring::npos) {
    text.replace(at, std::wstring(placeholder).size(), value);
  }
}

std::wstring hex8(std::uint32_t value) {
  wchar_t digits[16];
  std::swprintf(digits, 16, L"%08x", static_cast<unsigned>(value));
  return digits;
}

}  // namespace

std::wstring expectedText(esc::Language language, esc::MessageId id) {
  const char16_t* text = esc::catalogueText(language, id);
  std::wstring result;
  for (const char16_t* c = text; c != nullptr && *c != u'\0'; ++c) {
    result += static_cast<wchar_t>(*c);
  }
  return result;
}

std::wstring withInstructions(esc::Language language, esc::MessageId heading) {
  return expectedText(language, heading) + INSTRUCTION_SEPARATOR +
         expectedText(language, esc::MSG_INSTRUCTIONS);
}

std::wstring errorBoxText(esc::Language language, esc::MessageId message, std::uint32_t errorValue,
                          std::uint32_t systemError) {
  std::wstring codeLine = expectedText(language, esc::MSG_ERROR_CODE_LINE);
  replaceFirst(codeLine, L"%08x", hex8(errorValue));
  replaceFirst(codeLine, L"%08x", hex8(systemError));
  return expectedText(language, message) + CODE_LINE_BREAK + codeLine;
}

std::wstring incompatibleText(esc::Language language) {
  std::wstring text = expectedText(language, esc::MSG_INCOMPATIBLE);
  replaceFirst(text, L"%s", SUPPORTED_TYPE);
  return text;
}

}  // namespace driver
