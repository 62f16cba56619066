// The catalogue lookup of the Windows program: its string table, in the language that
// the resource loader picks from the user-interface language (German or English).
#include <windows.h>

#include <algorithm>

#include "resources/messages.h"

namespace esc {

void loadMessage(MessageId id, char16_t* buffer) {
  // LoadStringW wants wchar_t; a local buffer keeps the two types apart instead of
  // reading one through a pointer to the other.
  wchar_t text[MESSAGE_BUFFER_UNITS];
  const int length =
      LoadStringW(GetModuleHandleW(nullptr), id, text, static_cast<int>(MESSAGE_BUFFER_UNITS));
  // An id without a text gives 0 and may leave the buffer untouched.
  const std::size_t count =
      length > 0 ? std::min(static_cast<std::size_t>(length), MESSAGE_BUFFER_UNITS - 1) : 0;
  for (std::size_t i = 0; i < count; ++i) buffer[i] = static_cast<char16_t>(text[i]);
  buffer[count] = u'\0';
}

}  // namespace esc
