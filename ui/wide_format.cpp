#include "ui/wide_format.h"

namespace esc {

namespace {

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
bool isDigit(char16_t unit) { return unit >= u'0' && unit <= u'9'; }

constexpr std::size_t MAX_WIDTH_DIGITS = 2;
constexpr std::size_t MAX_WIDTH = 99;

// Appends `count` units that must stay together (a unit, a surrogate pair, a number).
void appendUnits(TextBuffer& buffer, const char16_t* units, std::size_t count) {
  if (buffer.truncated) return;
  if (buffer.capacity - buffer.length <= count) {
    buffer.truncated = true;
    return;
  }
  for (std::size_t i = 0; i < count; ++i) buffer.data[buffer.length++] = units[i];
  buffer.data[buffer.length] = u'\0';
}

// Appends [begin, end) without splitting a surrogate pair.
void appendRange(TextBuffer& buffer, const char16_t* begin, const char16_t* end) {
  while (begin < end && !buffer.truncated) {
    const std::size_t count =
        isHighSurrogate(begin[0]) && end - begin > 1 && isLowSurrogate(begin[1]) ? 2 : 1;
    appendUnits(buffer, begin, count);
    begin += count;
  }
}

// A number goes in whole or not at all: a cut-off code would read as a different code.
void appendNumber(TextBuffer& buffer, std::uint32_t number, unsigned base, std::size_t width,
                  bool zeroPadded) {
  // 32 bits take at most ten decimal digits; the width has at most two digits.
  char16_t digits[10];
  std::size_t digitCount = 0;
  do {
    const std::uint32_t digit = number % base;
    digits[digitCount++] = static_cast<char16_t>(digit < 10 ? u'0' + digit : u'a' + digit - 10);
    number /= base;
  } while (number != 0);
  char16_t text[MAX_WIDTH + 10];
  std::size_t length = 0;
  for (std::size_t filled = digitCount; filled < width; ++filled) {
    text[length++] = zeroPadded ? u'0' : u' ';
  }
  while (digitCount > 0) text[length++] = digits[--digitCount];
  appendUnits(buffer, text, length);
}

}  // namespace

TextBuffer startText(char16_t* data, std::size_t capacity) {
  TextBuffer buffer{data, data == nullptr ? 0 : capacity, 0, false};
  if (buffer.capacity > 0) buffer.data[0] = u'\0';
  return buffer;
}

void appendText(TextBuffer& buffer, const char16_t* text) {
  if (text == nullptr) return;
  const char16_t* end = text;
  while (*end != u'\0') ++end;
  appendRange(buffer, text, end);
}

void appendFormatted(TextBuffer& buffer, const char16_t* format, const FormatArgument* arguments,
                     std::size_t argumentCount) {
  if (format == nullptr) return;
  std::size_t nextArgument = 0;
  const char16_t* cursor = format;
  while (*cursor != u'\0' && !buffer.truncated) {
    if (*cursor != u'%') {
      const char16_t* plain = cursor;
      while (*cursor != u'\0' && *cursor != u'%') ++cursor;
      appendRange(buffer, plain, cursor);
      continue;
    }
    const char16_t* conversion = cursor++;
    if (*cursor == u'%') {
      appendUnits(buffer, cursor++, 1);
      continue;
    }
    const bool zeroPadded = *cursor == u'0';
    if (zeroPadded) ++cursor;
    std::size_t width = 0;
    std::size_t widthDigits = 0;
    while (isDigit(*cursor) && widthDigits <= MAX_WIDTH_DIGITS) {
      width = width * 10 + static_cast<std::size_t>(*cursor - u'0');
      ++widthDigits;
      ++cursor;
    }
    const char16_t type = *cursor;
    const bool isNumber = (type == u'u' || type == u'x') && widthDigits <= MAX_WIDTH_DIGITS;
    const bool isText = type == u's' && !zeroPadded && widthDigits == 0;
    if (!isNumber && !isText) {
      // Unknown: copy what was read; the unit that stopped the reading is read again
      // as ordinary text (or as the start of the next conversion).
      appendRange(buffer, conversion, cursor);
      continue;
    }
    ++cursor;
    if (nextArgument == argumentCount) {
      appendRange(buffer, conversion, cursor);
      continue;
    }
    const FormatArgument& argument = arguments[nextArgument++];
    if (isText && argument.kind == FormatArgument::Kind::Text) {
      appendText(buffer, argument.text);
    } else if (isNumber && argument.kind == FormatArgument::Kind::Number) {
      appendNumber(buffer, argument.number, type == u'x' ? 16u : 10u, width, zeroPadded);
    } else {
      appendRange(buffer, conversion, cursor);
    }
  }
}

}  // namespace esc
