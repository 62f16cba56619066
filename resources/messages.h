// The message catalogue: every text the program shows, in English and German.
#pragma once

#include <cstddef>
#include <cstdint>

namespace esc {

using MessageId = std::uint16_t;

inline constexpr std::size_t MESSAGE_BUFFER_UNITS = 2048;

enum class Language { English, German };

// Copies the text of `id` in the user-interface language into `buffer`, NUL-terminated
// and cut to MESSAGE_BUFFER_UNITS - 1 units. An unknown id gives an empty text.
// The Windows program reads its string table; the native build reads the compiled
// catalogue in the language chosen with setMessageLanguage (English by default).
void loadMessage(MessageId id, char16_t* buffer);

// The catalogue's text of `id`, or null when the id has no text in that language.
const char16_t* catalogueText(Language language, MessageId id);
void setMessageLanguage(Language language);

}  // namespace esc
