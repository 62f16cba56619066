// The program keeps its texts as UTF-16 char16_t; the W functions of Windows take the
// same units as wchar_t.
#pragma once

namespace esc {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

inline const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

}  // namespace esc
