#include "fuzz/device_answers/fuzz_bus.h"

#include <algorithm>
#include <cstring>

#include "device/report_layout.h"
#include "fuzz/fuzz_check.h"

namespace esc::fuzz {
namespace {

// Model codes a fuzzed unit reports: the six supported ones, one accepted without a
// target, one incompatible; any other index takes a fuzzed code.
constexpr std::uint32_t MODEL_CODES[] = {0x110FA0AA, 0x110FA0D2, 0x110FA0FA, 0x140FA0AA,
                                         0x140FA0D2, 0x140FA0FA, 0x0A0640AA, 0x12345678};
constexpr std::uint16_t ESC_VERSIONS[] = {0x0100, 0x0101, 0x0102, 0xFFFF};
// Declared lengths around the ones the link accepts (60 to 1024).
constexpr std::uint16_t REPORT_LENGTHS[] = {REPORT_SIZE, REPORT_SIZE, 0, 1, 59, 61, 64, 1024, 1025};
constexpr std::size_t MAX_PATH_UNITS = 40;
// Enough for the small images; the target grows it for a real one. A large flash for
// every run would cost more than the run itself.
constexpr std::size_t SMALL_FLASH_BYTES = 1024;
constexpr std::uint8_t POISON = 0xA5;

FuzzBus& busOf(void* context) { return *static_cast<FuzzBus*>(context); }

Handle* openHandle(FuzzBus& bus, DeviceHandle value) {
  for (Handle& handle : bus.handles) {
    if (handle.value == value && handle.open) return &handle;
  }
  return nullptr;
}

// The interface behind an open handle of the latest enumeration.
const FuzzInterface& interfaceOf(FuzzBus& bus, DeviceHandle value, const char* operation) {
  const Handle* handle = openHandle(bus, value);
  check(handle != nullptr, operation);
  check(handle->enumeration == bus.enumerations, "a handle from an older search is closed");
  return bus.interfaces[handle->interface];
}

template <std::size_t N, typename Value>
Value pick(FuzzedDataProvider& input, const Value (&choices)[N], bool& fuzzed) {
  const std::size_t index = input.ConsumeIntegralInRange<std::size_t>(0, N);
  fuzzed = index == N;
  return fuzzed ? Value{} : choices[index];
}

// Copied for every run, so that the whole flash is allocated once only.
sim::Device smallUnit() {
  static const sim::Device PROTOTYPE = [] {
    sim::Device unit = sim::makeSupportedUnit();
    std::vector<std::uint8_t>(SMALL_FLASH_BYTES, 0x00).swap(unit.bootloader.flash);
    return unit;
  }();
  return PROTOTYPE;
}

sim::Device fuzzedUnit(FuzzedDataProvider& input) {
  sim::Device unit = smallUnit();
  bool fuzzed = false;
  std::uint32_t model = pick(input, MODEL_CODES, fuzzed);
  if (fuzzed) model = input.ConsumeIntegral<std::uint32_t>();
  std::uint16_t version = pick(input, ESC_VERSIONS, fuzzed);
  if (fuzzed) version = input.ConsumeIntegral<std::uint16_t>();
  writeLe32(unit.identity.escIdent, model);
  writeLe16(unit.identity.escInfo + 4, version);
  const std::uint8_t flags = input.ConsumeIntegral<std::uint8_t>();
  unit.identity.wrongMode = (flags & 0x01) != 0 ? input.ConsumeIntegral<std::uint8_t>() : 0;
  if ((flags & 0x02) != 0) unit.identity.escStatus = input.ConsumeIntegral<std::uint16_t>();
  return unit;
}

std::u16string pathFor(FuzzBus& bus, std::size_t index, bool fuzzedTail) {
  std::u16string path = u"\\\\?\\hid#fuzz";
  path += static_cast<char16_t>(u'a' + bus.enumerations % 26);
  path += static_cast<char16_t>(u'0' + index);
  if (fuzzedTail) {
    const std::size_t units = bus.input.ConsumeIntegralInRange<std::size_t>(0, MAX_PATH_UNITS);
    for (std::size_t i = 0; i < units; ++i) {
      const auto unit = bus.input.ConsumeIntegral<char16_t>();
      path += unit == 0 ? u'#' : unit;
    }
  }
  return path;
}

FuzzInterface fuzzedInterface(FuzzBus& bus, std::size_t index) {
  FuzzedDataProvider& input = bus.input;
  const std::uint8_t flags = input.ConsumeIntegral<std::uint8_t>();
  FuzzInterface interface;
  interface.path = pathFor(bus, index, (flags & 0x40) != 0);
  interface.detailAvailable = (flags & 0x01) == 0;
  interface.opens = (flags & 0x02) == 0;
  interface.attributesReadable = (flags & 0x04) == 0;
  interface.capabilitiesReadable = (flags & 0x08) == 0;
  if ((flags & 0x10) != 0) {
    interface.vendorId = input.ConsumeIntegral<std::uint16_t>();
    interface.productId = input.ConsumeIntegral<std::uint16_t>();
  }
  if ((flags & 0x20) != 0) {
    bool fuzzed = false;
    interface.inputLength = pick(input, REPORT_LENGTHS, fuzzed);
    if (fuzzed) interface.inputLength = input.ConsumeIntegral<std::uint16_t>();
    interface.outputLength = pick(input, REPORT_LENGTHS, fuzzed);
    if (fuzzed) interface.outputLength = input.ConsumeIntegral<std::uint16_t>();
  }
  return interface;
}

bool beginEnumeration(void* context) {
  FuzzBus& bus = busOf(context);
  check(!bus.enumerating, "searches do not nest");
  ++bus.enumerations;
  bus.interfaces.clear();
  // 0 (and an exhausted input): the same unit, alone on the bus.
  const std::uint8_t layout = bus.input.ConsumeIntegral<std::uint8_t>();
  bus.enumerationFailed = layout == 0xFF;
  if (bus.enumerationFailed) {
    bus.lastError = bus.input.ConsumeIntegral<std::uint32_t>();
    return false;
  }
  if (layout == 0) {
    FuzzInterface unit;
    unit.path = pathFor(bus, 0, false);
    bus.interfaces.push_back(unit);
  } else {
    const std::size_t count = layout % 5;
    for (std::size_t index = 0; index < count; ++index) {
      bus.interfaces.push_back(fuzzedInterface(bus, index));
    }
  }
  // Another unit (another ESC) may have been plugged in since the last search.
  if (bus.input.ConsumeIntegral<std::uint8_t>() != 0) {
    bus.unit = fuzzedUnit(bus.input);
    bus.pending.clear();
  }
  bus.enumerating = true;
  return true;
}

InterfaceLookup interfaceAt(void* context, std::uint32_t index, std::u16string& path) {
  FuzzBus& bus = busOf(context);
  check(bus.enumerating, "interfaces are looked up during a search");
  if (index >= bus.interfaces.size()) {
    return InterfaceLookup::End;
  }
  const FuzzInterface& interface = bus.interfaces[index];
  if (!interface.detailAvailable) {
    // Whatever a failed lookup leaves in the buffer names no device.
    path = u"\\\\?\\no-such-device";
    return InterfaceLookup::DetailUnavailable;
  }
  path = interface.path;
  return InterfaceLookup::Found;
}

void endEnumeration(void* context) {
  FuzzBus& bus = busOf(context);
  check(bus.enumerating, "a search ends only once");
  bus.enumerating = false;
}

DeviceHandle openDevice(void* context, const char16_t* path) {
  FuzzBus& bus = busOf(context);
  check(bus.enumerating, "devices are opened during a search");
  check(openHandles(bus) == 0, "one device open at a time");
  const std::u16string wanted(path);
  std::size_t index = 0;
  while (index < bus.interfaces.size() && bus.interfaces[index].path != wanted) ++index;
  check(index < bus.interfaces.size(), "only paths the search gave are opened");
  if (!bus.interfaces[index].opens) {
    bus.lastError = bus.input.ConsumeIntegral<std::uint32_t>();
    return INVALID_DEVICE_HANDLE;
  }
  const DeviceHandle handle = bus.nextHandle;
  bus.nextHandle += 4;
  bus.handles.push_back(Handle{handle, index, bus.enumerations, true});
  return handle;
}

bool readAttributes(void* context, DeviceHandle handle, std::uint16_t& vendorId,
                    std::uint16_t& productId) {
  FuzzBus& bus = busOf(context);
  const FuzzInterface& interface = interfaceOf(bus, handle, "attributes of an open device");
  if (!interface.attributesReadable) {
    bus.lastError = bus.input.ConsumeIntegral<std::uint32_t>();
    return false;
  }
  vendorId = interface.vendorId;
  productId = interface.productId;
  return true;
}

bool readCapabilities(void* context, DeviceHandle handle, std::uint16_t& inputLength,
                      std::uint16_t& outputLength) {
  FuzzBus& bus = busOf(context);
  const FuzzInterface& interface = interfaceOf(bus, handle, "capabilities of an open device");
  if (!interface.capabilitiesReadable) {
    bus.lastError = bus.input.ConsumeIntegral<std::uint32_t>();
    return false;
  }
  inputLength = interface.inputLength;
  outputLength = interface.outputLength;
  return true;
}

void discardInput(void* context, DeviceHandle handle) {
  FuzzBus& bus = busOf(context);
  interfaceOf(bus, handle, "input dropped on an open device");
  // Best effort: now and then the stale reports stay.
  if (bus.input.ConsumeIntegral<std::uint8_t>() != 0xFF) {
    bus.pending.clear();
  }
}

HidReport fuzzedReport(FuzzedDataProvider& input) {
  HidReport report{};
  const std::vector<std::uint8_t> bytes = input.ConsumeBytes<std::uint8_t>(REPORT_SIZE);
  std::copy(bytes.begin(), bytes.end(), report.bytes);
  return report;
}

bool writeReport(void* context, DeviceHandle handle, const std::uint8_t* report,
                 std::uint32_t length, std::uint32_t timeoutMs) {
  FuzzBus& bus = busOf(context);
  check(!bus.requestsForbidden, "no request after an update reported its outcome");
  const FuzzInterface& interface = interfaceOf(bus, handle, "requests go to an open device");
  check(length == interface.outputLength, "a request has the declared output length");
  check(length >= REPORT_SIZE && length <= MAX_DECLARED_REPORT_LENGTH,
        "requests only to devices whose declared length the link can carry");
  check(report[0] == OUTPUT_REPORT_ID, "requests carry the output report id");
  for (std::uint32_t i = REPORT_SIZE; i < length; ++i) {
    check(report[i] == 0, "a request is padded with zeros beyond the record");
  }
  check(
      bus.transfers.empty() || !bus.transfers.back().written || bus.transfers.back().readAttempted,
      "one request at a time: each written request is read before the next");

  Transfer transfer{};
  std::memcpy(transfer.request, report, REPORT_SIZE);
  transfer.writtenAt = bus.now;
  const std::uint8_t choice = bus.input.ConsumeIntegral<std::uint8_t>() % 16;
  if (choice == 9 || choice == 10) {
    if (choice == 10) bus.now += std::uint64_t{timeoutMs} * 1000;
    bus.lastError =
        choice == 10 ? sim::SIM_ERROR_TIMEOUT : bus.input.ConsumeIntegral<std::uint32_t>();
    transfer.lastError = bus.lastError;
    transfer.endedAt = bus.now;
    bus.transfers.push_back(transfer);
    return false;
  }
  HidReport answer = sim::answerRequest(bus.unit, transfer.request);
  switch (choice) {
    case 11:  // the answer is lost
      break;
    case 12:  // a report sent unasked follows the answer
      bus.pending.push_back(answer);
      bus.pending.push_back(fuzzedReport(bus.input));
      break;
    case 13:
      bus.pending.push_back(fuzzedReport(bus.input));
      break;
    case 14:
      answer.bytes[3] = bus.input.ConsumeIntegral<std::uint8_t>();
      bus.pending.push_back(answer);
      break;
    case 15:
      answer.bytes[1] = ANSWER_ERROR_MARKER;
      answer.bytes[3] = bus.input.ConsumeIntegral<std::uint8_t>();
      writeLe32(answer.bytes + 4, bus.input.ConsumeIntegral<std::uint32_t>());
      bus.pending.push_back(answer);
      break;
    default:
      bus.pending.push_back(answer);
      break;
  }
  transfer.written = true;
  bus.lastError = 0;
  bus.transfers.push_back(transfer);
  return true;
}

bool readReport(void* context, DeviceHandle handle, std::uint8_t* report, std::uint32_t length,
                std::uint32_t timeoutMs) {
  FuzzBus& bus = busOf(context);
  const FuzzInterface& interface = interfaceOf(bus, handle, "answers come from an open device");
  check(length == interface.inputLength, "an answer is read with the declared input length");
  check(
      !bus.transfers.empty() && bus.transfers.back().written && !bus.transfers.back().readAttempted,
      "each answer is read once, after its request was written");
  Transfer& transfer = bus.transfers.back();
  transfer.readAttempted = true;
  const auto fail = [&bus, &transfer](std::uint32_t error) {
    bus.lastError = error;
    transfer.lastError = error;
    transfer.endedAt = bus.now;
    return false;
  };

  // Every byte of the buffer is written, the arrived ones and poison after them, so that
  // a buffer shorter than the declared length shows up.
  const std::uint8_t choice = bus.input.ConsumeIntegral<std::uint8_t>() % 8;
  if (choice == 5) {
    if (!bus.pending.empty()) bus.pending.pop_front();
    std::memset(report, POISON, length);
    return fail(bus.input.ConsumeIntegral<std::uint32_t>());
  }
  if (choice == 6) {
    const auto arrived = bus.input.ConsumeIntegralInRange<std::uint32_t>(0, length - 1);
    std::memset(report, POISON, length);
    if (!bus.pending.empty()) {
      std::memcpy(report, bus.pending.front().bytes, std::min<std::uint32_t>(arrived, REPORT_SIZE));
      bus.pending.pop_front();
    }
    return fail(bus.input.ConsumeIntegral<std::uint32_t>());
  }
  if (bus.pending.empty()) {
    bus.now += std::uint64_t{timeoutMs} * 1000;
    std::memset(report, POISON, length);
    return fail(sim::SIM_ERROR_TIMEOUT);
  }
  transfer.answer = bus.pending.front();
  bus.pending.pop_front();
  const std::uint32_t kept = std::min<std::uint32_t>(length, REPORT_SIZE);
  std::memcpy(report, transfer.answer.bytes, kept);
  for (std::uint32_t i = kept; i < length; ++i) {
    report[i] = choice == 7 ? bus.input.ConsumeIntegral<std::uint8_t>() : std::uint8_t{0};
  }
  transfer.read = true;
  transfer.endedAt = bus.now;
  bus.lastError = 0;
  return true;
}

void closeDevice(void* context, DeviceHandle value) {
  FuzzBus& bus = busOf(context);
  Handle* handle = openHandle(bus, value);
  check(handle != nullptr, "only open handles are closed, each once");
  handle->open = false;
}

std::uint32_t lastErrorOf(void* context) { return busOf(context).lastError; }

void sleepFor(void* context, std::uint32_t milliseconds) {
  busOf(context).now += std::uint64_t{milliseconds} * 1000;
}

std::uint64_t clockNow(void* context) { return busOf(context).now; }

void sleepUntil(void* context, std::uint64_t deadlineMicroseconds) {
  FuzzBus& bus = busOf(context);
  bus.now = std::max(bus.now, deadlineMicroseconds);
}

}  // namespace

FuzzBus::FuzzBus(FuzzedDataProvider& fuzzInput)
    : input(fuzzInput),
      platform{this,           beginEnumeration, interfaceAt,  endEnumeration, openDevice,
               readAttributes, readCapabilities, discardInput, writeReport,    readReport,
               closeDevice,    lastErrorOf,      sleepFor,     clockNow,       sleepUntil},
      unit(smallUnit()) {}

std::size_t openHandles(const FuzzBus& bus) {
  return static_cast<std::size_t>(std::count_if(bus.handles.begin(), bus.handles.end(),
                                                [](const Handle& handle) { return handle.open; }));
}

const Handle* findOpenHandle(const FuzzBus& bus, DeviceHandle value) {
  for (const Handle& handle : bus.handles) {
    if (handle.value == value && handle.open) return &handle;
  }
  return nullptr;
}

}  // namespace esc::fuzz
