// A stand-in for hid.dll in the Wine test prefix, used by EscUpdater.exe only: the HID
// functions the updater resolves, answered for the devices that the test driver serves
// as named pipes (tests/wine/hid_standin_protocol.h). The functions carry the names and
// signatures of the SDK's own declarations, so the compiler holds them to those.
#include <windows.h>
extern "C" {
#include <hidsdi.h>
}

#include <cstdint>
#include <cstring>
#include <cwchar>

#include "tests/wine/hid_standin_protocol.h"
#include "tests/wine/standin_io.h"

namespace {

constexpr GUID HID_INTERFACE_CLASS = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr USAGE VENDOR_DEFINED_PAGE = 0xFF00;
constexpr USAGE VENDOR_USAGE = 0x0001;
constexpr std::uint32_t PREPARSED_MAGIC = 0x48505245;

struct PreparsedRecord {
  std::uint32_t magic;
  USHORT inputLength;
  USHORT outputLength;
};

BOOLEAN fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Which emulated device the handle's pipe belongs to, asked of the driver by the pipe's
// own name. A handle the driver does not serve is no HID device.
DWORD describe(HANDLE device, standin::DeviceDescription& description) {
  alignas(FILE_NAME_INFO) unsigned char
      nameBuffer[sizeof(FILE_NAME_INFO) + standin::MAX_NAME_LENGTH * sizeof(wchar_t)];
  if (!GetFileInformationByHandleEx(device, FileNameInfo, nameBuffer, sizeof nameBuffer)) {
    return GetLastError();
  }
  const auto* name = reinterpret_cast<const FILE_NAME_INFO*>(nameBuffer);
  const std::size_t length = name->FileNameLength / sizeof(wchar_t);
  if (length == 0 || length >= standin::MAX_NAME_LENGTH) {
    return ERROR_INVALID_FUNCTION;
  }
  standin::BusRequest request{};
  request.kind = standin::BusRequestKind::Describe;
  std::wmemcpy(request.name, name->FileName, length);
  DWORD received = 0;
  const DWORD error = standin::callBus(request, &description, sizeof description, received);
  if (error != ERROR_SUCCESS) {
    return error;
  }
  if (received != sizeof description) {
    return ERROR_INVALID_DATA;
  }
  return description.present != 0 ? ERROR_SUCCESS : ERROR_INVALID_FUNCTION;
}

// CreateFileW opens a pipe's client end in byte mode, where one read could join two
// messages; in message mode every read returns one report, as on a HID handle.
DWORD readOneMessagePerRead(HANDLE device) {
  DWORD mode = PIPE_READMODE_MESSAGE;
  return SetNamedPipeHandleState(device, &mode, nullptr, nullptr) ? ERROR_SUCCESS : GetLastError();
}

DWORD describeAndAdopt(HANDLE device, standin::DeviceDescription& description) {
  const DWORD error = describe(device, description);
  return error != ERROR_SUCCESS ? error : readOneMessagePerRead(device);
}

}  // namespace

extern "C" {

void NTAPI HidD_GetHidGuid(LPGUID hidGuid) {
  if (hidGuid != nullptr) {
    *hidGuid = HID_INTERFACE_CLASS;
  }
}

BOOLEAN NTAPI HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) {
  if (attributes == nullptr) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  standin::DeviceDescription description{};
  const DWORD error = describeAndAdopt(device, description);
  if (error != ERROR_SUCCESS) {
    return fail(error);
  }
  attributes->Size = sizeof(HIDD_ATTRIBUTES);
  attributes->VendorID = description.vendorId;
  attributes->ProductID = description.productId;
  attributes->VersionNumber = 0;
  return TRUE;
}

BOOLEAN NTAPI HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsedData) {
  if (preparsedData == nullptr) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  standin::DeviceDescription description{};
  const DWORD error = describeAndAdopt(device, description);
  if (error != ERROR_SUCCESS) {
    return fail(error);
  }
  auto* record =
      static_cast<PreparsedRecord*>(HeapAlloc(GetProcessHeap(), 0, sizeof(PreparsedRecord)));
  if (record == nullptr) {
    return fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  *record = PreparsedRecord{PREPARSED_MAGIC, description.inputReportLength,
                            description.outputReportLength};
  *preparsedData = reinterpret_cast<PHIDP_PREPARSED_DATA>(record);
  return TRUE;
}

BOOLEAN NTAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData) {
  auto* record = reinterpret_cast<PreparsedRecord*>(preparsedData);
  if (record == nullptr || record->magic != PREPARSED_MAGIC) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  // A second free of the same record is then refused instead of freeing twice.
  record->magic = 0;
  HeapFree(GetProcessHeap(), 0, record);
  return TRUE;
}

NTSTATUS NTAPI HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS capabilities) {
  const auto* record = reinterpret_cast<const PreparsedRecord*>(preparsedData);
  if (record == nullptr || record->magic != PREPARSED_MAGIC || capabilities == nullptr) {
    return HIDP_STATUS_INVALID_PREPARSED_DATA;
  }
  *capabilities = HIDP_CAPS{};
  capabilities->UsagePage = VENDOR_DEFINED_PAGE;
  capabilities->Usage = VENDOR_USAGE;
  capabilities->InputReportByteLength = record->inputLength;
  capabilities->OutputReportByteLength = record->outputLength;
  return HIDP_STATUS_SUCCESS;
}

// Everything the driver sent before it answers the flush request was waiting in the
// queue; reading up to the acknowledgement drops exactly that, however the driver's and
// the program's threads were timed.
BOOLEAN NTAPI HidD_FlushQueue(HANDLE device) {
  DWORD error = readOneMessagePerRead(device);
  if (error != ERROR_SUCCESS) {
    return fail(error);
  }
  char message[standin::MAX_MESSAGE_BYTES];
  DWORD transferred = 0;
  std::memcpy(message, standin::FLUSH_REQUEST, sizeof standin::FLUSH_REQUEST - 1);
  error =
      standin::transfer(device, standin::Direction::Write, message,
                        sizeof standin::FLUSH_REQUEST - 1, standin::FLUSH_TIMEOUT_MS, transferred);
  if (error != ERROR_SUCCESS) {
    return fail(error);
  }
  const ULONGLONG deadline = GetTickCount64() + standin::FLUSH_TIMEOUT_MS;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) {
      return fail(ERROR_TIMEOUT);
    }
    error = standin::transfer(device, standin::Direction::Read, message, sizeof message,
                              static_cast<DWORD>(deadline - now), transferred);
    if (error == ERROR_SUCCESS && standin::isMessage(message, transferred, standin::FLUSH_DONE)) {
      return TRUE;
    }
    // A message longer than the buffer is read on in pieces; none is the acknowledgement.
    if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA) {
      return fail(error);
    }
  }
}

}  // extern "C"
