#include "device/win32/overlapped_transfer.h"

namespace esc {
namespace {

class EventHandle {
 public:
  EventHandle() : handle_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~EventHandle() {
    if (handle_ != nullptr) {
      CloseHandle(handle_);
    }
  }
  EventHandle(const EventHandle&) = delete;
  EventHandle& operator=(const EventHandle&) = delete;

  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

DWORD knownError(DWORD error) { return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE; }

// Waits for a transfer that WriteFile or ReadFile has just started. On a timeout the
// transfer is cancelled and, before returning, awaited to its end: until then the driver
// still owns the OVERLAPPED on our stack and the caller's buffer.
DWORD finishTransfer(HANDLE device, OVERLAPPED& overlapped, BOOL completedAtOnce, DWORD length,
                     DWORD timeoutMs) {
  if (!completedAtOnce) {
    const DWORD startError = GetLastError();
    if (startError != ERROR_IO_PENDING) {
      return knownError(startError);
    }
  }
  DWORD transferred = 0;
  const DWORD waited = WaitForSingleObject(overlapped.hEvent, timeoutMs);
  if (waited != WAIT_OBJECT_0) {
    const DWORD waitError = waited == WAIT_TIMEOUT ? ERROR_TIMEOUT : knownError(GetLastError());
    CancelIoEx(device, &overlapped);
    const BOOL finished = GetOverlappedResult(device, &overlapped, &transferred, TRUE);
    // The transfer may have completed between the end of the wait and the cancel; its
    // bytes then went through, and calling that a failure would lose a report.
    if (finished && transferred == length) {
      return ERROR_SUCCESS;
    }
    return waitError;
  }
  if (!GetOverlappedResult(device, &overlapped, &transferred, FALSE)) {
    return knownError(GetLastError());
  }
  return transferred == length ? ERROR_SUCCESS : ERROR_BAD_LENGTH;
}

}  // namespace

DWORD writeOverlapped(HANDLE device, const void* buffer, DWORD length, DWORD timeoutMs) {
  if (buffer == nullptr || length == 0) {
    return ERROR_INVALID_PARAMETER;
  }
  const EventHandle event;
  if (event.get() == nullptr) {
    return knownError(GetLastError());
  }
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.get();
  const BOOL completed = WriteFile(device, buffer, length, nullptr, &overlapped);
  return finishTransfer(device, overlapped, completed, length, timeoutMs);
}

DWORD readOverlapped(HANDLE device, void* buffer, DWORD length, DWORD timeoutMs) {
  if (buffer == nullptr || length == 0) {
    return ERROR_INVALID_PARAMETER;
  }
  const EventHandle event;
  if (event.get() == nullptr) {
    return knownError(GetLastError());
  }
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.get();
  const BOOL completed = ReadFile(device, buffer, length, nullptr, &overlapped);
  return finishTransfer(device, overlapped, completed, length, timeoutMs);
}

}  // namespace esc
