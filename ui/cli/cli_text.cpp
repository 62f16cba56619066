#include "ui/cli/cli_text.h"

#include <cstdint>

namespace esc::cli {
namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

void appendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

bool isHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The length of a UTF-8 sequence from its lead byte, 0 for a byte that cannot lead one.
std::size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

void appendUtf16(std::u16string& out, char32_t code) {
  if (code < 0x10000) {
    out += static_cast<char16_t>(code);
    return;
  }
  code -= 0x10000;
  out += static_cast<char16_t>(0xD800 + (code >> 10));
  out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
}

bool isGerman(const char* locale) {
  return locale[0] == 'd' && locale[1] == 'e' &&
         (locale[2] == '\0' || locale[2] == '_' || locale[2] == '.' || locale[2] == '@');
}

}  // namespace

std::string toUtf8(const char16_t* text) {
  std::string out;
  if (text == nullptr) {
    return out;
  }
  for (const char16_t* at = text; *at != u'\0'; ++at) {
    const char32_t unit = *at;
    if (unit == u'\r' && at[1] == u'\n') {
      continue;
    }
    if (isHighSurrogate(unit) && isLowSurrogate(at[1])) {
      const char32_t low = at[1];
      appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
      ++at;
    } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
      appendUtf8(out, REPLACEMENT);
    } else {
      appendUtf8(out, unit);
    }
  }
  return out;
}

std::string toUtf8(const std::u16string& text) { return toUtf8(text.c_str()); }

std::u16string fromUtf8(const std::string& text) {
  std::u16string out;
  std::size_t at = 0;
  while (at < text.size()) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = sequenceLength(lead);
    if (length == 0 || at + length > text.size()) {
      appendUtf16(out, REPLACEMENT);
      ++at;
      continue;
    }
    char32_t code = length == 1 ? char32_t{lead} : char32_t{lead} & (0xFFu >> (length + 1));
    bool valid = true;
    for (std::size_t i = 1; i < length; ++i) {
      const auto next = static_cast<unsigned char>(text[at + i]);
      valid = valid && (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    const char32_t least = length == 3 ? 0x800 : length == 4 ? 0x10000 : 0;
    valid = valid && code >= least && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
    if (!valid) {
      appendUtf16(out, REPLACEMENT);
      ++at;
      continue;
    }
    appendUtf16(out, code);
    at += length;
  }
  return out;
}

std::string messageText(MessageId id) {
  char16_t text[MESSAGE_BUFFER_UNITS];
  loadMessage(id, text);
  return toUtf8(text);
}

std::string formattedMessage(MessageId id, const FormatArgument* arguments, std::size_t count) {
  char16_t format[MESSAGE_BUFFER_UNITS];
  char16_t text[MESSAGE_BUFFER_UNITS];
  loadMessage(id, format);
  TextBuffer buffer = startText(text, MESSAGE_BUFFER_UNITS);
  appendFormatted(buffer, format, arguments, count);
  return toUtf8(text);
}

Language languageOfLocale(const char* lcAll, const char* lcMessages, const char* lang) {
  for (const char* locale : {lcAll, lcMessages, lang}) {
    if (locale != nullptr && locale[0] != '\0') {
      return isGerman(locale) ? Language::German : Language::English;
    }
  }
  return Language::English;
}

}  // namespace esc::cli
