// An argument as a usage error shows it. Arguments come from the user's shell or a script
// and may hold any byte: a newline would break the one-line error, an escape sequence would
// drive the terminal. Control characters are written as C escapes instead; everything else,
// backslashes of Windows paths and UTF-8 included, stays as typed.
#pragma once

#include <string>

namespace esc::cli {

inline std::string shownArgument(const std::string& text) {
  static const char HEX[] = "0123456789ABCDEF";
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      shown.push_back(c);
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (c == '\t') {
      shown += "\\t";
    } else {
      shown += "\\x";
      shown.push_back(HEX[byte >> 4]);
      shown.push_back(HEX[byte & 0x0F]);
    }
  }
  return shown;
}

}  // namespace esc::cli
