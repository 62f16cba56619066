// The catalogue lookup of the native build, which has no string-table resources: the
// texts are compiled in, and the language is whatever setMessageLanguage chose last.
#include <algorithm>

#include "resources/catalogue/catalogue_table.h"
#include "resources/messages.h"

namespace esc {

namespace {

Language selectedLanguage = Language::English;

}  // namespace

const char16_t* catalogueText(Language language, MessageId id) {
  const CatalogueEntry* end = CATALOGUE + CATALOGUE_SIZE;
  const CatalogueEntry* entry = std::lower_bound(
      CATALOGUE, end, id,
      [](const CatalogueEntry& candidate, MessageId wanted) { return candidate.id < wanted; });
  if (entry == end || entry->id != id) return nullptr;
  return language == Language::German ? entry->german : entry->english;
}

void setMessageLanguage(Language language) { selectedLanguage = language; }

void loadMessage(MessageId id, char16_t* buffer) {
  const char16_t* text = catalogueText(selectedLanguage, id);
  std::size_t length = 0;
  if (text != nullptr) {
    while (length < MESSAGE_BUFFER_UNITS - 1 && text[length] != u'\0') {
      buffer[length] = text[length];
      ++length;
    }
  }
  buffer[length] = u'\0';
}

}  // namespace esc
