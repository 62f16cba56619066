// Transfer checks of the platform probe. No HID device exists under Wine, so the
// overlapped transfers run against a named pipe, which the platform opens exactly like a
// device: the probe holds the server end and plays the unit.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "device/win32/platform_win32.h"
#include "tests/wine/platform_probe.h"

namespace {

using probe::check;
using probe::platform;

constexpr DWORD REPORT_LENGTH = 8;

std::wstring pipeName() {
  return L"\\\\.\\pipe\\esc-platform-probe-" + std::to_wstring(GetCurrentProcessId());
}

bool serverSends(HANDLE server, const std::uint8_t* data, DWORD length) {
  DWORD written = 0;
  return WriteFile(server, data, length, &written, nullptr) && written == length;
}

// Plays an unplugged unit: the server end goes away while the client waits for an answer.
DWORD WINAPI closeAfterDelay(void* server) {
  Sleep(150);
  CloseHandle(static_cast<HANDLE>(server));
  return 0;
}

std::uint64_t millisecondsSince(std::uint64_t startMicroseconds) {
  const esc::HidPlatform& p = platform();
  return (p.nowMicroseconds(p.context) - startMicroseconds) / 1000u;
}

void checkTimedOutRead(esc::DeviceHandle client) {
  const esc::HidPlatform& p = platform();
  std::uint8_t answer[REPORT_LENGTH] = {};
  const std::uint64_t start = p.nowMicroseconds(p.context);
  const bool read = p.readReport(p.context, client, answer, REPORT_LENGTH, 200);
  const std::uint64_t elapsed = millisecondsSince(start);
  check(!read && p.lastError(p.context) == ERROR_TIMEOUT && GetLastError() == ERROR_TIMEOUT,
        "a read with no answer fails with ERROR_TIMEOUT after the cancel (lastError %u)",
        p.lastError(p.context));
  check(elapsed >= 180 && elapsed < 2000, "the read gave up after its 200 ms timeout (%llu ms)",
        static_cast<unsigned long long>(elapsed));
}

void checkAnswers(HANDLE server, esc::DeviceHandle client) {
  const esc::HidPlatform& p = platform();
  const std::uint8_t report[REPORT_LENGTH] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
  std::uint8_t answer[REPORT_LENGTH];
  std::memset(answer, 0xEE, sizeof(answer));
  const bool sent = serverSends(server, report, REPORT_LENGTH);
  const bool read = p.readReport(p.context, client, answer, REPORT_LENGTH, 1000);
  check(sent && read && std::memcmp(answer, report, REPORT_LENGTH) == 0,
        "after a cancelled read the next whole report arrives intact");

  const bool shortSent = serverSends(server, report, 5);
  const bool shortRead = p.readReport(p.context, client, answer, REPORT_LENGTH, 1000);
  check(shortSent && !shortRead && p.lastError(p.context) == ERROR_BAD_LENGTH,
        "a report shorter than asked is a failure (lastError %u)", p.lastError(p.context));

  const std::uint8_t request[REPORT_LENGTH] = {0x01, 0x08, 0x00, 0x00, 0xA1, 0xB2, 0xC3, 0xD4};
  const bool written = p.writeReport(p.context, client, request, REPORT_LENGTH, 1000);
  std::uint8_t received[REPORT_LENGTH] = {};
  DWORD receivedLength = 0;
  const bool serverRead = ReadFile(server, received, REPORT_LENGTH, &receivedLength, nullptr);
  check(written && serverRead && receivedLength == REPORT_LENGTH &&
            std::memcmp(received, request, REPORT_LENGTH) == 0,
        "a written report reaches the other end whole");

  const bool emptyWritten = p.writeReport(p.context, client, request, 0, 1000);
  const std::uint32_t emptyError = p.lastError(p.context);
  check(!emptyWritten && emptyError == ERROR_INVALID_PARAMETER,
        "an empty write is refused (lastError %u)", emptyError);
}

void checkUnplugged(HANDLE server, esc::DeviceHandle client) {
  const esc::HidPlatform& p = platform();
  const HANDLE closer = CreateThread(nullptr, 0, closeAfterDelay, server, 0, nullptr);
  check(closer != nullptr, "the helper thread starts");
  if (closer == nullptr) {
    CloseHandle(server);
    return;
  }
  std::uint8_t answer[REPORT_LENGTH] = {};
  const std::uint64_t start = p.nowMicroseconds(p.context);
  const bool read = p.readReport(p.context, client, answer, REPORT_LENGTH, 5000);
  const std::uint64_t elapsed = millisecondsSince(start);
  const std::uint32_t error = p.lastError(p.context);
  WaitForSingleObject(closer, INFINITE);
  CloseHandle(closer);
  check(!read && error != 0 && error != ERROR_TIMEOUT && GetLastError() == error,
        "a vanished device fails the pending read with its own error (lastError %u)", error);
  check(elapsed < 2000, "the read ended when the device vanished, not at its timeout (%llu ms)",
        static_cast<unsigned long long>(elapsed));

  SetLastError(4242);
  p.closeDevice(p.context, client);
  p.closeDevice(p.context, esc::INVALID_DEVICE_HANDLE);
  check(GetLastError() == 4242 && p.lastError(p.context) == error,
        "closing leaves both the thread's and the platform's last error alone");
}

}  // namespace

namespace probe {

void checkTransfers() {
  const esc::HidPlatform& p = platform();
  const std::wstring name = pipeName();
  const HANDLE server = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
                                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                         4096, 4096, 0, nullptr);
  check(server != INVALID_HANDLE_VALUE, "the stand-in device (a named pipe) is created");
  if (server == INVALID_HANDLE_VALUE) {
    return;
  }
  const std::u16string path(name.begin(), name.end());
  const esc::DeviceHandle client = p.openDevice(p.context, path.c_str());
  check(client != esc::INVALID_DEVICE_HANDLE, "the stand-in device opens for overlapped I/O");
  if (client == esc::INVALID_DEVICE_HANDLE) {
    CloseHandle(server);
    return;
  }
  ConnectNamedPipe(server, nullptr);  // already connected by the open; completes at once
  checkTimedOutRead(client);
  checkAnswers(server, client);
  checkUnplugged(server, client);  // closes both ends
}

}  // namespace probe
