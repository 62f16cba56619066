#include "tests/wine/driver_unit_server.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "tests/wine/hid_standin_protocol.h"

namespace driver {
namespace {

// Another maker's device, listed before the unit: the product must open it, find it is no
// unit by its ids, and close it again.
constexpr std::uint16_t OTHER_VENDOR_ID = 0x046D;
constexpr std::uint16_t OTHER_PRODUCT_ID = 0xC31C;
constexpr DWORD PIPE_BUFFER_BYTES = standin::MAX_MESSAGE_BYTES;

using Message = std::vector<std::uint8_t>;

// What a serving thread is handed: one pipe instance, and the device it stands for.
struct ServedPipe {
  UnitServer* server;
  HANDLE pipe;
  std::size_t device;  // NO_DEVICE: the bus pipe
};

bool stopping(const UnitServer& server) {
  return WaitForSingleObject(server.stop, 0) == WAIT_OBJECT_0;
}

class Overlapped {
 public:
  Overlapped() { value_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
  ~Overlapped() {
    if (value_.hEvent != nullptr) {
      CloseHandle(value_.hEvent);
    }
  }
  Overlapped(const Overlapped&) = delete;
  Overlapped& operator=(const Overlapped&) = delete;

  OVERLAPPED* get() { return value_.hEvent != nullptr ? &value_ : nullptr; }

 private:
  OVERLAPPED value_{};
};

// Waits for an overlapped operation on `pipe` that `started` reports on; false when it
// failed, or when the server stops or `timeoutMs` pass first (it is then cancelled).
bool await(const UnitServer& server, HANDLE pipe, OVERLAPPED& overlapped, BOOL started,
           DWORD timeoutMs, DWORD& transferred) {
  transferred = 0;
  if (!started) {
    const DWORD error = GetLastError();
    if (error == ERROR_PIPE_CONNECTED) {
      return true;  // ConnectNamedPipe: the client came before the call
    }
    if (error != ERROR_IO_PENDING) {
      return false;
    }
  }
  const HANDLE events[] = {overlapped.hEvent, server.stop};
  if (WaitForMultipleObjects(2, events, FALSE, timeoutMs) != WAIT_OBJECT_0) {
    CancelIoEx(pipe, &overlapped);
  }
  // Waited to its end even when cancelled: until then the system owns `overlapped`.
  return GetOverlappedResult(pipe, &overlapped, &transferred, TRUE) != FALSE;
}

bool connectClient(const UnitServer& server, HANDLE pipe) {
  Overlapped overlapped;
  DWORD unused = 0;
  return overlapped.get() != nullptr &&
         await(server, pipe, *overlapped.get(), ConnectNamedPipe(pipe, overlapped.get()), INFINITE,
               unused);
}

bool readMessage(const UnitServer& server, HANDLE pipe, Message& message, DWORD timeoutMs) {
  message.assign(PIPE_BUFFER_BYTES, 0);
  Overlapped overlapped;
  DWORD length = 0;
  const bool read =
      overlapped.get() != nullptr &&
      await(server, pipe, *overlapped.get(),
            ReadFile(pipe, message.data(), PIPE_BUFFER_BYTES, nullptr, overlapped.get()), timeoutMs,
            length);
  message.resize(read ? length : 0);
  return read;
}

bool writeMessage(const UnitServer& server, HANDLE pipe, const void* bytes, std::size_t length) {
  Overlapped overlapped;
  DWORD written = 0;
  return overlapped.get() != nullptr &&
         await(server, pipe, *overlapped.get(),
               WriteFile(pipe, bytes, static_cast<DWORD>(length), nullptr, overlapped.get()),
               standin::BUS_TIMEOUT_MS, written) &&
         written == length;
}

HANDLE createInstance(const std::u16string& path, DWORD firstFlag) {
  return CreateNamedPipeW(reinterpret_cast<const wchar_t*>(path.c_str()),
                          PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | firstFlag,
                          PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                          PIPE_UNLIMITED_INSTANCES, PIPE_BUFFER_BYTES, PIPE_BUFFER_BYTES, 0,
                          nullptr);
}

bool startThread(UnitServer& server, LPTHREAD_START_ROUTINE routine, ServedPipe* context) {
  const HANDLE thread = CreateThread(nullptr, 0, routine, context, 0, nullptr);
  if (thread == nullptr) {
    return false;
  }
  withBus(server, [&](UnitServer& held) { held.threads.push_back(thread); });
  return true;
}

std::u16string pipePath(const wchar_t* kind, unsigned serial) {
  wchar_t name[64];
  std::swprintf(name, 64, L"%ls%ls-%u", standin::DEVICE_PIPE_FOLDER, kind, serial);
  std::u16string path;
  for (const wchar_t* c = name; *c != L'\0'; ++c) {
    path.push_back(static_cast<char16_t>(*c));
  }
  return path;
}

Message listAnswer(const esc::sim::Bus& bus) {
  Message answer;
  for (const std::u16string& path : esc::sim::pluggedPaths(bus)) {
    for (const char16_t unit : path) {
      answer.push_back(static_cast<std::uint8_t>(unit & 0xFFu));
      answer.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    answer.push_back(0);
    answer.push_back(0);
  }
  return answer;
}

Message describeAnswer(const esc::sim::Bus& bus, standin::BusRequest& request) {
  request.name[standin::MAX_NAME_LENGTH - 1] = L'\0';
  std::u16string path;
  for (const wchar_t* c = standin::PIPE_ROOT; *c != L'\0'; ++c) {
    path.push_back(static_cast<char16_t>(*c));
  }
  for (const wchar_t* c = request.name; *c != L'\0'; ++c) {
    path.push_back(static_cast<char16_t>(*c));
  }
  standin::DeviceDescription description{};
  const std::size_t index = esc::sim::findDevice(bus, path.c_str());
  if (index != esc::sim::NO_DEVICE) {
    const esc::sim::Device& device = bus.devices[index];
    description = {1, device.vendorId, device.productId, device.inputReportLength,
                   device.outputReportLength};
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&description);
  return Message(bytes, bytes + sizeof description);
}

// One request per connection, as CallNamedPipeW makes them; the one instance serves the
// stand-ins in turn.
DWORD WINAPI serveBusPipe(void* context) {
  const ServedPipe listener = *static_cast<ServedPipe*>(context);
  delete static_cast<ServedPipe*>(context);
  UnitServer& server = *listener.server;
  Message message;
  while (!stopping(server) && connectClient(server, listener.pipe)) {
    if (readMessage(server, listener.pipe, message, standin::BUS_TIMEOUT_MS) &&
        message.size() == sizeof(standin::BusRequest)) {
      standin::BusRequest request{};
      std::memcpy(&request, message.data(), sizeof request);
      const Message answer = withBus(server, [&](UnitServer& held) {
        return request.kind == standin::BusRequestKind::List ? listAnswer(held.bus)
                                                             : describeAnswer(held.bus, request);
      });
      writeMessage(server, listener.pipe, answer.data(), answer.size());
      // Disconnecting discards what the caller has not read yet: wait until it hangs up.
      readMessage(server, listener.pipe, message, standin::BUS_TIMEOUT_MS);
    }
    DisconnectNamedPipe(listener.pipe);
  }
  CloseHandle(listener.pipe);
  return 0;
}

// The request goes through the bus's platform table as the simulator's program sends it;
// whatever the unit then has to send (its answer, and any report it sends unasked) goes
// to the program at once, to wait in the pipe as in a HID handle's queue.
std::vector<Message> exchangeOnBus(UnitServer& server, esc::DeviceHandle handle, std::size_t device,
                                   const Message& request) {
  const esc::HidPlatform& platform = server.bus.platform;
  std::vector<Message> toSend;
  if (!platform.writeReport(platform.context, handle, request.data(),
                            static_cast<std::uint32_t>(request.size()), 0)) {
    return toSend;
  }
  const esc::sim::Device& target = server.bus.devices[device];
  while (!target.pendingAnswers.empty()) {
    Message report(target.inputReportLength, 0);
    if (!platform.readReport(platform.context, handle, report.data(),
                             static_cast<std::uint32_t>(report.size()), 0)) {
      break;
    }
    toSend.push_back(report);
    ++server.reportsSent;
  }
  return toSend;
}

void serveConnection(UnitServer& server, HANDLE pipe, std::size_t device) {
  const esc::DeviceHandle handle = withBus(server, [&](UnitServer& held) {
    const esc::HidPlatform& platform = held.bus.platform;
    return platform.openDevice(platform.context, held.bus.devices[device].path.c_str());
  });
  if (handle == esc::INVALID_DEVICE_HANDLE) {
    return;
  }
  Message message;
  while (!stopping(server) && readMessage(server, pipe, message, INFINITE)) {
    if (standin::isMessage(message.data(), static_cast<DWORD>(message.size()),
                           standin::FLUSH_REQUEST)) {
      withBus(server, [&](UnitServer& held) {
        held.bus.platform.discardInput(held.bus.platform.context, handle);
      });
      if (!writeMessage(server, pipe, standin::FLUSH_DONE, sizeof standin::FLUSH_DONE - 1)) {
        break;
      }
      continue;
    }
    const std::vector<Message> reports = withBus(
        server, [&](UnitServer& held) { return exchangeOnBus(held, handle, device, message); });
    for (const Message& report : reports) {
      writeMessage(server, pipe, report.data(), report.size());
    }
  }
  withBus(server, [&](UnitServer& held) {
    held.bus.platform.closeDevice(held.bus.platform.context, handle);
  });
}

DWORD WINAPI serveDeviceConnection(void* context) {
  const ServedPipe connection = *static_cast<ServedPipe*>(context);
  delete static_cast<ServedPipe*>(context);
  serveConnection(*connection.server, connection.pipe, connection.device);
  DisconnectNamedPipe(connection.pipe);
  CloseHandle(connection.pipe);
  return 0;
}

// Each connection is one open handle of the program's. The next instance listens as soon
// as a connection is made, so that the program can open the device again meanwhile.
DWORD WINAPI listenForDevice(void* context) {
  const ServedPipe listener = *static_cast<ServedPipe*>(context);
  delete static_cast<ServedPipe*>(context);
  UnitServer& server = *listener.server;
  const std::u16string path =
      withBus(server, [&](UnitServer& held) { return held.bus.devices[listener.device].path; });
  HANDLE pipe = listener.pipe;
  while (pipe != INVALID_HANDLE_VALUE && !stopping(server) && connectClient(server, pipe)) {
    const HANDLE next = createInstance(path, 0);
    auto* connection = new ServedPipe{&server, pipe, listener.device};
    if (!startThread(server, serveDeviceConnection, connection)) {
      delete connection;
      CloseHandle(pipe);
    }
    pipe = next;
  }
  if (pipe != INVALID_HANDLE_VALUE) {
    CloseHandle(pipe);
  }
  return 0;
}

// The first instance of each pipe is made before any thread starts, so the program finds
// every device the moment it starts; FILE_FLAG_FIRST_PIPE_INSTANCE refuses a name that
// something else still serves.
bool startListener(UnitServer& server, const std::u16string& path, std::size_t device,
                   LPTHREAD_START_ROUTINE routine) {
  const HANDLE pipe = createInstance(path, FILE_FLAG_FIRST_PIPE_INSTANCE);
  if (pipe == INVALID_HANDLE_VALUE) {
    return false;
  }
  auto* listener = new ServedPipe{&server, pipe, device};
  if (!startThread(server, routine, listener)) {
    delete listener;
    CloseHandle(pipe);
    return false;
  }
  return true;
}

}  // namespace

UnitServer::UnitServer() : stop(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  InitializeCriticalSection(&lock);
}

UnitServer::~UnitServer() {
  stopUnitServer(*this);
  if (stop != nullptr) {
    CloseHandle(stop);
  }
  DeleteCriticalSection(&lock);
}

bool startUnitServer(UnitServer& server, const esc::sim::UnitSettings& settings) {
  if (server.stop == nullptr) {
    return false;
  }
  // Fresh names for every server: a pipe of the one before cannot be met by mistake.
  static unsigned serial = 0;
  ++serial;
  esc::sim::Bus& bus = server.bus;
  server.otherDevice = esc::sim::addDevice(
      bus,
      esc::sim::makeOtherDevice(OTHER_VENDOR_ID, OTHER_PRODUCT_ID, pipePath(L"other", serial)));
  esc::sim::Device unit = esc::sim::makeSupportedUnit();
  esc::sim::applyIdentity(settings, unit);
  unit.path = pipePath(L"unit", serial);
  unit.plugged = settings.plugged;
  server.unit = esc::sim::addDevice(bus, unit);
  esc::sim::armFault(bus, settings.fault);

  ResetEvent(server.stop);
  server.running = true;
  std::u16string busPath;
  for (const wchar_t* c = standin::BUS_PIPE; *c != L'\0'; ++c) {
    busPath.push_back(static_cast<char16_t>(*c));
  }
  const std::u16string otherPath = bus.devices[server.otherDevice].path;
  const std::u16string unitPath = bus.devices[server.unit].path;
  if (!startListener(server, busPath, esc::sim::NO_DEVICE, serveBusPipe) ||
      !startListener(server, otherPath, server.otherDevice, listenForDevice) ||
      !startListener(server, unitPath, server.unit, listenForDevice)) {
    stopUnitServer(server);
    return false;
  }
  return true;
}

void stopUnitServer(UnitServer& server) {
  if (!server.running) {
    return;
  }
  SetEvent(server.stop);
  // Connection threads are started by the listeners, so the list is taken until empty.
  for (;;) {
    std::vector<HANDLE> threads;
    withBus(server, [&](UnitServer& held) { threads.swap(held.threads); });
    if (threads.empty()) {
      break;
    }
    for (const HANDLE thread : threads) {
      WaitForSingleObject(thread, INFINITE);
      CloseHandle(thread);
    }
  }
  server.running = false;
}

}  // namespace driver
