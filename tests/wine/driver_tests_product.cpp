// The product as a user gets it: EscUpdater.exe built with its firmware images, on the
// unit the driver emulates behind the test stand-ins of hid.dll and setupapi.dll
// (driver_unit_server.h). Everything below the stand-ins is the product's own: its
// SetupAPI enumeration, its device handles, its overlapped transfers on a real file
// object, HidD_FlushQueue before each request and its image loader.
#include <windows.h>
// dbt.h relies on the Windows types being declared first.
#include <dbt.h>

#include <cstdio>
#include <string>
#include <vector>

#include "device/hid_link.h"
#include "resources/message_ids.h"
#include "resources/resource_ids.h"
#include "tests/wine/driver_tests.h"
#include "tests/wine/driver_unit_server.h"

namespace driver {
namespace {

constexpr esc::Language EN = esc::Language::English;
// The image the product must write to the unit's ESC, model code 0x110FA0D2.
constexpr wchar_t EXPECTED_IMAGE[] = L"157.bin";
constexpr char REFUSED_BLOCK_FAULT[] = "block:3:0x8000002A";
constexpr std::uint32_t REFUSED_BLOCK = 3;
constexpr std::uint32_t REFUSED_BLOCK_STATUS = 0x8000002A;
// An ESC information answer with firmware 9.9 instead of the ESC's 1.0.
constexpr std::uint8_t STALE_VERSION_BYTE = 0x09;
constexpr std::size_t ESC_INFO_VERSION_OFFSET = 8;  // bytes 4.. of the answer, 4.. of the block
constexpr std::uint8_t ESC_INFO_LENGTH = 32;
const std::vector<std::uint8_t> IDENTIFICATION = {esc::CMD_GET_UNIT_INFO, esc::CMD_GET_ESC_INFO,
                                                  esc::CMD_GET_ESC_IDENT};
constexpr std::uint32_t LINK_READ_FAILED_VALUE = 0xFFFFFFFD;  // -3
constexpr ULONGLONG READ_TIMEOUT_MS = 10000;

std::wstring productPath;
std::wstring imageFolder;

// What the emulated bus saw, copied out under the server's lock.
struct BusRecord {
  std::size_t unitHandlesOpen = 0;
  std::size_t otherHandlesOpen = 0;
  std::uint32_t otherOpens = 0;
  std::uint32_t failedWrites = 0;
  std::uint32_t requests = 0;
  std::uint32_t reportsSent = 0;
  // Every request on the unit came right after a flush of its queue.
  bool flushedBeforeEveryRequest = true;
  std::vector<std::uint8_t> commands;
  std::vector<std::uint8_t> firmware;
  std::uint32_t blocksWritten = 0;
  std::uint32_t erases = 0;
  bool systemLocked = false;
  bool writeProtected = false;
};

std::size_t openHandlesOf(const esc::sim::Bus& bus, std::size_t device) {
  std::size_t count = 0;
  for (const esc::sim::OpenHandle& handle : bus.handles) {
    count += handle.open && handle.device == device ? 1 : 0;
  }
  return count;
}

BusRecord busRecord(UnitServer& server) {
  return withBus(server, [](UnitServer& held) {
    const esc::sim::Bus& bus = held.bus;
    const esc::sim::Device& unit = bus.devices[held.unit];
    BusRecord record;
    record.unitHandlesOpen = openHandlesOf(bus, held.unit);
    record.otherHandlesOpen = openHandlesOf(bus, held.otherDevice);
    record.otherOpens = bus.devices[held.otherDevice].opens;
    record.requests = unit.requests;
    record.reportsSent = held.reportsSent;
    esc::sim::EventKind previous = esc::sim::EventKind::Open;
    for (const esc::sim::LogEntry& entry : bus.log) {
      if (entry.kind == esc::sim::EventKind::Write && !entry.succeeded) {
        ++record.failedWrites;
      }
      if (entry.device != held.unit) {
        continue;
      }
      if (entry.kind == esc::sim::EventKind::Write && previous != esc::sim::EventKind::Discard) {
        record.flushedBeforeEveryRequest = false;
      }
      previous = entry.kind;
    }
    record.commands = esc::sim::sentCommands(bus);
    record.firmware = esc::sim::writtenFirmware(unit);
    record.blocksWritten = unit.bootloader.blocksWritten;
    record.erases = unit.bootloader.erases;
    record.systemLocked = unit.bootloader.systemLocked;
    record.writeProtected = unit.bootloader.writeProtected;
    return record;
  });
}

void checkFlushes(Test& test, const BusRecord& record) {
  check(test, record.flushedBeforeEveryRequest,
        "a request reached the unit without a flush of the queue before it");
  check(test, record.failedWrites == 0, "%u requests did not reach the unit",
        static_cast<unsigned>(record.failedWrites));
}

// Starts serving the unit with `settings` and `moreFaults` besides the settings' own,
// then the product, and waits until its dialog shows (or a box of it opens, which the
// checks that follow then report).
bool startProduct(Test& test, Sim& program, UnitServer& server,
                  const esc::sim::UnitSettings& settings,
                  const std::vector<esc::sim::Fault>& moreFaults = {}) {
  if (!check(test, startUnitServer(server, settings),
             "the emulated unit could not be served (error %lu)", GetLastError())) {
    return false;
  }
  withBus(server, [&](UnitServer& held) {
    held.bus.faults.insert(held.bus.faults.end(), moreFaults.begin(), moreFaults.end());
  });
  if (!launchProgram(test, program, productPath, {})) {
    return false;
  }
  const DWORD processId = program.process.dwProcessId;
  const bool shown = waitUntil(START_TIMEOUT_MS, [&] {
    program.dialog = findWindow(processId, L"#32770", MAIN_TITLE, nullptr);
    return program.dialog != nullptr &&
           (IsWindowVisible(program.dialog) ||
            findWindow(processId, L"#32770", nullptr, program.dialog) != nullptr);
  });
  return check(test, shown, "the dialog \"%s\" did not appear", printable(MAIN_TITLE).c_str());
}

bool startProductReady(Test& test, Sim& program, UnitServer& server,
                       const esc::sim::UnitSettings& settings,
                       const std::vector<esc::sim::Fault>& moreFaults = {}) {
  return startProduct(test, program, server, settings, moreFaults) &&
         checkPanel(test, program, expectedText(EN, esc::MSG_READY), STATE_TIMEOUT_MS);
}

bool readImage(Test& test, std::vector<std::uint8_t>& image) {
  const std::wstring path = imageFolder + L"\\" + EXPECTED_IMAGE;
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (!check(test, file != nullptr, "cannot read %s", printable(path).c_str())) {
    return false;
  }
  std::uint8_t chunk[4096];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
    image.insert(image.end(), chunk, chunk + got);
  }
  std::fclose(file);
  return check(test, !image.empty(), "%s is empty", printable(path).c_str());
}

void checkWrittenImage(Test& test, const std::vector<std::uint8_t>& written,
                       const std::vector<std::uint8_t>& image) {
  std::size_t same = 0;
  while (same < written.size() && same < image.size() && written[same] == image[same]) {
    ++same;
  }
  check(test, written.size() == image.size() && same == image.size(),
        "the unit holds %zu bytes, the first %zu of them as in %s, which has %zu", written.size(),
        same, printable(EXPECTED_IMAGE).c_str(), image.size());
}

// Pulls the unit or plugs it in on the bus and tells the dialog, as Windows would. The
// dialog may take long over an arrival (a silent unit), so the notification is not
// awaited.
void plugUnit(UnitServer& server, const Sim& program, bool plugged) {
  const std::u16string path = withBus(server, [plugged](UnitServer& held) {
    if (plugged) {
      esc::sim::plug(held.bus, held.unit);
    } else {
      esc::sim::unplug(held.bus, held.unit);
    }
    return held.bus.devices[held.unit].path;
  });
  sendDeviceChange(program.dialog, plugged ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE, path);
}

}  // namespace

void setProduct(const std::wstring& program, const std::wstring& folder) {
  productPath = program;
  imageFolder = folder;
}

void productStartsReadyWithASupportedUnit(Test& test) {
  UnitServer server;
  Sim program;
  if (startProductReady(test, program, server, esc::sim::defaultSettings())) {
    checkRowsShow(test, program, L"1.2.3", L"1.2", L"1.0", L"TUNEPUCK");
    checkUpdateEnabled(test, program, true);
    const BusRecord record = busRecord(server);
    check(test, record.unitHandlesOpen == 1, "the product holds %zu handles of the unit",
          record.unitHandlesOpen);
    check(test, record.otherOpens >= 1 && record.otherHandlesOpen == 0,
          "the other HID device was opened %u times and is held %zu times",
          static_cast<unsigned>(record.otherOpens), record.otherHandlesOpen);
    check(test, record.commands == IDENTIFICATION,
          "the unit got %zu requests, not the three of the identification", record.commands.size());
    checkFlushes(test, record);
    screenshot("product-ready");
  }
  stopSim(program);
}

void productDiscardsAStaleReportBeforeARequest(Test& test) {
  UnitServer server;
  Sim program;
  // After answering the unit information, the unit sends a report unasked. Taken for the
  // answer to the next request, it would show another ESC firmware and shift every
  // answer after it by one.
  esc::sim::Fault stale =
      esc::sim::onCommand(esc::sim::FaultKind::StrayReport, esc::CMD_GET_UNIT_INFO, 1);
  stale.raw.bytes[0] = esc::INPUT_REPORT_ID;
  stale.raw.bytes[1] = esc::CMD_GET_ESC_INFO;
  stale.raw.bytes[2] = ESC_INFO_LENGTH;
  stale.raw.bytes[ESC_INFO_VERSION_OFFSET] = STALE_VERSION_BYTE;
  stale.raw.bytes[ESC_INFO_VERSION_OFFSET + 1] = STALE_VERSION_BYTE;
  if (startProductReady(test, program, server, esc::sim::defaultSettings(), {stale})) {
    checkRowsShow(test, program, L"1.2.3", L"1.2", L"1.0", L"TUNEPUCK");
    checkUpdateEnabled(test, program, true);
    const BusRecord record = busRecord(server);
    check(test, record.reportsSent == record.requests + 1,
          "%u reports sent for %u requests: the stale one was not among them",
          static_cast<unsigned>(record.reportsSent), static_cast<unsigned>(record.requests));
    check(test, record.commands == IDENTIFICATION,
          "the unit got %zu requests, not the three of the identification", record.commands.size());
    checkFlushes(test, record);
  }
  stopSim(program);
}

void productReportsARefusedBlockAndNoSuccess(Test& test) {
  UnitServer server;
  Sim program;
  esc::sim::UnitSettings settings = esc::sim::defaultSettings();
  check(test, esc::sim::parseFault(REFUSED_BLOCK_FAULT, settings.fault), "fault not parsed");
  MessageBoxView box;
  if (startProductReady(test, program, server, settings) && startUpdate(test, program) &&
      checkErrorBox(test, program, UPDATE_TIMEOUT_MS, esc::MSG_BLOCK_FAILED, REFUSED_BLOCK_STATUS,
                    box)) {
    // The transfers all went through: the unit's status is the whole failure.
    checkText(test, "error box text with the system error", box.text,
              errorBoxText(EN, esc::MSG_BLOCK_FAILED, REFUSED_BLOCK_STATUS, 0));
    answerMessageBox(box, IDOK);
    checkFailureNotice(test, program);
    const BusRecord record = busRecord(server);
    // The unit wrote the block it refused; nothing was sent after it, not even the
    // closing commands, so its lock stays set and the protection lifted.
    check(test, record.blocksWritten == REFUSED_BLOCK, "%u blocks written",
          static_cast<unsigned>(record.blocksWritten));
    check(test, !record.commands.empty() && record.commands.back() == esc::CMD_WRITE_BLOCK,
          "requests went on after the refused block");
    check(test, record.systemLocked && !record.writeProtected,
          "the unit's lock and protection changed after the refusal");
    check(test, record.unitHandlesOpen == 0, "the product still holds the unit");
    checkFlushes(test, record);
  }
  stopSim(program);
}

void productWritesTheImageByteForByte(Test& test) {
  UnitServer server;
  Sim program;
  std::vector<std::uint8_t> image;
  ULONGLONG confirmed = 0;
  if (readImage(test, image) &&
      startProductReady(test, program, server, esc::sim::defaultSettings()) &&
      startUpdate(test, program, confirmed) &&
      checkPanel(test, program, expectedText(EN, esc::MSG_UPDATE_SUCCEEDED), UPDATE_TIMEOUT_MS)) {
    note("confirmation to success: %.1f s",
         static_cast<double>(GetTickCount64() - confirmed) / 1000.0);
    checkRowsShow(test, program, L"1.2.3", L"1.2", L"1.1", L"TUNEPUCK");
    checkUpdateEnabled(test, program, false);
    const BusRecord record = busRecord(server);
    checkWrittenImage(test, record.firmware, image);
    check(test, record.erases == 1, "%u erases", static_cast<unsigned>(record.erases));
    check(test, !record.systemLocked && record.writeProtected,
          "the unit was left locked or unprotected");
    checkFlushes(test, record);
    screenshot("product-success");
  }
  stopSim(program);
}

// The unit keeps the lock's answer back: the read waits for its timeout, and meanwhile
// the dialog takes its messages (Windows never judges it hung) and refuses a logoff.
void productStaysAliveWhileASilentUnitIsAwaitedAtTheLock(Test& test) {
  UnitServer server;
  Sim program;
  const esc::sim::Fault silent =
      esc::sim::onCommand(esc::sim::FaultKind::NoAnswer, esc::CMD_SYSTEM_LOCK, 1);
  HungSampler sampler;
  ULONGLONG confirmed = 0;
  if (startProductReady(test, program, server, esc::sim::defaultSettings(), {silent}) &&
      startUpdate(test, program, confirmed)) {
    sampler.start(program.dialog);
    checkAnswersWhileAwaiting(test, program, true, "while the lock's answer is awaited");
    MessageBoxView box;
    if (checkErrorBox(test, program, READ_TIMEOUT_MS + STATE_TIMEOUT_MS, esc::MSG_LOCK_FAILED,
                      LINK_READ_FAILED_VALUE, box)) {
      const ULONGLONG elapsed = GetTickCount64() - confirmed;
      checkNeverHung(test, sampler, "the silent unit's read at the lock");
      note("confirmation to error box: %llu ms", elapsed);
      check(test, elapsed >= READ_TIMEOUT_MS, "the read gave up after %llu ms", elapsed);
      checkText(test, "error box text", box.text,
                errorBoxText(EN, esc::MSG_LOCK_FAILED, LINK_READ_FAILED_VALUE, ERROR_TIMEOUT));
      answerMessageBox(box, IDOK);
      checkFailureNotice(test, program);
    }
  }
  stopSim(program);
}

// The unit comes back after a removal and keeps its first answer back: detection waits
// for the read's timeout inside the arrival, and meanwhile the dialog takes its messages.
// Identification failed at an arrival: nothing on the screen changes.
void productStaysAliveWhileASilentUnitIsAwaitedAtAnArrival(Test& test) {
  UnitServer server;
  Sim program;
  // The first unit information is the start-up's, the second the arrival's.
  const esc::sim::Fault silent =
      esc::sim::onCommand(esc::sim::FaultKind::NoAnswer, esc::CMD_GET_UNIT_INFO, 2);
  HungSampler sampler;
  const std::wstring lost = withInstructions(EN, esc::MSG_CONNECTION_LOST);
  if (startProductReady(test, program, server, esc::sim::defaultSettings(), {silent})) {
    plugUnit(server, program, false);
    if (checkPanel(test, program, lost, STATE_TIMEOUT_MS)) {
      sampler.start(program.dialog);
      const ULONGLONG plugged = GetTickCount64();
      plugUnit(server, program, true);
      check(test,
            waitUntil(STATE_TIMEOUT_MS,
                      [&] {
                        return withBus(server, [](UnitServer& held) {
                          return held.bus.commandRequests[esc::CMD_GET_UNIT_INFO] == 2;
                        });
                      }),
            "the arrival's identification did not start");
      checkAnswersWhileAwaiting(test, program, false, "while the arrival's answer is awaited");
      // The read gives up; the link stays open until the unit's removal.
      Sleep(static_cast<DWORD>(READ_TIMEOUT_MS) + 1000);
      checkNeverHung(test, sampler, "the silent unit's read at the arrival");
      note("arrival to now: %llu ms", GetTickCount64() - plugged);
      checkPanel(test, program, lost, STATE_TIMEOUT_MS);
      checkRowsClosed(test, program);
      checkUpdateEnabled(test, program, false);
      check(test, busRecord(server).unitHandlesOpen == 1,
            "the product does not hold the unit it could not identify");
    }
  }
  stopSim(program);
}

}  // namespace driver
