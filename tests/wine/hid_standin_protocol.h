// How the test stand-ins of hid.dll and setupapi.dll reach the emulated devices that the
// Wine test driver serves. Test code only: the product does not know any of this. It
// calls the stand-ins as it calls the system's DLLs and opens the device paths they list
// with its ordinary CreateFileW; each path is a named pipe of the driver.
//
// The bus pipe answers one request per connection (CallNamedPipeW): the list of device
// paths, or the description of one device, named as its pipe handle reports its own
// name. A device pipe is in message mode and carries one report per message, except for
// the flush request that the hid.dll stand-in writes and the acknowledgement it reads
// back: everything the driver sent before the acknowledgement was waiting in the queue
// and is dropped, as HID.DLL drops what its per-handle queue holds.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace standin {

inline constexpr wchar_t BUS_PIPE[] = L"\\\\.\\pipe\\esc-test-hid-bus";
inline constexpr wchar_t DEVICE_PIPE_FOLDER[] = L"\\\\.\\pipe\\esc-test-hid\\";
// GetFileInformationByHandleEx(FileNameInfo) names a pipe without this prefix.
inline constexpr wchar_t PIPE_ROOT[] = L"\\\\.\\pipe";

inline constexpr DWORD BUS_TIMEOUT_MS = 5000;
inline constexpr DWORD FLUSH_TIMEOUT_MS = 5000;
inline constexpr std::size_t MAX_NAME_LENGTH = 256;  // UTF-16 units, terminator included
inline constexpr DWORD MAX_LIST_BYTES = 16384;
inline constexpr DWORD MAX_MESSAGE_BYTES = 4096;

enum class BusRequestKind : std::uint32_t { List = 1, Describe = 2 };

struct BusRequest {
  BusRequestKind kind;
  wchar_t name[MAX_NAME_LENGTH];  // Describe: the device pipe's own name, NUL-terminated
};

// The answer to Describe. The answer to List is the paths of the plugged devices in
// enumeration order, each NUL-terminated, in UTF-16.
struct DeviceDescription {
  std::uint32_t present;  // 0: no plugged device has that name
  std::uint16_t vendorId;
  std::uint16_t productId;
  std::uint16_t inputReportLength;
  std::uint16_t outputReportLength;
};

// Never taken for a report: a report starts with its report id, a small number.
inline constexpr char FLUSH_REQUEST[] = "esc-test-hid: flush the queue";
inline constexpr char FLUSH_DONE[] = "esc-test-hid: queue flushed";

// True when `bytes` are exactly the characters of `message` (without its terminator).
template <std::size_t Size>
bool isMessage(const void* bytes, DWORD length, const char (&message)[Size]) {
  if (length != Size - 1) {
    return false;
  }
  const auto* data = static_cast<const char*>(bytes);
  for (std::size_t i = 0; i + 1 < Size; ++i) {
    if (data[i] != message[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace standin
