// The bus as a HidPlatform table: enumeration, handles, report transfers with injected
// faults, waits on the bus's clock, and the log of all of it.
#include <algorithm>
#include <cstring>
#include <utility>

#include "emulator/sim_bus.h"

namespace esc::sim {
namespace {

// How often a transfer that nobody completes looks whether its device was pulled.
constexpr std::uint64_t BLOCKED_CHECK_MICROSECONDS = 10000;

Bus& busOf(void* context) { return *static_cast<Bus*>(context); }

LogEntry newEntry(const Bus& bus, EventKind kind) {
  return LogEntry{kind, nowMicroseconds(bus), true, 0, NO_DEVICE, INVALID_DEVICE_HANDLE, 0, 0, 0,
                  {}};
}

// Entries are appended once complete: a wait on the real clock may run the idle hook,
// which may use the bus and grow the log meanwhile.
bool finish(Bus& bus, LogEntry entry, std::uint32_t error) {
  const bool succeeded = error == 0;
  entry.succeeded = succeeded;
  entry.error = error;
  // Like the Windows platform, a completed transfer clears the last error, so that a
  // failure the unit reports in its answer is not shown with an older transfer's error.
  if (!succeeded) {
    bus.lastError = error;
  } else if (entry.kind == EventKind::Write || entry.kind == EventKind::Read) {
    bus.lastError = 0;
  }
  bus.log.push_back(std::move(entry));
  return succeeded;
}

const OpenHandle* findHandle(const Bus& bus, DeviceHandle value) {
  for (const OpenHandle& handle : bus.handles) {
    if (handle.value == value && handle.open) {
      return &handle;
    }
  }
  return nullptr;
}

// The device behind an open handle while it is still plugged in as it was at the open;
// otherwise NO_DEVICE and the error a transfer would meet.
std::size_t liveDevice(const Bus& bus, DeviceHandle value, std::uint32_t& error) {
  const OpenHandle* handle = findHandle(bus, value);
  if (handle == nullptr) {
    error = SIM_ERROR_INVALID_HANDLE;
    return NO_DEVICE;
  }
  const Device& device = bus.devices[handle->device];
  if (!device.plugged || device.generation != handle->generation) {
    error = SIM_ERROR_DEVICE_NOT_CONNECTED;
    return NO_DEVICE;
  }
  return handle->device;
}

std::optional<Fault> matchFault(const Bus& bus, std::uint8_t command) {
  for (const Fault& fault : bus.faults) {
    const bool exchangeMatches = fault.exchange == 0 || fault.exchange == bus.exchanges;
    const bool commandMatches = !fault.command || *fault.command == command;
    const bool occurrenceMatches =
        !fault.command || fault.occurrence == 0 || fault.occurrence == bus.commandRequests[command];
    if (exchangeMatches && commandMatches && occurrenceMatches) {
      return fault;
    }
  }
  return std::nullopt;
}

bool is(const std::optional<Fault>& fault, FaultKind kind) {
  return fault.has_value() && fault->kind == kind;
}

// A transfer that never completes: it gives up after its timeout, or fails as soon as its
// device is pulled (which only the idle hook of a real clock can do meanwhile).
std::uint32_t blockUntilTimeout(Bus& bus, std::size_t device, std::uint32_t timeoutMs) {
  const std::uint32_t generation = bus.devices[device].generation;
  const std::uint64_t deadline = nowMicroseconds(bus) + std::uint64_t{timeoutMs} * 1000;
  for (std::uint64_t now = nowMicroseconds(bus); now < deadline; now = nowMicroseconds(bus)) {
    const std::uint64_t remaining = deadline - now;
    waitMicroseconds(bus, bus.clock.kind == ClockKind::Virtual
                              ? remaining
                              : std::min(remaining, BLOCKED_CHECK_MICROSECONDS));
    if (!bus.devices[device].plugged || bus.devices[device].generation != generation) {
      return SIM_ERROR_DEVICE_NOT_CONNECTED;
    }
  }
  return SIM_ERROR_TIMEOUT;
}

void shapeAnswer(HidReport& answer, const std::optional<Fault>& fault) {
  if (is(fault, FaultKind::ErrorStatus)) {
    answer = HidReport{};
    answer.bytes[0] = INPUT_REPORT_ID;
    answer.bytes[1] = ANSWER_ERROR_MARKER;
    answer.bytes[2] = 4;
    for (int i = 0; i < 4; ++i) {
      answer.bytes[4 + i] = static_cast<std::uint8_t>((fault->status >> (8 * i)) & 0xFFu);
    }
  } else if (is(fault, FaultKind::AnswerByte3)) {
    answer.bytes[3] = fault->byte3;
  } else if (is(fault, FaultKind::RawAnswer)) {
    answer = fault->raw;
  }
}

bool beginEnumeration(void* context) {
  Bus& bus = busOf(context);
  LogEntry entry = newEntry(bus, EventKind::Enumerate);
  if (bus.listUnavailable) {
    return finish(bus, std::move(entry), SIM_ERROR_GEN_FAILURE);
  }
  bus.snapshot.clear();
  for (std::size_t index = 0; index < bus.devices.size(); ++index) {
    if (bus.devices[index].plugged) {
      bus.snapshot.push_back(index);
    }
  }
  bus.enumerationOpen = true;
  return finish(bus, std::move(entry), 0);
}

InterfaceLookup interfaceAt(void* context, std::uint32_t index, std::u16string& path) {
  Bus& bus = busOf(context);
  if (index >= bus.snapshot.size()) {
    bus.lastError = SIM_ERROR_NO_MORE_ITEMS;
    return InterfaceLookup::End;
  }
  const Device& device = bus.devices[bus.snapshot[index]];
  // The path is handed over even when the lookup fails, as a half-filled buffer could be:
  // a link that used it anyway would open a device it was told nothing valid about.
  path = device.path;
  if (device.detailUnavailable) {
    bus.lastError = SIM_ERROR_INSUFFICIENT_BUFFER;
    return InterfaceLookup::DetailUnavailable;
  }
  return InterfaceLookup::Found;
}

void endEnumeration(void* context) {
  Bus& bus = busOf(context);
  bus.snapshot.clear();
  bus.enumerationOpen = false;
}

DeviceHandle openDevice(void* context, const char16_t* path) {
  Bus& bus = busOf(context);
  LogEntry entry = newEntry(bus, EventKind::Open);
  const std::size_t index = findDevice(bus, path);
  if (index == NO_DEVICE) {
    finish(bus, std::move(entry), SIM_ERROR_FILE_NOT_FOUND);
    return INVALID_DEVICE_HANDLE;
  }
  entry.device = index;
  Device& device = bus.devices[index];
  if (device.heldOpenElsewhere) {
    finish(bus, std::move(entry), SIM_ERROR_SHARING_VIOLATION);
    return INVALID_DEVICE_HANDLE;
  }
  const DeviceHandle handle = bus.nextHandle;
  bus.nextHandle += 4;
  bus.handles.push_back(OpenHandle{handle, index, device.generation, true});
  ++device.opens;
  entry.handle = handle;
  finish(bus, std::move(entry), 0);
  return handle;
}

// The device behind an open handle whose properties can be read, or NO_DEVICE with the
// bus's last error set.
std::size_t readableDevice(Bus& bus, DeviceHandle handle, bool Device::*unreadable) {
  std::uint32_t error = 0;
  const std::size_t index = liveDevice(bus, handle, error);
  if (index != NO_DEVICE && bus.devices[index].*unreadable) {
    error = SIM_ERROR_GEN_FAILURE;
  }
  if (error != 0) {
    bus.lastError = error;
    return NO_DEVICE;
  }
  return index;
}

bool readAttributes(void* context, DeviceHandle handle, std::uint16_t& vendorId,
                    std::uint16_t& productId) {
  Bus& bus = busOf(context);
  const std::size_t index = readableDevice(bus, handle, &Device::attributesUnreadable);
  if (index == NO_DEVICE) {
    return false;
  }
  vendorId = bus.devices[index].vendorId;
  productId = bus.devices[index].productId;
  return true;
}

bool readCapabilities(void* context, DeviceHandle handle, std::uint16_t& inputLength,
                      std::uint16_t& outputLength) {
  Bus& bus = busOf(context);
  const std::size_t index = readableDevice(bus, handle, &Device::capabilitiesUnreadable);
  if (index == NO_DEVICE) {
    return false;
  }
  inputLength = bus.devices[index].inputReportLength;
  outputLength = bus.devices[index].outputReportLength;
  return true;
}

bool writeReport(void* context, DeviceHandle handle, const std::uint8_t* report,
                 std::uint32_t length, std::uint32_t timeoutMs) {
  Bus& bus = busOf(context);
  LogEntry entry = newEntry(bus, EventKind::Write);
  entry.handle = handle;
  entry.bytes.assign(report, report + length);
  entry.exchange = ++bus.exchanges;
  const std::uint8_t command = length > 1 ? report[1] : 0;
  ++bus.commandRequests[command];
  bus.readFault.reset();

  std::uint32_t error = 0;
  const std::size_t index = liveDevice(bus, handle, error);
  entry.device = index;
  if (index == NO_DEVICE) {
    return finish(bus, std::move(entry), error);
  }
  const std::optional<Fault> fault = matchFault(bus, command);
  if (is(fault, FaultKind::UnplugBeforeWrite)) {
    unplug(bus, index);
    return finish(bus, std::move(entry), SIM_ERROR_DEVICE_NOT_CONNECTED);
  }
  if (length != bus.devices[index].outputReportLength) {
    return finish(bus, std::move(entry), SIM_ERROR_INVALID_PARAMETER);
  }
  if (bus.devices[index].kind != DeviceKind::ProgrammingUnit) {
    return finish(bus, std::move(entry), SIM_ERROR_INVALID_FUNCTION);
  }
  if (is(fault, FaultKind::WriteFails)) {
    return finish(bus, std::move(entry), SIM_ERROR_GEN_FAILURE);
  }
  if (is(fault, FaultKind::WriteTimesOut)) {
    const std::uint32_t blocked = blockUntilTimeout(bus, index, timeoutMs);
    return finish(bus, std::move(entry), blocked);
  }
  Device& device = bus.devices[index];
  ++device.requests;
  bus.readFault = fault;
  if (!is(fault, FaultKind::NoAnswer)) {
    // A unit with shorter reports sees only what fits; the rest of its record is zero.
    std::uint8_t request[REPORT_SIZE]{};
    std::memcpy(request, report, std::min<std::size_t>(length, REPORT_SIZE));
    HidReport answer = answerRequest(device, request);
    shapeAnswer(answer, fault);
    device.pendingAnswers.push_back(answer);
    if (is(fault, FaultKind::StrayReport)) {
      device.pendingAnswers.push_back(fault->raw);
    }
  }
  return finish(bus, std::move(entry), 0);
}

bool readReport(void* context, DeviceHandle handle, std::uint8_t* report, std::uint32_t length,
                std::uint32_t timeoutMs) {
  Bus& bus = busOf(context);
  LogEntry entry = newEntry(bus, EventKind::Read);
  entry.handle = handle;
  entry.exchange = bus.exchanges;
  const std::optional<Fault> fault = bus.readFault;
  bus.readFault.reset();

  std::uint32_t error = 0;
  const std::size_t index = liveDevice(bus, handle, error);
  entry.device = index;
  if (index == NO_DEVICE) {
    return finish(bus, std::move(entry), error);
  }
  if (is(fault, FaultKind::UnplugBeforeRead)) {
    unplug(bus, index);
    return finish(bus, std::move(entry), SIM_ERROR_DEVICE_NOT_CONNECTED);
  }
  if (length == 0 || length != bus.devices[index].inputReportLength) {
    return finish(bus, std::move(entry), SIM_ERROR_INVALID_PARAMETER);
  }
  std::deque<HidReport>& pending = bus.devices[index].pendingAnswers;
  if (is(fault, FaultKind::ReadFails)) {
    if (!pending.empty()) {
      pending.pop_front();
    }
    return finish(bus, std::move(entry), SIM_ERROR_GEN_FAILURE);
  }
  if (pending.empty() || is(fault, FaultKind::LateAnswer)) {
    const std::uint32_t blocked = blockUntilTimeout(bus, index, timeoutMs);
    return finish(bus, std::move(entry), blocked);
  }
  const HidReport answer = pending.front();
  pending.pop_front();
  // A declared length other than the record's cuts the answer or pads it with zeros.
  std::vector<std::uint8_t> full(length, 0);
  std::memcpy(full.data(), answer.bytes, std::min<std::size_t>(length, REPORT_SIZE));
  const std::uint32_t delivered =
      is(fault, FaultKind::ShortAnswer) ? std::min(fault->length, length - 1) : length;
  std::memcpy(report, full.data(), delivered);
  entry.bytes.assign(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(delivered));
  return finish(bus, std::move(entry), delivered == length ? 0 : SIM_ERROR_INVALID_DATA);
}

void discardInput(void* context, DeviceHandle handle) {
  Bus& bus = busOf(context);
  LogEntry entry = newEntry(bus, EventKind::Discard);
  entry.handle = handle;
  std::uint32_t error = 0;
  const std::size_t index = liveDevice(bus, handle, error);
  entry.device = index;
  if (index == NO_DEVICE) {
    // Logged as failed, but the last error is left alone: the write that follows meets the
    // same cause and reports it.
    entry.succeeded = false;
    entry.error = error;
    bus.log.push_back(std::move(entry));
    return;
  }
  std::deque<HidReport>& pending = bus.devices[index].pendingAnswers;
  entry.discarded = static_cast<std::uint32_t>(pending.size());
  pending.clear();
  finish(bus, std::move(entry), 0);
}

void closeDevice(void* context, DeviceHandle value) {
  Bus& bus = busOf(context);
  LogEntry entry = newEntry(bus, EventKind::Close);
  entry.handle = value;
  for (OpenHandle& handle : bus.handles) {
    if (handle.value == value && handle.open) {
      handle.open = false;
      entry.device = handle.device;
      finish(bus, std::move(entry), 0);
      return;
    }
  }
  finish(bus, std::move(entry), SIM_ERROR_INVALID_HANDLE);
}

std::uint32_t lastErrorOf(void* context) { return busOf(context).lastError; }

void sleepFor(void* context, std::uint32_t milliseconds) {
  Bus& bus = busOf(context);
  LogEntry entry = newEntry(bus, EventKind::Sleep);
  entry.sleptMicroseconds = std::uint64_t{milliseconds} * 1000;
  finish(bus, std::move(entry), 0);
  waitMicroseconds(bus, std::uint64_t{milliseconds} * 1000);
}

void sleepUntil(void* context, std::uint64_t deadlineMicroseconds) {
  Bus& bus = busOf(context);
  const std::uint64_t now = nowMicroseconds(bus);
  LogEntry entry = newEntry(bus, EventKind::Sleep);
  entry.sleptMicroseconds = deadlineMicroseconds > now ? deadlineMicroseconds - now : 0;
  const std::uint64_t slept = entry.sleptMicroseconds;
  finish(bus, std::move(entry), 0);
  waitMicroseconds(bus, slept);
}

std::uint64_t clockNow(void* context) { return nowMicroseconds(busOf(context)); }

}  // namespace

Bus::Bus()
    : platform{this,           beginEnumeration, interfaceAt,  endEnumeration, openDevice,
               readAttributes, readCapabilities, discardInput, writeReport,    readReport,
               closeDevice,    lastErrorOf,      sleepFor,     clockNow,       sleepUntil} {}

void install(Bus& bus) { setHidPlatform(&bus.platform); }

}  // namespace esc::sim
