// What both test stand-in DLLs need: the call to the driver's bus pipe, and one bounded
// transfer on a device pipe that the program opened for overlapped I/O.
#pragma once

#include <windows.h>

#include "tests/wine/hid_standin_protocol.h"

namespace standin {

// Sends `request` to the bus pipe and receives its answer into `answer`; ERROR_SUCCESS
// or the Windows error of the call.
DWORD callBus(const BusRequest& request, void* answer, DWORD capacity, DWORD& received);

enum class Direction { Read, Write };

// One ReadFile or WriteFile on `device`, given up (and cancelled) after `timeoutMs`.
// ERROR_SUCCESS, ERROR_TIMEOUT, or the transfer's own error (ERROR_MORE_DATA for a
// message longer than `length`, whose first `length` bytes were read).
DWORD transfer(HANDLE device, Direction direction, void* buffer, DWORD length, DWORD timeoutMs,
               DWORD& transferred);

}  // namespace standin
