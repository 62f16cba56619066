// Bounded building and formatting of UTF-16 texts in caller-owned buffers.
//
// The formats come from the message catalogue, so they are treated as untrusted: a
// conversion this formatter does not know, or one whose argument is missing or of the
// wrong kind, is copied into the text as it stands instead of being guessed at. Nothing
// is ever written past the buffer, and the text in it is always terminated.
#pragma once

#include <cstddef>
#include <cstdint>

namespace esc {

// A text being built in `data`, which holds `capacity` units including the terminator.
// Once a piece did not fit, `truncated` is set and every later piece is dropped, so the
// text never continues after a gap.
struct TextBuffer {
  char16_t* data;
  std::size_t capacity;
  std::size_t length;
  bool truncated;
};

// Starts an empty text; a null `data` counts as a buffer of capacity 0.
TextBuffer startText(char16_t* data, std::size_t capacity);

// Appends a NUL-terminated text (null counts as empty). A surrogate pair is never split.
void appendText(TextBuffer& buffer, const char16_t* text);

struct FormatArgument {
  enum class Kind { Text, Number };
  Kind kind;
  const char16_t* text;
  std::uint32_t number;
};

inline FormatArgument textArgument(const char16_t* text) {
  return {FormatArgument::Kind::Text, text, 0};
}

inline FormatArgument numberArgument(std::uint32_t number) {
  return {FormatArgument::Kind::Number, nullptr, number};
}

// Appends `format` with its conversions filled from `arguments`, in order:
//   %s  a Text argument            %u  a Number in decimal
//   %x  a Number in lowercase hex  %%  a percent sign
// %u and %x take an optional 0 flag and a width of one or two digits (%08x: eight hex
// digits with leading zeros); a number that does not fit whole is left out. Each
// conversion consumes one argument; when its argument is of the other kind the
// conversion is copied literally and the argument still consumed, so the following
// conversions keep their places. Past the last argument, conversions are copied
// literally.
void appendFormatted(TextBuffer& buffer, const char16_t* format, const FormatArgument* arguments,
                     std::size_t argumentCount);

}  // namespace esc
