#include "device/webhid/platform_webhid.h"

#include <emscripten.h>

#include <cstddef>

#include "device/hid_link.h"
#include "device/webhid/webhid_framing.h"

// The JavaScript half (webhid_platform.js) answers each call; the asynchronous ones
// suspend the core until WebHID's promise settles.

// The number of granted devices present, or -1 when the list cannot be had.
EM_ASYNC_JS(int, webhid_enumerate, (), { return await Module.escWebHid.enumerate(); });
EM_JS(double, webhid_device_at, (unsigned index), { return Module.escWebHid.deviceAt(index); });
EM_ASYNC_JS(int, webhid_open, (unsigned id), { return await Module.escWebHid.open(id); });
// Vendor id in the high, product id in the low 16 bits; -1 for a device not open.
EM_JS(double, webhid_identity, (unsigned id), { return Module.escWebHid.identity(id); });
EM_JS(double, webhid_known_identity, (unsigned id), { return Module.escWebHid.knownIdentity(id); });
EM_JS(int, webhid_reports,
      (unsigned id, int output, std::uint8_t* ids, std::uint32_t* bits, unsigned capacity),
      { return Module.escWebHid.reports(id, output, ids, bits, capacity); });
EM_JS(void, webhid_discard, (unsigned id), { Module.escWebHid.discard(id); });
EM_ASYNC_JS(int, webhid_write,
            (unsigned id, unsigned reportId, const std::uint8_t* data, unsigned size,
             unsigned timeoutMs),
            { return await Module.escWebHid.write(id, reportId, data, size, timeoutMs); });
// The data's length (at most `capacity` bytes are copied), or -1; the id goes to *reportId.
EM_ASYNC_JS(int, webhid_read,
            (unsigned id, std::uint8_t* reportId, std::uint8_t* data, unsigned capacity,
             unsigned timeoutMs),
            { return await Module.escWebHid.read(id, reportId, data, capacity, timeoutMs); });
EM_ASYNC_JS(void, webhid_close, (unsigned id), { await Module.escWebHid.close(id); });
EM_JS(unsigned, webhid_last_error, (), { return Module.escWebHid.lastError; });
EM_JS(double, webhid_now_ms, (), { return performance.now(); });
EM_ASYNC_JS(void, webhid_sleep_until, (double deadlineMs),
            { await Module.escWebHid.sleepUntil(deadlineMs); });

namespace esc {
namespace {

// Longer reports than the link ever pads to are not read at all.
constexpr std::size_t MAX_REPORT_DATA = 4096;
// Collections of a real unit declare one report per direction.
constexpr unsigned MAX_REPORTS = 64;

struct WebHidState {
  std::uint32_t snapshotSize = 0;
  // The error of the last programming unit of this enumeration that could not be opened.
  std::uint32_t unitOpenError = 0;
  // Set by a failure this side finds (a report of the wrong length); otherwise the last
  // error is the JavaScript half's.
  std::uint32_t ownError = 0;
};

WebHidState state;

std::uint32_t toId(DeviceHandle device) { return static_cast<std::uint32_t>(device); }

bool beginEnumeration(void*) {
  state.unitOpenError = 0;
  const int count = webhid_enumerate();
  state.snapshotSize = count < 0 ? 0 : static_cast<std::uint32_t>(count);
  return count >= 0;
}

InterfaceLookup interfaceAt(void*, std::uint32_t index, std::u16string& path) {
  if (index >= state.snapshotSize) {
    return InterfaceLookup::End;
  }
  path = webHidDevicePath(static_cast<std::uint32_t>(webhid_device_at(index)));
  return InterfaceLookup::Found;
}

void endEnumeration(void*) { state.snapshotSize = 0; }

DeviceHandle openDevice(void*, const char16_t* path) {
  static constexpr char16_t PREFIX[] = u"webhid:";
  std::uint32_t id = 0;
  std::size_t i = 0;
  for (; PREFIX[i] != u'\0'; ++i) {
    if (path[i] != PREFIX[i]) {
      return INVALID_DEVICE_HANDLE;
    }
  }
  for (; path[i] >= u'0' && path[i] <= u'9' && id < 100000000u; ++i) {
    id = id * 10u + static_cast<std::uint32_t>(path[i] - u'0');
  }
  state.ownError = 0;
  if (path[i] != u'\0') {
    return INVALID_DEVICE_HANDLE;
  }
  if (webhid_open(id) == 0) {
    const double identity = webhid_known_identity(id);
    const auto value = identity < 0 ? 0u : static_cast<std::uint32_t>(identity);
    if (identity >= 0 && isUnitIdentity(static_cast<std::uint16_t>(value >> 16),
                                        static_cast<std::uint16_t>(value & 0xFFFFu))) {
      state.unitOpenError = webhid_last_error();
    }
    return INVALID_DEVICE_HANDLE;
  }
  return id;
}

bool readAttributes(void*, DeviceHandle device, std::uint16_t& vendorId, std::uint16_t& productId) {
  const double identity = webhid_identity(toId(device));
  if (identity < 0) {
    return false;
  }
  const auto value = static_cast<std::uint32_t>(identity);
  vendorId = static_cast<std::uint16_t>(value >> 16);
  productId = static_cast<std::uint16_t>(value & 0xFFFFu);
  return true;
}

bool declaredLength(DeviceHandle device, int output, std::uint16_t& length) {
  std::uint8_t ids[MAX_REPORTS];
  std::uint32_t bits[MAX_REPORTS];
  const int count = webhid_reports(toId(device), output, ids, bits, MAX_REPORTS);
  if (count < 0) {
    return false;
  }
  WebHidReportInfo reports[MAX_REPORTS];
  const auto used = static_cast<std::size_t>(count);
  for (std::size_t i = 0; i < used; ++i) {
    reports[i] = WebHidReportInfo{ids[i], bits[i]};
  }
  length = declaredReportLength(reports, used);
  return true;
}

bool readCapabilities(void*, DeviceHandle device, std::uint16_t& inputLength,
                      std::uint16_t& outputLength) {
  return declaredLength(device, 0, inputLength) && declaredLength(device, 1, outputLength);
}

void discardInput(void*, DeviceHandle device) { webhid_discard(toId(device)); }

bool writeReport(void*, DeviceHandle device, const std::uint8_t* report, std::uint32_t length,
                 std::uint32_t timeoutMs) {
  state.ownError = 0;
  if (length == 0) {
    state.ownError = WEBHID_ERROR_INVALID_PARAMETER;
    return false;
  }
  // WebHID takes the report id apart and the data without it.
  return webhid_write(toId(device), report[0], report + 1, length - 1, timeoutMs) != 0;
}

bool readReport(void*, DeviceHandle device, std::uint8_t* report, std::uint32_t length,
                std::uint32_t timeoutMs) {
  state.ownError = 0;
  std::uint8_t data[MAX_REPORT_DATA];
  std::uint8_t reportId = 0;
  const int size = webhid_read(toId(device), &reportId, data, MAX_REPORT_DATA, timeoutMs);
  if (size < 0) {
    return false;
  }
  const auto received = static_cast<std::size_t>(size);
  if (received > MAX_REPORT_DATA || !frameInputReport(reportId, data, received, report, length)) {
    state.ownError = WEBHID_ERROR_INVALID_DATA;
    return false;
  }
  return true;
}

void closeDevice(void*, DeviceHandle device) { webhid_close(toId(device)); }

std::uint32_t lastError(void*) {
  return state.ownError != 0 ? state.ownError : webhid_last_error();
}

std::uint64_t nowMicroseconds(void*) {
  return static_cast<std::uint64_t>(webhid_now_ms() * 1000.0);
}

void sleepUntil(void*, std::uint64_t deadlineMicroseconds) {
  webhid_sleep_until(static_cast<double>(deadlineMicroseconds) / 1000.0);
}

void sleepFor(void* context, std::uint32_t milliseconds) {
  sleepUntil(context, nowMicroseconds(context) + std::uint64_t{milliseconds} * 1000u);
}

const HidPlatform PLATFORM{nullptr,     beginEnumeration, interfaceAt,      endEnumeration,
                           openDevice,  readAttributes,   readCapabilities, discardInput,
                           writeReport, readReport,       closeDevice,      lastError,
                           sleepFor,    nowMicroseconds,  sleepUntil};

}  // namespace

const HidPlatform& webHidPlatform() { return PLATFORM; }

std::uint32_t webHidUnitOpenError() { return state.unitOpenError; }

std::u16string webHidDevicePath(std::uint32_t deviceId) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + deviceId % 10u));
    deviceId /= 10u;
  } while (deviceId != 0);
  return u"webhid:" + digits;
}

}  // namespace esc
