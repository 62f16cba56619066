#include "device/win32/overlapped_transfer.h"

#include <algorithm>
#include <cstdint>

#include "device/win32/precise_clock.h"

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

// Waits for the transfer's event until `timeoutMs` have passed, running the handler
// after each slice it waited in vain. Returns what the last wait returned.
DWORD waitForTransfer(HANDLE event, DWORD timeoutMs, const TransferWaitHandler& handler) {
  if (handler.whileWaiting == nullptr) {
    return WaitForSingleObject(event, timeoutMs);
  }
  const std::uint64_t deadline = monotonicMicroseconds() + std::uint64_t{timeoutMs} * 1000u;
  for (;;) {
    const std::uint64_t now = monotonicMicroseconds();
    // Rounded up, so that the last slice does not end before the deadline.
    const std::uint64_t leftMs = now < deadline ? (deadline - now + 999) / 1000 : 0;
    const DWORD slice = static_cast<DWORD>(std::min<std::uint64_t>(leftMs, TRANSFER_WAIT_SLICE_MS));
    const DWORD waited = WaitForSingleObject(event, slice);
    if (waited != WAIT_TIMEOUT || leftMs <= TRANSFER_WAIT_SLICE_MS) {
      return waited;
    }
    handler.whileWaiting(handler.context);
  }
}

// Waits for a transfer that WriteFile or ReadFile has just started. On a timeout the
// transfer is cancelled and, before returning, awaited to its end: until then the driver
// still owns the OVERLAPPED on our stack and the caller's buffer.
DWORD finishTransfer(HANDLE device, OVERLAPPED& overlapped, BOOL completedAtOnce, DWORD length,
                     DWORD timeoutMs, const TransferWaitHandler& handler) {
  if (!completedAtOnce) {
    const DWORD startError = GetLastError();
    if (startError != ERROR_IO_PENDING) {
      return knownError(startError);
    }
  }
  DWORD transferred = 0;
  const DWORD waited = waitForTransfer(overlapped.hEvent, timeoutMs, handler);
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

DWORD writeOverlapped(HANDLE device, const void* buffer, DWORD length, DWORD timeoutMs,
                      const TransferWaitHandler& handler) {
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
  return finishTransfer(device, overlapped, completed, length, timeoutMs, handler);
}

DWORD readOverlapped(HANDLE device, void* buffer, DWORD length, DWORD timeoutMs,
                     const TransferWaitHandler& handler) {
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
  return finishTransfer(device, overlapped, completed, length, timeoutMs, handler);
}

}  // namespace esc
