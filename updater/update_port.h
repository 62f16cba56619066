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
  // Shows a question; true only for OK (Confirmation) or Yes (OlderFirmware). A front end
  // that handles device events once the question closes may also answer false when they
  // gave up the unit behind the link (a swapped-in controller detection refused): the
  // user has been told by detection, so the update ends there without a further message.
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
  // Nothing was sent: after a question, the link holds a controller this build does not
  // update (one swapped in while the question was open). The front end tells what its
  // detection tells for that unit and leaves the link as detection leaves it.
  void (*refused)(void* context);
  // The command sequence starts with the lock request. From here until reportError or
  // succeeded the update uses the link, and stopping it halfway would leave the ESC
  // without firmware.
  void (*sequenceStarts)(void* context);
  // One of the pauses the unit needs between commands. Returns once the platform's clock
  // has reached the deadline and not noticeably later: whatever the front end does inside
  // it (handling its window's messages, a signal) fits into the pause, never adds to it.
  void (*waitUntil)(void* context, std::uint64_t deadlineMicroseconds);
};

// A waitUntil for front ends with nothing to do during the pauses.
void sleepUntilDeadline(void* context, std::uint64_t deadlineMicroseconds);

}  // namespace esc
