// How the update procedure reaches the user: questions, the progress window, the error
// report and the final state of the dialog. The Windows program fills it with message
// boxes and a progress bar; the tests fill it with recorders.
#pragma once

#include <cstdint>

namespace esc {

enum class Question {
  Confirmation,   // OK / Cancel, warning icon
  OlderFirmware,  // Yes / No, warning icon
};

struct UpdatePort {
  void* context;
  // Shows a question; true only for OK (Confirmation) or Yes (OlderFirmware).
  bool (*ask)(void* context, Question question, const char16_t* caption, const char16_t* text);
  void (*progressOpen)(void* context, const char16_t* title);
  // Position 0 to 100; called once after every block and once before the first.
  void (*progressSet)(void* context, std::uint32_t position);
  void (*progressClose)(void* context);
  // Shows a failure after the link was closed: disables Update, refreshes the versions,
  // shows the error box and leaves the failure notice in the status panel.
  void (*reportError)(void* context, const char16_t* message, const char16_t* caption,
                      std::int32_t errorValue, std::uint32_t systemError);
  // The update completed: disables Update, refreshes the versions, shows success.
  void (*succeeded)(void* context);
};

}  // namespace esc
