#include "tests/wine/standin_io.h"

namespace standin {

DWORD callBus(const BusRequest& request, void* answer, DWORD capacity, DWORD& received) {
  received = 0;
  // CallNamedPipeW waits for the driver's one bus instance while another caller has it.
  if (!CallNamedPipeW(BUS_PIPE, const_cast<BusRequest*>(&request), sizeof request, answer, capacity,
                      &received, BUS_TIMEOUT_MS)) {
    return GetLastError();
  }
  return ERROR_SUCCESS;
}

DWORD transfer(HANDLE device, Direction direction, void* buffer, DWORD length, DWORD timeoutMs,
               DWORD& transferred) {
  transferred = 0;
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (overlapped.hEvent == nullptr) {
    return GetLastError();
  }
  const BOOL started = direction == Direction::Write
                           ? WriteFile(device, buffer, length, nullptr, &overlapped)
                           : ReadFile(device, buffer, length, nullptr, &overlapped);
  DWORD error = started ? ERROR_SUCCESS : GetLastError();
  bool timedOut = false;
  if (started || error == ERROR_IO_PENDING || error == ERROR_MORE_DATA) {
    if (WaitForSingleObject(overlapped.hEvent, timeoutMs) != WAIT_OBJECT_0) {
      timedOut = true;
      CancelIoEx(device, &overlapped);
    }
    // Waited to its end even when cancelled: until then the system owns `overlapped`.
    error = GetOverlappedResult(device, &overlapped, &transferred, TRUE) ? ERROR_SUCCESS
                                                                         : GetLastError();
    if (timedOut && error == ERROR_OPERATION_ABORTED) {
      error = ERROR_TIMEOUT;
    }
  }
  CloseHandle(overlapped.hEvent);
  return error;
}

}  // namespace standin
