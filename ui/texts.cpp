#include "ui/texts.h"

#include "ui/wide_format.h"

namespace esc {

// The program's fixed texts outside the catalogue; they read the same in both languages.
const char16_t NO_LINK_VERSION_TEXT[] = u"0.0.0";

namespace {

constexpr char16_t VERSION_PREFIX_FORMAT[] = u"%u.";
constexpr char16_t VERSION_PAIR_FORMAT[] = u"%u.%u";
constexpr char16_t NO_FIRMWARE_TEXT[] = u"----------";
constexpr char16_t TUNEPUCK_LABEL[] = u"TUNEPUCK";
constexpr char16_t CONF_POD_LABEL[] = u"CONF-POD";
constexpr char16_t TITLE_FORMAT[] = u"VELMOR %s FW Updater %u.%u %s";
constexpr char16_t CODE_LINE_SEPARATOR[] = u"\r\n";
constexpr char16_t INSTRUCTIONS_SEPARATOR[] = u"\r\n\r\n";

constexpr std::uint16_t TUNEPUCK_PRODUCT_ID = 1;
constexpr std::uint16_t NO_ESC_FIRMWARE = 0xFFFF;
// The update procedure passes -1 whenever it has no status code to show.
constexpr std::int32_t NO_STATUS_CODE = -1;

void appendVersionPair(TextBuffer& buffer, std::uint32_t major, std::uint32_t minor) {
  const FormatArgument pair[] = {numberArgument(major), numberArgument(minor)};
  appendFormatted(buffer, VERSION_PAIR_FORMAT, pair, 2);
}

// Bits 24-31 as an optional leading number, then bits 8-15 and 0-7; bits 16-23 are
// deliberately not shown.
void formatPackedVersion(std::uint32_t version, char16_t (&text)[VERSION_TEXT_UNITS]) {
  TextBuffer buffer = startText(text, VERSION_TEXT_UNITS);
  const std::uint32_t top = version >> 24;
  if (top != 0) {
    const FormatArgument prefix[] = {numberArgument(top)};
    appendFormatted(buffer, VERSION_PREFIX_FORMAT, prefix, 1);
  }
  appendVersionPair(buffer, (version >> 8) & 0xFFu, version & 0xFFu);
}

}  // namespace

void formatUnitVersion(std::uint32_t version, char16_t (&text)[VERSION_TEXT_UNITS]) {
  // A zero low byte is dropped: bytes 0, 1, 5, 0 read 1.5 just like 0, 0, 1, 5.
  if ((version & 0xFFu) == 0) version >>= 8;
  formatPackedVersion(version, text);
}

void formatBootloaderVersion(std::uint32_t version, char16_t (&text)[VERSION_TEXT_UNITS]) {
  formatPackedVersion(version, text);
}

void formatEscFirmwareVersion(std::uint16_t version, char16_t (&text)[VERSION_TEXT_UNITS]) {
  TextBuffer buffer = startText(text, VERSION_TEXT_UNITS);
  if (version == NO_ESC_FIRMWARE) {
    appendText(buffer, NO_FIRMWARE_TEXT);
    return;
  }
  const std::uint32_t value = version;
  appendVersionPair(buffer, value >> 8, value & 0xFFu);
}

const char16_t* unitTypeLabel(std::uint16_t productId) {
  return productId == TUNEPUCK_PRODUCT_ID ? TUNEPUCK_LABEL : CONF_POD_LABEL;
}

void formatTitle(char16_t (&title)[TITLE_UNITS]) {
  TextBuffer buffer = startText(title, TITLE_UNITS);
  const FormatArgument arguments[] = {
      textArgument(SUPPORTED_ESC_TYPE), numberArgument(UPDATER_VERSION_MAJOR),
      numberArgument(UPDATER_VERSION_MINOR), textArgument(UPDATER_EDITION)};
  appendFormatted(buffer, TITLE_FORMAT, arguments, 4);
}

void composeErrorText(const char16_t* message, const char16_t* codeLineFormat,
                      std::int32_t errorValue, std::uint32_t systemError, char16_t* text,
                      std::size_t capacity) {
  TextBuffer buffer = startText(text, capacity);
  appendText(buffer, message);
  if (errorValue == NO_STATUS_CODE) return;
  appendText(buffer, CODE_LINE_SEPARATOR);
  // A negative status code shows as its 32-bit two's-complement pattern.
  const FormatArgument codes[] = {numberArgument(static_cast<std::uint32_t>(errorValue)),
                                  numberArgument(systemError)};
  appendFormatted(buffer, codeLineFormat, codes, 2);
}

void composeStatusWithInstructions(const char16_t* heading, const char16_t* instructions,
                                   char16_t* text, std::size_t capacity) {
  TextBuffer buffer = startText(text, capacity);
  appendText(buffer, heading);
  appendText(buffer, INSTRUCTIONS_SEPARATOR);
  appendText(buffer, instructions);
}

void formatIncompatibleText(const char16_t* format, char16_t* text, std::size_t capacity) {
  TextBuffer buffer = startText(text, capacity);
  const FormatArgument type[] = {textArgument(SUPPORTED_ESC_TYPE)};
  appendFormatted(buffer, format, type, 1);
}

}  // namespace esc
