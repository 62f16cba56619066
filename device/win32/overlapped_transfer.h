// One report written to or read from a device opened for overlapped I/O, bounded by a
// timeout.
#pragma once

#include <windows.h>

#include "device/hid_platform.h"

namespace esc {

// Each returns ERROR_SUCCESS when exactly `length` bytes went through within
// `timeoutMs`. Otherwise the Windows error code: ERROR_TIMEOUT when the time ran out,
// ERROR_BAD_LENGTH when fewer bytes went through, or the error the transfer itself
// reported (ERROR_DEVICE_NOT_CONNECTED for an unplugged unit, for example). When they
// return, no I/O on `buffer` is pending any more. While they wait, `handler` runs as
// TransferWaitHandler says.
DWORD writeOverlapped(HANDLE device, const void* buffer, DWORD length, DWORD timeoutMs,
                      const TransferWaitHandler& handler);
DWORD readOverlapped(HANDLE device, void* buffer, DWORD length, DWORD timeoutMs,
                     const TransferWaitHandler& handler);

}  // namespace esc
