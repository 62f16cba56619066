// Keeping the program's windows alive while the update runs on their thread: the pauses
// the unit needs between commands are spent retrieving the thread's messages, so that
// Windows never judges the windows hung, they repaint and the progress bar moves. What a
// person types or clicks into them meanwhile is dropped, not deferred: it must neither
// stop the update nor act once it has ended.
#pragma once

#include <windows.h>

#include <cstdint>

namespace esc {

// Drops the user input (keyboard, mouse, touch, in the client area or the frame) that
// reached `window`, a window it owns or no window while the thread was busy, so that none
// of it acts on what comes next. Every other waiting message is handled, and messages
// sent from other threads and processes are delivered meanwhile, whatever they are.
void dropQueuedInput(HWND window);

// Returns when the platform's clock reaches `deadlineMicroseconds`, and not noticeably
// later: waiting messages are handled as by dropQueuedInput at once and then at least
// every 20 ms, and the time in between is slept on the platform's precise clock. No
// message is retrieved once the deadline has passed, so they never lengthen the pause.
void waitHandlingMessages(HWND window, std::uint64_t deadlineMicroseconds);

// A quit request (WM_QUIT) that one of the above retrieved is remembered, not acted on:
// posted again at once, it would be retrieved again in the next slice, over and over,
// and no paint would get through. Posts it once the work that waited has returned to the
// dialog's loop, which then ends; does nothing when there was none.
void postRememberedQuit();

}  // namespace esc
