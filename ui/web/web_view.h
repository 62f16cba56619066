// What the page shows, drawn by its script (web/app.js): the C++ side decides every text
// and state, the page only puts them on screen and brings back the user's answers.
#pragma once

#include <cstdint>

namespace esc::web {

enum class Box { Error, Information };

void showTitle(const char16_t* title);
void showStatus(const char16_t* text);
// Row 0 to 2; a null label keeps the label shown.
void showVersionRow(int row, const char16_t* label, const char16_t* value, bool enabled);
void enableUpdate(bool enable);
// In-page dialogs, awaited: true for OK (or Yes).
bool askOkCancel(const char16_t* caption, const char16_t* text);
bool askYesNo(const char16_t* caption, const char16_t* text);
void showBox(Box box, const char16_t* caption, const char16_t* text);
void openProgress(const char16_t* title);
void setProgress(std::uint32_t percent);
void closeProgress();
// While the command sequence runs the page warns before it is left and keeps the screen on.
void showSequenceRunning(bool running);

}  // namespace esc::web
