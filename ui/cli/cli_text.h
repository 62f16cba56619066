// Texts on a terminal: the catalogue's UTF-16 texts as UTF-8 lines, and the language the
// locale asks for.
#pragma once

#include <cstddef>
#include <string>

#include "resources/messages.h"
#include "ui/wide_format.h"

namespace esc::cli {

// UTF-8 of a UTF-16 text; a lone surrogate becomes U+FFFD. The catalogue's CR LF line
// breaks become "\n", the line end of a terminal, a pipe or a JSON string.
std::string toUtf8(const char16_t* text);
std::string toUtf8(const std::u16string& text);
// UTF-16 of a UTF-8 text (a device path given on the command line); a malformed sequence
// becomes U+FFFD.
std::u16string fromUtf8(const std::string& text);

// A catalogue text in the selected language, as UTF-8.
std::string messageText(MessageId id);
// A catalogue text with its conversions filled in.
std::string formattedMessage(MessageId id, const FormatArgument* arguments, std::size_t count);

// German when the locale that decides message texts is a German one: the first of
// LC_ALL, LC_MESSAGES and LANG that is set and not empty (null when unset), as POSIX
// programs choose it. "de", "de_DE.UTF-8", "de_AT@euro" are German; "C", "POSIX",
// "en_US.UTF-8" and "fr_FR" are not.
Language languageOfLocale(const char* lcAll, const char* lcMessages, const char* lang);

}  // namespace esc::cli
