// The compiled catalogue of the native build: one entry per message id, sorted by id.
// The entries are generated from messages.txt.
#pragma once

#include <cstddef>

#include "resources/messages.h"

namespace esc {

struct CatalogueEntry {
  MessageId id;
  const char16_t* english;
  const char16_t* german;
};

extern const CatalogueEntry CATALOGUE[];
extern const std::size_t CATALOGUE_SIZE;

}  // namespace esc
