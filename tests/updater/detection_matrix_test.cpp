// Identification under every fault at each of its exchanges, and the detection outcomes at
// start-up and at an arrival. Expected outcomes come from rule tables: which exchanges a
// kind of unit needs, what each exchange makes of the answer it reads, and what each fault
// does to a transfer (fault_matrix.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "device/report_layout.h"
#include "emulator/sim_bus.h"
#include "resources/message_ids.h"
#include "tests/updater/fault_matrix.h"
#include "ui/detection_outcome.h"

namespace esc::test {
namespace {

using Outcome = DetectionOutcome;
using Commands = std::vector<std::uint8_t>;

constexpr std::uint32_t MODEL_CODE = 0x110FA0D2;  // the default unit's, supported
constexpr std::uint16_t ESC_FIRMWARE = 0x0100;
constexpr std::uint16_t ESC_NOT_READY = 2;

// One emulated bus installed as the platform for one cell.
struct Bench {
  Bench() { sim::install(bus); }
  ~Bench() {
    close(link);
    setHidPlatform(nullptr);
  }
  Bench(const Bench&) = delete;
  Bench& operator=(const Bench&) = delete;

  sim::Bus bus;
  HidLink link;
  UpdateTarget target{};
};

// The kinds of unit identification tells apart, by the exchanges each one needs.
struct UnitKind {
  const char* name;
  std::uint8_t wrongMode;
  std::uint16_t escStatus;
  Commands exchanges;
  Outcome outcome;
};

const UnitKind UNIT_KINDS[] = {
    {"updatable ESC",
     0,
     ESC_STATUS_READY,
     {CMD_GET_UNIT_INFO, CMD_GET_ESC_INFO, CMD_GET_ESC_IDENT},
     Outcome::Supported},
    {"wrong mode",
     1,
     ESC_STATUS_READY,
     {CMD_GET_UNIT_INFO, CMD_READ_UNIT_MEMORY},
     Outcome::WrongMode},
    {"no updatable ESC", 0, ESC_NOT_READY, {CMD_GET_UNIT_INFO}, Outcome::NoUpdatableEsc},
};

sim::Device unitOf(const UnitKind& kind) {
  sim::Device unit = sim::makeSupportedUnit();
  unit.identity.wrongMode = kind.wrongMode;
  unit.identity.escStatus = kind.escStatus;
  return unit;
}

// Bytes 4..5 of the unit's own answer to CMD_GET_UNIT_INFO: the ESC status in normal
// mode, the (zero) start of the wrong-mode block otherwise.
std::uint16_t usualStatusBytes(const UnitKind& kind) {
  return kind.wrongMode != 0 ? 0 : kind.escStatus;
}

struct IdentExpected {
  std::int32_t result;
  Commands commands;  // byte 1 of every request attempted, in order
  Outcome outcome;    // when the result is 0
};

// Identification after an unit-info answer with this byte 3 and these bytes 4..5.
IdentExpected afterUnitInfo(std::uint8_t byte3, std::uint16_t statusBytes) {
  if (byte3 != 0) {
    return {LINK_OK, {CMD_GET_UNIT_INFO, CMD_READ_UNIT_MEMORY}, Outcome::WrongMode};
  }
  if (statusBytes != ESC_STATUS_READY) {
    return {LINK_OK, {CMD_GET_UNIT_INFO}, Outcome::NoUpdatableEsc};
  }
  return {LINK_OK, {CMD_GET_UNIT_INFO, CMD_GET_ESC_INFO, CMD_GET_ESC_IDENT}, Outcome::Supported};
}

// The byte 3 a changed answer carries: at the unit information the other mode, elsewhere
// a value nobody reads.
std::uint8_t changedByte3(const UnitKind& kind, std::uint8_t command) {
  if (command == CMD_GET_UNIT_INFO) {
    return kind.wrongMode != 0 ? 0x00 : 0x01;
  }
  return 0x5A;
}

IdentExpected expectedIdentification(const UnitKind& kind, std::size_t at, const FaultRule& rule) {
  const std::uint8_t command = kind.exchanges[at];
  const Commands upToFault(kind.exchanges.begin(),
                           kind.exchanges.begin() + static_cast<std::ptrdiff_t>(at) + 1);
  const IdentExpected usual{LINK_OK, kind.exchanges, kind.outcome};
  switch (rule.effect) {
    case Effect::WriteFails:
      return {LINK_WRITE_FAILED, upToFault, kind.outcome};
    case Effect::ReadFails:
      return {LINK_READ_FAILED, upToFault, kind.outcome};
    case Effect::None:
      return usual;
    case Effect::AnswerReplaced:
      break;
  }
  const AnswerShape usualShape{false, usualStatusBytes(kind), 0x00};
  const AnswerShape answer = replacedAnswer(rule.kind, usualShape, changedByte3(kind, command));
  const bool marker = answer.marker;
  const auto status16 = static_cast<std::uint16_t>(answer.status & 0xFFFFu);
  switch (command) {
    case CMD_GET_UNIT_INFO:
      // Data whatever byte 1 holds: byte 3 decides the mode, bytes 4..5 (a marker
      // answer's status) the ESC status.
      return afterUnitInfo(answer.byte3, status16);
    case CMD_GET_ESC_INFO:
      // A nonzero 16-bit status ends identification here.
      return marker && status16 != 0 ? IdentExpected{status16, upToFault, kind.outcome} : usual;
    case CMD_GET_ESC_IDENT:
      return marker ? IdentExpected{status16, upToFault, kind.outcome} : usual;
    default:
      // CMD_READ_UNIT_MEMORY: data, with or without the marker.
      return usual;
  }
}

Commands attemptedCommands(const sim::Bus& bus) {
  Commands commands;
  for (const sim::LogEntry* write : sim::entriesOf(bus, sim::EventKind::Write)) {
    commands.push_back(write->bytes.at(1));
  }
  return commands;
}

bool contains(const Commands& commands, std::uint8_t command) {
  return std::find(commands.begin(), commands.end(), command) != commands.end();
}

bool checkIdentificationCell(const UnitKind& kind, std::size_t at, const FaultRule& rule) {
  Bench bench;
  sim::addDevice(bench.bus, unitOf(kind));
  const std::uint8_t command = kind.exchanges[at];
  sim::Fault fault = sim::onCommand(rule.kind, static_cast<DeviceCommand>(command), 1);
  fault.status = MATRIX_STATUS;
  fault.byte3 = changedByte3(kind, command);
  fault.length = SHORT_ANSWER_BYTES;
  fault.raw = rule.kind == sim::FaultKind::RawAnswer ? allOnesReport() : strayReport();
  bench.bus.faults.push_back(fault);
  const IdentExpected expected = expectedIdentification(kind, at, rule);

  const std::int32_t result = open(bench.link);

  EXPECT_EQ(result, expected.result);
  EXPECT_EQ(attemptedCommands(bench.bus), expected.commands);
  // A unit was opened: the link stays open whatever identification returned.
  EXPECT_TRUE(isOpen(bench.link));
  // Fields written before a failure keep their values; the ESC blocks only what arrived.
  const bool supported = result == LINK_OK && expected.outcome == Outcome::Supported;
  EXPECT_EQ(escModelCode(bench.link), supported ? MODEL_CODE : 0u);
  const bool infoLost = command == CMD_GET_ESC_INFO && rule.effect != Effect::None &&
                        rule.kind != sim::FaultKind::AnswerByte3;
  const bool infoKept = contains(expected.commands, CMD_GET_ESC_INFO) && !infoLost;
  EXPECT_EQ(escFirmwareVersion(bench.link), infoKept ? ESC_FIRMWARE : 0u);
  if (result == LINK_OK) {
    const Outcome outcome = classifyOpenUnit(bench.link, bench.target);
    EXPECT_EQ(outcome, expected.outcome);
    EXPECT_EQ(keepsLinkOpen(outcome), outcome == Outcome::Supported);
  }
  return bench.bus.commandRequests[command] >= 1;
}

TEST(FaultMatrix, IdentificationUnderEveryFaultAtEachOfItsExchanges) {
  std::size_t exchanges = 0;
  for (const UnitKind& kind : UNIT_KINDS) exchanges += kind.exchanges.size();
  MatrixCount count("identification", exchanges, std::size(FAULT_RULES));
  for (const UnitKind& kind : UNIT_KINDS) {
    for (std::size_t at = 0; at < kind.exchanges.size(); ++at) {
      for (const FaultRule& rule : FAULT_RULES) {
        SCOPED_TRACE(std::string(kind.name) + " / exchange " + std::to_string(at + 1) + " / " +
                     rule.name);
        count.record(checkIdentificationCell(kind, at, rule));
      }
    }
  }
  count.expectComplete();
}

// Without faults each kind of unit needs its own exchanges and nothing more.
TEST(FaultMatrix, EachKindOfUnitIsIdentifiedWithItsOwnExchanges) {
  for (const UnitKind& kind : UNIT_KINDS) {
    SCOPED_TRACE(kind.name);
    Bench bench;
    sim::addDevice(bench.bus, unitOf(kind));
    EXPECT_EQ(open(bench.link), LINK_OK);
    EXPECT_EQ(attemptedCommands(bench.bus), kind.exchanges);
    EXPECT_EQ(classifyOpenUnit(bench.link, bench.target), kind.outcome);
  }
}

// Detection: what is on the bus, and what `open` makes of it.
enum class Found {
  ListUnavailable,  // -1, nothing opened
  NoUnit,           // -4, nothing opened
  Unidentified,     // a unit opened, identification failed
  Identified,       // a unit opened and identified: the outcome decides
};

struct DetectionSetup {
  const char* name;
  void (*prepare)(sim::Bus& bus);
  Found found;
  std::int32_t result;
  Outcome outcome;  // Identified only
};

void addUnitWithModel(sim::Bus& bus, std::uint32_t modelCode) {
  sim::Device unit = sim::makeSupportedUnit();
  writeLe32(unit.identity.escIdent, modelCode);
  sim::addDevice(bus, unit);
}

const DetectionSetup DETECTION_SETUPS[] = {
    {"nothing plugged", [](sim::Bus&) {}, Found::NoUnit, LINK_NO_UNIT, Outcome::NoUnit},
    {"another HID device only",
     [](sim::Bus& bus) { sim::addDevice(bus, sim::makeOtherDevice(0x046D, 0xC077, u"")); },
     Found::NoUnit, LINK_NO_UNIT, Outcome::NoUnit},
    {"device list unavailable", [](sim::Bus& bus) { bus.listUnavailable = true; },
     Found::ListUnavailable, LINK_UNAVAILABLE, Outcome::NoUnit},
    {"unit held by another program",
     [](sim::Bus& bus) {
       sim::Device unit = sim::makeSupportedUnit();
       unit.heldOpenElsewhere = true;
       sim::addDevice(bus, unit);
     },
     Found::NoUnit, LINK_NO_UNIT, Outcome::NoUnit},
    {"unit with product id 3",
     [](sim::Bus& bus) {
       sim::Device unit = sim::makeSupportedUnit();
       unit.productId = 3;
       sim::addDevice(bus, unit);
     },
     Found::NoUnit, LINK_NO_UNIT, Outcome::NoUnit},
    {"unit whose identification is not answered",
     [](sim::Bus& bus) {
       sim::addDevice(bus, sim::makeSupportedUnit());
       bus.faults.push_back(sim::onCommand(sim::FaultKind::NoAnswer, CMD_GET_UNIT_INFO));
     },
     Found::Unidentified, LINK_READ_FAILED, Outcome::NoUnit},
    {"ESC answering its information with a status",
     [](sim::Bus& bus) {
       sim::addDevice(bus, sim::makeSupportedUnit());
       sim::Fault status = sim::onCommand(sim::FaultKind::ErrorStatus, CMD_GET_ESC_INFO);
       status.status = 5;
       bus.faults.push_back(status);
     },
     Found::Unidentified, 5, Outcome::NoUnit},
    {"unit in the wrong mode",
     [](sim::Bus& bus) {
       sim::Device unit = sim::makeSupportedUnit();
       unit.identity.wrongMode = 1;
       sim::addDevice(bus, unit);
     },
     Found::Identified, LINK_OK, Outcome::WrongMode},
    {"no updatable ESC",
     [](sim::Bus& bus) {
       sim::Device unit = sim::makeSupportedUnit();
       unit.identity.escStatus = ESC_NOT_READY;
       sim::addDevice(bus, unit);
     },
     Found::Identified, LINK_OK, Outcome::NoUpdatableEsc},
    {"supported controller", [](sim::Bus& bus) { addUnitWithModel(bus, MODEL_CODE); },
     Found::Identified, LINK_OK, Outcome::Supported},
    {"controller accepted without target", [](sim::Bus& bus) { addUnitWithModel(bus, 0x0A0640AA); },
     Found::Identified, LINK_OK, Outcome::AcceptedWithoutTarget},
    {"incompatible controller", [](sim::Bus& bus) { addUnitWithModel(bus, 0x12345678); },
     Found::Identified, LINK_OK, Outcome::Incompatible},
};

enum class Moment { StartUp, Arrival };

struct DetectionExpected {
  bool decides;  // an arrival that finds nothing usable changes nothing at all
  Outcome outcome;
  bool linkOpen;
  MessageId heading;  // the status panel's heading, for the outcomes that give the unit up
};

// At start-up every failure is "no unit" and the link is closed; at an arrival a failure
// changes nothing, and the link stays as `open` left it: open when a unit was opened.
DetectionExpected expectedDetection(const DetectionSetup& setup, Moment moment) {
  if (setup.found != Found::Identified) {
    if (moment == Moment::StartUp) {
      return {true, Outcome::NoUnit, false, 40017};
    }
    return {false, Outcome::NoUnit, setup.found == Found::Unidentified, 0};
  }
  switch (setup.outcome) {
    case Outcome::WrongMode:
      return {true, setup.outcome, false, 40015};
    case Outcome::NoUpdatableEsc:
      return {true, setup.outcome, false, 40016};
    case Outcome::Incompatible:
      return {true, setup.outcome, false, 40035};
    default:
      return {true, setup.outcome, true, 0};
  }
}

bool checkDetectionCell(const DetectionSetup& setup, Moment moment) {
  Bench bench;
  setup.prepare(bench.bus);
  const DetectionExpected expected = expectedDetection(setup, moment);

  const std::int32_t result = open(bench.link);
  EXPECT_EQ(result, setup.result);
  const bool decides = result == LINK_OK || moment == Moment::StartUp;
  EXPECT_EQ(decides, expected.decides);
  Outcome outcome = Outcome::NoUnit;
  if (result == LINK_OK) {
    outcome = classifyOpenUnit(bench.link, bench.target);
  }
  if (decides) {
    EXPECT_EQ(outcome, expected.outcome);
    // The front ends close the link for every outcome that does not keep it, and show
    // its heading.
    if (!keepsLinkOpen(outcome)) {
      close(bench.link);
      EXPECT_EQ(headingOf(outcome), expected.heading);
    }
    EXPECT_EQ(bench.target.targetVersion != 0, outcome == Outcome::Supported);
  }
  EXPECT_EQ(isOpen(bench.link), expected.linkOpen);
  EXPECT_EQ(sim::openHandleCount(bench.bus), expected.linkOpen ? 1u : 0u);
  return !bench.bus.log.empty();
}

TEST(FaultMatrix, DetectionAtStartUpAndAtAnArrival) {
  MatrixCount count("detection", std::size(DETECTION_SETUPS), 2);
  for (const DetectionSetup& setup : DETECTION_SETUPS) {
    for (const Moment moment : {Moment::StartUp, Moment::Arrival}) {
      SCOPED_TRACE(std::string(setup.name) +
                   (moment == Moment::StartUp ? " / start-up" : " / arrival"));
      count.record(checkDetectionCell(setup, moment));
    }
  }
  count.expectComplete();
}

}  // namespace
}  // namespace esc::test
