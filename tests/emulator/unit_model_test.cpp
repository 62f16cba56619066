// The emulated unit's bootloader and identification answers, driven request by request.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "device/bootloader.h"
#include "device/report_layout.h"
#include "emulator/sim_bus.h"
#include "tests/device/link_session.h"

namespace esc::test {
namespace {

constexpr int G0 = 0x57, G1 = 0x9A, G2 = 0x3E, G3 = 0x6B;  // GUARD_WORD, little-endian

const std::vector<std::uint8_t> LOCK = recordOf({0x01, 0x0B, 0x01, 0x01});
const std::vector<std::uint8_t> UNLOCK = recordOf({0x01, 0x20, 0x01, 0x00});
const std::vector<std::uint8_t> ERASE = recordOf({0x01, 0x1E, 0x04, 0x00, G0, G1, G2, G3});
const std::vector<std::uint8_t> ADDRESS =
    recordOf({0x01, 0x1F, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, G0, G1, G2, G3});

HidReport send(sim::Device& unit, const std::vector<std::uint8_t>& request) {
  return sim::answerRequest(unit, request.data());
}

// The status of a refusal, or 0 for a data answer.
std::uint32_t statusOf(const HidReport& answer) {
  return answer.bytes[1] == ANSWER_ERROR_MARKER ? readLe32(answer.bytes + 4) : 0;
}

std::vector<std::uint8_t> blockRequest(const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> request = recordOf({0x01, 0x1B, static_cast<int>(data.size()), 0x00});
  std::copy(data.begin(), data.end(), request.begin() + 4);
  return request;
}

std::vector<std::uint8_t> pattern(std::size_t size, int first) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>(first + static_cast<int>(i));
  }
  return bytes;
}

bool flashIsAll(const sim::Device& unit, std::uint8_t value) {
  const auto& flash = unit.bootloader.flash;
  return std::all_of(flash.begin(), flash.end(), [&](std::uint8_t b) { return b == value; });
}

TEST(UnitModel, ErasingNeedsTheGuardWordTheLockAndLiftedProtection) {
  struct Case {
    const char* name;
    bool lock;
    bool unlock;
    std::vector<std::uint8_t> request;
    std::uint32_t status;
  };
  const Case cases[] = {
      {"wrong guard word", true, true, recordOf({0x01, 0x1E, 0x04, 0x00, G0, G1, G2, 0x6C}),
       sim::UNIT_STATUS_BAD_GUARD_WORD},
      {"no guard word", true, true, recordOf({0x01, 0x1E, 0x04}), sim::UNIT_STATUS_BAD_GUARD_WORD},
      {"no system lock", false, true, ERASE, sim::UNIT_STATUS_NOT_UNLOCKED},
      {"protection on", true, false, ERASE, sim::UNIT_STATUS_NOT_UNLOCKED},
      {"wrong length value", true, true, recordOf({0x01, 0x1E, 0x08, 0x00, G0, G1, G2, G3}),
       sim::UNIT_STATUS_BAD_REQUEST},
      {"everything in place", true, true, ERASE, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Device unit = sim::makeSupportedUnit();
    if (c.lock) {
      send(unit, LOCK);
    }
    if (c.unlock) {
      send(unit, UNLOCK);
    }

    EXPECT_EQ(statusOf(send(unit, c.request)), c.status);

    EXPECT_EQ(unit.bootloader.erases, c.status == 0 ? 1u : 0u);
    EXPECT_TRUE(flashIsAll(unit, c.status == 0 ? 0xFF : 0x00));
  }
}

TEST(UnitModel, LiftingTheProtectionNeedsTheSystemLock) {
  sim::Device unit = sim::makeSupportedUnit();
  EXPECT_EQ(send(unit, UNLOCK).bytes[3], 0x01);
  EXPECT_TRUE(unit.bootloader.writeProtected);
  EXPECT_EQ(send(unit, LOCK).bytes[3], 0x01);
  EXPECT_EQ(send(unit, UNLOCK).bytes[3], 0x00);
  EXPECT_FALSE(unit.bootloader.writeProtected);
}

TEST(UnitModel, BlocksAppendTheirBytesInOrderFromTheAddress) {
  sim::Device unit = sim::makeSupportedUnit();
  for (const auto& request : {LOCK, UNLOCK, ERASE, ADDRESS}) {
    ASSERT_EQ(statusOf(send(unit, request)), 0u);
  }
  const std::vector<std::vector<std::uint8_t>> blocks = {
      pattern(48, 0x00), pattern(16, 0x80), pattern(0, 0), pattern(56, 0xA0), pattern(4, 0x10)};

  std::vector<std::uint8_t> expected;
  for (const auto& block : blocks) {
    EXPECT_EQ(statusOf(send(unit, blockRequest(block))), 0u);
    expected.insert(expected.end(), block.begin(), block.end());
  }

  EXPECT_EQ(sim::writtenFirmware(unit), expected);
  EXPECT_EQ(unit.bootloader.writtenEnd, 124u);
  EXPECT_EQ(unit.bootloader.blocksWritten, 5u);
  EXPECT_EQ(unit.bootloader.flash[124], 0xFF);
  EXPECT_EQ(unit.bootloader.flash.back(), 0xFF);
}

TEST(UnitModel, BlocksAreRefusedUntilTheFlashIsUnlockedErasedAndAddressed) {
  sim::Device unit = sim::makeSupportedUnit();
  const auto block = blockRequest(pattern(48, 1));
  EXPECT_EQ(statusOf(send(unit, block)), sim::UNIT_STATUS_NOT_UNLOCKED);
  send(unit, LOCK);
  send(unit, UNLOCK);
  EXPECT_EQ(statusOf(send(unit, block)), sim::UNIT_STATUS_NOT_ERASED);
  send(unit, ERASE);
  EXPECT_EQ(statusOf(send(unit, block)), sim::UNIT_STATUS_NO_ADDRESS);
  auto badAddress = ADDRESS;
  badAddress[8] = 0x00;
  EXPECT_EQ(statusOf(send(unit, badAddress)), sim::UNIT_STATUS_BAD_GUARD_WORD);
  EXPECT_EQ(statusOf(send(unit, block)), sim::UNIT_STATUS_NO_ADDRESS);
  send(unit, ADDRESS);
  EXPECT_EQ(statusOf(send(unit, blockRequest(pattern(6, 1)))), sim::UNIT_STATUS_BAD_REQUEST);
  EXPECT_EQ(statusOf(send(unit, block)), 0u);
  EXPECT_EQ(unit.bootloader.writtenEnd, 48u);
}

TEST(UnitModel, ABlockBeyondTheEndOfTheFlashIsRefused) {
  sim::Device unit = sim::makeSupportedUnit();
  unit.bootloader.flash.assign(100, 0x00);
  for (const auto& request : {LOCK, UNLOCK, ERASE, ADDRESS}) {
    send(unit, request);
  }
  const auto block = blockRequest(pattern(48, 1));
  EXPECT_EQ(statusOf(send(unit, block)), 0u);
  EXPECT_EQ(statusOf(send(unit, block)), 0u);
  EXPECT_EQ(statusOf(send(unit, block)), sim::UNIT_STATUS_OUT_OF_RANGE);
  EXPECT_EQ(unit.bootloader.writtenEnd, 96u);
}

TEST(UnitModel, EscCommandsAreRefusedWithoutAReachableEsc) {
  const std::vector<std::uint8_t> escInfo =
      recordOf({0x01, 0x1D, 0x08, 0x00, 0x20, 0, 0, 0, 0xE0, 0xFF, 0xFF, 0xFF});
  sim::Device wrongMode = sim::makeSupportedUnit();
  wrongMode.identity.wrongMode = 1;
  sim::Device noEsc = sim::makeSupportedUnit();
  noEsc.identity.escStatus = 2;
  for (const auto& request : {escInfo, recordOf({0x01, 0x22}), UNLOCK, ERASE, ADDRESS}) {
    EXPECT_EQ(statusOf(send(wrongMode, request)), sim::UNIT_STATUS_WRONG_MODE);
    EXPECT_EQ(statusOf(send(noEsc, request)), sim::UNIT_STATUS_NO_ESC);
  }
}

TEST(UnitModel, IdentificationAnswersCarryTheConfiguredData) {
  sim::Device unit = sim::makeSupportedUnit();
  const HidReport info = send(unit, recordOf({0x01, 0x08, 0x00}));
  EXPECT_EQ(info.bytes[3], 0);
  EXPECT_EQ(readLe16(info.bytes + 4), ESC_STATUS_READY);
  EXPECT_EQ(readLe32(info.bytes + 8), 0x01000203u);
  const HidReport ident = send(unit, recordOf({0x01, 0x22}));
  EXPECT_EQ(readLe32(ident.bytes + 4), 0x110FA0D2u);
  EXPECT_EQ(readLe32(ident.bytes + 8), 0x00000102u);
  const HidReport memory = send(unit, recordOf({0x01, 0x0A, 0x0C, 0x00, 0x00, 0xFC, 0x01, 0x08}));
  EXPECT_EQ(readLe32(memory.bytes + 8), 0x01000203u);
  const HidReport elsewhere =
      send(unit, recordOf({0x01, 0x0A, 0x0C, 0x00, 0x00, 0x00, 0x01, 0x08}));
  EXPECT_EQ(statusOf(elsewhere), sim::UNIT_STATUS_OUT_OF_RANGE);
  EXPECT_EQ(statusOf(send(unit, recordOf({0x01, 0x42}))), sim::UNIT_STATUS_UNKNOWN_COMMAND);
}

TEST(UnitModel, AWholeUpdateThroughTheLinkLeavesTheImageInTheFlash) {
  OpenSession session;
  const std::vector<std::uint8_t> image = pattern(48 * 3 + 16, 0x21);
  ASSERT_EQ(setSystemLock(session.link, LockState::Set), LINK_OK);
  ASSERT_EQ(setWriteProtection(session.link, WriteProtection::Unlock), LINK_OK);
  ASSERT_EQ(eraseFirmware(session.link), LINK_OK);
  ASSERT_EQ(setFlashAddress(session.link), LINK_OK);
  for (std::size_t offset = 0; offset < image.size(); offset += 48) {
    const auto words =
        static_cast<std::uint32_t>(std::min<std::size_t>(48, image.size() - offset) / 4);
    ASSERT_EQ(writeBlock(session.link, image.data() + offset, words), LINK_OK);
  }
  ASSERT_EQ(setWriteProtection(session.link, WriteProtection::Restore), LINK_OK);
  ASSERT_EQ(setSystemLock(session.link, LockState::Reset), LINK_OK);

  EXPECT_EQ(sim::writtenFirmware(session.device()), image);
  EXPECT_EQ(session.device().bootloader.blocksWritten, 4u);
  EXPECT_TRUE(session.device().bootloader.writeProtected);
  EXPECT_FALSE(session.device().bootloader.systemLocked);
}

}  // namespace
}  // namespace esc::test
