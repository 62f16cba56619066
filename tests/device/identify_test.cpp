// Identification: which commands go out for each kind of unit, which answer bytes end up
// in which field, and where a failure or an ESC status stops it.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "device/report_layout.h"
#include "tests/device/link_session.h"

namespace esc::test {
namespace {

using sim::FaultKind;

struct UnitSession : Session {
  UnitSession() { unit = sim::addDevice(bus, sim::makeSupportedUnit()); }
  sim::Device& device() { return bus.devices[unit]; }
  std::size_t unit;
};

std::vector<std::uint8_t> zeros(std::size_t count) { return std::vector<std::uint8_t>(count, 0); }

std::vector<std::uint8_t> escInfoOf(const HidLink& link) {
  return std::vector<std::uint8_t>(link.escInfo, link.escInfo + 32);
}

std::vector<std::uint8_t> escIdentOf(const HidLink& link) {
  return std::vector<std::uint8_t>(link.escIdent, link.escIdent + 40);
}

TEST(IdentificationRequests, ANormalUnitIsAskedForItsInfoThenTheEscInfoThenTheEscIdent) {
  UnitSession session;
  ASSERT_EQ(open(session.link), LINK_OK);
  const std::vector<std::vector<std::uint8_t>> expected = {
      recordOf({0x01, 0x08, 0x00}),
      recordOf({0x01, 0x1D, 0x08, 0x00, 0x20, 0x00, 0x00, 0x00, 0xE0, 0xFF, 0xFF, 0xFF}),
      recordOf({0x01, 0x22, 0x00}),
  };
  EXPECT_EQ(writtenRequests(session.bus), expected);
}

TEST(IdentificationRequests, AUnitInTheWrongModeIsAskedForItsInfoThenItsMemory) {
  UnitSession session;
  session.device().identity.wrongMode = 1;
  ASSERT_EQ(open(session.link), LINK_OK);
  const std::vector<std::vector<std::uint8_t>> expected = {
      recordOf({0x01, 0x08, 0x00}),
      recordOf({0x01, 0x0A, 0x0C, 0x00, 0x00, 0xFC, 0x01, 0x08}),
  };
  EXPECT_EQ(writtenRequests(session.bus), expected);
}

struct Outcome {
  const char* name;
  std::function<void(UnitSession&)> arrange;
  std::int32_t result;
  std::vector<std::uint8_t> commands;
  std::function<void(const HidLink&)> check;
};

const Outcome OUTCOMES[] = {
    {"wrong mode", [](UnitSession& s) { s.device().identity.wrongMode = 1; }, LINK_OK,
     bytesOf({0x08, 0x0A}),
     [](const HidLink& link) {
       EXPECT_EQ(link.escStatus, 0);
       EXPECT_EQ(escInfoOf(link), zeros(32));
       EXPECT_EQ(escIdentOf(link), zeros(40));
     }},
    {"no updatable ESC (status 2)", [](UnitSession& s) { s.device().identity.escStatus = 2; },
     LINK_OK, bytesOf({0x08}),
     [](const HidLink& link) {
       EXPECT_EQ(link.escStatus, 2);
       EXPECT_EQ(escInfoOf(link), zeros(32));
       EXPECT_EQ(escIdentOf(link), zeros(40));
     }},
    {"updatable ESC", [](UnitSession&) {}, LINK_OK, bytesOf({0x08, 0x1D, 0x22}),
     [](const HidLink& link) {
       EXPECT_EQ(escModelCode(link), 0x110FA0D2u);
       EXPECT_EQ(escFirmwareVersion(link), 0x0100);
     }},
    {"unit info with byte 1 = 0xFF is still data",
     [](UnitSession& s) {
       s.bus.faults.push_back(rawAnswerOn(
           CMD_GET_UNIT_INFO, recordOf({0x02, 0xFF, 0x0C, 0x00, 0x03, 0x00, 0x07, 0x00, 0x05})));
     },
     LINK_OK, bytesOf({0x08, 0x1D, 0x22}),
     [](const HidLink& link) {
       EXPECT_EQ(link.escStatus, ESC_STATUS_READY);
       EXPECT_EQ(link.escStatusAux, 7);
       EXPECT_EQ(link.unitFirmwareVersion, 5u);
     }},
    {"unit memory with byte 1 = 0xFF is still data",
     [](UnitSession& s) {
       s.device().identity.wrongMode = 1;
       s.bus.faults.push_back(rawAnswerOn(
           CMD_READ_UNIT_MEMORY, recordOf({0x02, 0xFF, 0x04, 0x00, 0x07, 0x00, 0x00, 0x00, 0x21,
                                           0x22, 0x23, 0x24, 0x31, 0x32, 0x33, 0x34})));
     },
     LINK_OK, bytesOf({0x08, 0x0A}),
     [](const HidLink& link) {
       EXPECT_EQ(link.unitFirmwareVersion, 0x24232221u);
       EXPECT_EQ(link.unitAuxWord, 0x34333231u);
     }},
    {"ESC info status 5 stops identification",
     [](UnitSession& s) { s.bus.faults.push_back(rawAnswerOn(CMD_GET_ESC_INFO, markerAnswer(5))); },
     5, bytesOf({0x08, 0x1D}),
     [](const HidLink& link) {
       EXPECT_EQ(link.unitFirmwareVersion, 0x01000203u);
       EXPECT_EQ(escInfoOf(link), zeros(32));
     }},
    {"ESC info status counts only bytes 4..5 (00 00 01 00 is 0)",
     [](UnitSession& s) {
       s.bus.faults.push_back(rawAnswerOn(CMD_GET_ESC_INFO, markerAnswer(0x00010000)));
     },
     LINK_OK, bytesOf({0x08, 0x1D, 0x22}),
     [](const HidLink& link) {
       EXPECT_EQ(escInfoOf(link), zeros(32));
       EXPECT_EQ(escFirmwareVersion(link), 0);
       EXPECT_EQ(escModelCode(link), 0x110FA0D2u);
     }},
    {"ESC info status 05 00 FF FF is 5",
     [](UnitSession& s) {
       s.bus.faults.push_back(rawAnswerOn(CMD_GET_ESC_INFO, markerAnswer(0xFFFF0005)));
     },
     5, bytesOf({0x08, 0x1D}), [](const HidLink&) {}},
    {"ESC info status FF FF is 65535",
     [](UnitSession& s) {
       s.bus.faults.push_back(rawAnswerOn(CMD_GET_ESC_INFO, markerAnswer(0x0000FFFF)));
     },
     0xFFFF, bytesOf({0x08, 0x1D}), [](const HidLink&) {}},
    {"ESC ident status 0 succeeds without a model code",
     [](UnitSession& s) {
       s.bus.faults.push_back(rawAnswerOn(CMD_GET_ESC_IDENT, markerAnswer(0, 0x55)));
     },
     LINK_OK, bytesOf({0x08, 0x1D, 0x22}),
     [](const HidLink& link) {
       EXPECT_EQ(escModelCode(link), 0u);
       EXPECT_EQ(escIdentOf(link), zeros(40));
       EXPECT_EQ(escFirmwareVersion(link), 0x0100);
     }},
    {"ESC ident status counts only bytes 4..5",
     [](UnitSession& s) {
       s.bus.faults.push_back(rawAnswerOn(CMD_GET_ESC_IDENT, markerAnswer(0xFFFF0102)));
     },
     0x0102, bytesOf({0x08, 0x1D, 0x22}),
     [](const HidLink& link) { EXPECT_EQ(escIdentOf(link), zeros(40)); }},
    {"ESC ident status with only the top bit set is 0",
     [](UnitSession& s) {
       s.bus.faults.push_back(rawAnswerOn(CMD_GET_ESC_IDENT, markerAnswer(0x80000000)));
     },
     LINK_OK, bytesOf({0x08, 0x1D, 0x22}),
     [](const HidLink& link) { EXPECT_EQ(escIdentOf(link), zeros(40)); }},
    {"ESC ident under the marker with status 0 keeps none of its bytes",
     [](UnitSession& s) {
       std::vector<std::uint8_t> answer = recordOf({0x02, 0xFF, 0x28, 0x00, 0x00, 0x00});
       for (std::size_t i = 6; i < REPORT_SIZE; ++i) {
         answer[i] = static_cast<std::uint8_t>(i);
       }
       s.bus.faults.push_back(rawAnswerOn(CMD_GET_ESC_IDENT, answer));
     },
     LINK_OK, bytesOf({0x08, 0x1D, 0x22}),
     [](const HidLink& link) {
       EXPECT_EQ(escIdentOf(link), zeros(40));
       EXPECT_EQ(escBootloaderVersion(link), 0u);
     }},
    {"ESC firmware FF FF means no version",
     [](UnitSession& s) {
       s.device().identity.escInfo[4] = 0xFF;
       s.device().identity.escInfo[5] = 0xFF;
     },
     LINK_OK, bytesOf({0x08, 0x1D, 0x22}),
     [](const HidLink& link) { EXPECT_EQ(escFirmwareVersion(link), 0xFFFF); }},
};

TEST(IdentificationOutcomes, EachOutcomeSendsItsCommandsAndGivesItsResult) {
  for (const Outcome& outcome : OUTCOMES) {
    SCOPED_TRACE(outcome.name);
    UnitSession session;
    outcome.arrange(session);

    EXPECT_EQ(open(session.link), outcome.result);

    EXPECT_EQ(sim::sentCommands(session.bus), outcome.commands);
    EXPECT_TRUE(isOpen(session.link));
    outcome.check(session.link);
  }
}

TEST(IdentificationFields, ANormalUnitFillsEachFieldFromItsAnswerBytes) {
  UnitSession session;
  session.bus.faults.push_back(
      rawAnswerOn(CMD_GET_UNIT_INFO, recordOf({0x02, 0x08, 0x0C, 0x00, 0x03, 0x00, 0xA1, 0xA2, 0xB1,
                                               0xB2, 0xB3, 0xB4, 0xC1, 0xC2, 0xC3, 0xC4, 0xEE})));
  std::vector<std::uint8_t> info = recordOf({0x02, 0x1D, 0x20, 0x00});
  std::vector<std::uint8_t> ident = recordOf({0x02, 0x22, 0x28, 0x00});
  for (std::size_t i = 4; i < REPORT_SIZE; ++i) {
    info[i] = static_cast<std::uint8_t>(0x40 + i - 4);   // block bytes 0x40.. from byte 4
    ident[i] = static_cast<std::uint8_t>(0x80 + i - 4);  // block bytes 0x80.. from byte 4
  }
  session.bus.faults.push_back(rawAnswerOn(CMD_GET_ESC_INFO, info));
  session.bus.faults.push_back(rawAnswerOn(CMD_GET_ESC_IDENT, ident));

  ASSERT_EQ(open(session.link), LINK_OK);

  const HidLink& link = session.link;
  EXPECT_EQ(link.unitWrongMode, 0);
  EXPECT_EQ(link.escStatus, 3);
  EXPECT_EQ(link.escStatusAux, 0xA2A1);
  EXPECT_EQ(link.unitFirmwareVersion, 0xB4B3B2B1u);
  EXPECT_EQ(link.unitAuxWord, 0xC4C3C2C1u);
  EXPECT_EQ(escInfoOf(link), std::vector<std::uint8_t>(info.begin() + 4, info.begin() + 36));
  EXPECT_EQ(escIdentOf(link), std::vector<std::uint8_t>(ident.begin() + 4, ident.begin() + 44));
  EXPECT_EQ(escFirmwareVersion(link), 0x4544);
  EXPECT_EQ(escModelCode(link), 0x83828180u);
  EXPECT_EQ(escBootloaderVersion(link), 0x87868584u);
}

TEST(IdentificationFields, AUnitInTheWrongModeFillsItsInfoAndVersionsFromItsMemory) {
  UnitSession session;
  session.bus.faults.push_back(
      rawAnswerOn(CMD_GET_UNIT_INFO, recordOf({0x02, 0x08, 0x0C, 0x01, 0x10, 0x11, 0x12, 0x13, 0x14,
                                               0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0xEE})));
  session.bus.faults.push_back(rawAnswerOn(
      CMD_READ_UNIT_MEMORY, recordOf({0x02, 0x0A, 0x0C, 0x00, 0xD1, 0xD2, 0xD3, 0xD4, 0x21, 0x22,
                                      0x23, 0x24, 0x31, 0x32, 0x33, 0x34, 0xEE})));

  ASSERT_EQ(open(session.link), LINK_OK);

  const HidLink& link = session.link;
  EXPECT_EQ(link.unitWrongMode, 0x01);
  EXPECT_EQ(link.wrongModeInfo.byte4, 0x10);
  EXPECT_EQ(link.wrongModeInfo.bytes5to6, 0x1211);
  EXPECT_EQ(link.wrongModeInfo.bytes7to10, 0x16151413u);
  EXPECT_EQ(link.wrongModeInfo.bytes11to14, 0x1A191817u);
  EXPECT_EQ(link.wrongModeInfo.byte15, 0x1B);
  EXPECT_EQ(link.unitFirmwareVersion, 0x24232221u);
  EXPECT_EQ(link.unitAuxWord, 0x34333231u);
  EXPECT_EQ(link.escStatus, 0);
  EXPECT_EQ(link.escStatusAux, 0);
}

TEST(IdentificationFailures, TheFirstFailedTransferEndsItAndKeepsWhatWasLearned) {
  struct Case {
    bool wrongMode;
    std::uint32_t exchange;
    FaultKind fault;
    std::int32_t result;
    std::vector<std::uint8_t> commands;
    std::uint16_t firmwareVersion;  // what the ESC info left, if it was read
  };
  const Case cases[] = {
      {false, 1, FaultKind::WriteFails, LINK_WRITE_FAILED, {}, 0},
      {false, 1, FaultKind::ReadFails, LINK_READ_FAILED, bytesOf({0x08}), 0},
      {false, 2, FaultKind::WriteFails, LINK_WRITE_FAILED, bytesOf({0x08}), 0},
      {false, 2, FaultKind::NoAnswer, LINK_READ_FAILED, bytesOf({0x08, 0x1D}), 0},
      {false, 3, FaultKind::WriteTimesOut, LINK_WRITE_FAILED, bytesOf({0x08, 0x1D}), 0x0100},
      {false, 3, FaultKind::ReadFails, LINK_READ_FAILED, bytesOf({0x08, 0x1D, 0x22}), 0x0100},
      {true, 2, FaultKind::WriteFails, LINK_WRITE_FAILED, bytesOf({0x08}), 0},
      {true, 2, FaultKind::ReadFails, LINK_READ_FAILED, bytesOf({0x08, 0x0A}), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.wrongMode ? "wrong mode" : "normal") << ", exchange "
                                    << c.exchange << ", fault " << static_cast<int>(c.fault));
    UnitSession session;
    session.device().identity.wrongMode = c.wrongMode ? 1 : 0;
    session.device().identity.wrongModeInfo[0] = 0x77;
    session.bus.faults.push_back(sim::atExchange(c.fault, c.exchange));

    EXPECT_EQ(open(session.link), c.result);

    EXPECT_EQ(sim::sentCommands(session.bus), c.commands);
    EXPECT_TRUE(isOpen(session.link));
    EXPECT_EQ(escFirmwareVersion(session.link), c.firmwareVersion);
    EXPECT_EQ(escModelCode(session.link), 0u);
    if (c.wrongMode) {
      EXPECT_EQ(session.link.wrongModeInfo.byte4, 0x77);
      EXPECT_EQ(session.link.unitFirmwareVersion, 0u);
    } else if (c.exchange > 1) {
      EXPECT_EQ(session.link.escStatus, ESC_STATUS_READY);
      EXPECT_EQ(session.link.unitFirmwareVersion, 0x01000203u);
    }
  }
}

}  // namespace
}  // namespace esc::test
