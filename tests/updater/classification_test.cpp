#include "updater/classification.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

namespace esc {
namespace {

// Values no classification ever writes, so any write shows.
constexpr UpdateTarget UNTOUCHED = {0x1111, 0x2222, 0x3333, 0x4444};

std::tuple<int, int, int, int> fields(const UpdateTarget& target) {
  return {target.type, target.rating, target.cells, target.targetVersion};
}

std::string hex(std::uint32_t value, int digits = 8) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
  return text;
}

struct SupportedCase {
  std::uint32_t code;
  std::uint16_t rating;
  std::uint16_t cells;
  std::uint16_t imageId;
};

const SupportedCase SUPPORTED_CASES[] = {
    {0x110FA0AA, 170, 17, 158}, {0x110FA0D2, 210, 17, 157}, {0x110FA0FA, 250, 17, 151},
    {0x140FA0AA, 170, 20, 174}, {0x140FA0D2, 210, 20, 173}, {0x140FA0FA, 250, 20, 172},
};

constexpr std::uint32_t ACCEPTED_WITHOUT_TARGET = 0x0A0640AA;

void PrintTo(const SupportedCase& c, std::ostream* out) { *out << hex(c.code); }

class SupportedModel : public testing::TestWithParam<SupportedCase> {};

TEST_P(SupportedModel, WritesTypeRatingCellsAndTargetVersion) {
  const SupportedCase& c = GetParam();
  UpdateTarget target = UNTOUCHED;
  EXPECT_EQ(classifyController(c.code, target), ClassificationResult::Supported);
  EXPECT_EQ(fields(target), std::make_tuple(250, int{c.rating}, int{c.cells}, 0x0101));
}

TEST_P(SupportedModel, CountsAsSupportedCode) {
  EXPECT_TRUE(isSupportedModelCode(GetParam().code));
}

TEST_P(SupportedModel, LeadsToItsOwnImage) {
  const SupportedCase& c = GetParam();
  UpdateTarget target = {0, 0, 0, 0};
  ASSERT_EQ(classifyController(c.code, target), ClassificationResult::Supported);
  EXPECT_EQ(selectFirmwareImage(target), c.imageId);
}

TEST_P(SupportedModel, ReplacesEveryFieldOfAnEarlierClassification) {
  const SupportedCase& c = GetParam();
  for (const SupportedCase& earlier : SUPPORTED_CASES) {
    UpdateTarget target = UNTOUCHED;
    ASSERT_EQ(classifyController(earlier.code, target), ClassificationResult::Supported);
    EXPECT_EQ(classifyController(c.code, target), ClassificationResult::Supported);
    EXPECT_EQ(fields(target), std::make_tuple(250, int{c.rating}, int{c.cells}, 0x0101))
        << "after " << hex(earlier.code);
  }
}

INSTANTIATE_TEST_SUITE_P(AllSixCodes, SupportedModel, testing::ValuesIn(SUPPORTED_CASES),
                         [](const testing::TestParamInfo<SupportedCase>& nameInfo) {
                           return hex(nameInfo.param.code);
                         });

struct OtherCase {
  std::string name;
  std::uint32_t code;
  ClassificationResult expected;
};

bool isKnownCode(std::uint32_t code) {
  if (code == ACCEPTED_WITHOUT_TARGET) {
    return true;
  }
  for (const SupportedCase& c : SUPPORTED_CASES) {
    if (c.code == code) {
      return true;
    }
  }
  return false;
}

std::uint32_t reversedBytes(std::uint32_t code) {
  return (code >> 24) | ((code >> 8) & 0xFF00u) | ((code << 8) & 0xFF0000u) | (code << 24);
}

// Codes next to the seven known ones: each differs in one byte (by one either way, or in
// its top bit) or has its bytes in reverse order. Variants that land on another known
// code, e.g. rating byte 0xAA changed to 0xD2, are left out.
std::vector<OtherCase> otherCases() {
  std::vector<OtherCase> cases = {
      {"AcceptedWithoutTarget", ACCEPTED_WITHOUT_TARGET,
       ClassificationResult::AcceptedWithoutTarget},
      {"Zero", 0x00000000, ClassificationResult::Incompatible},
      {"AllOnes", 0xFFFFFFFF, ClassificationResult::Incompatible},
      {"SupportedLowWordOnly", 0x0000A0D2, ClassificationResult::Incompatible},
      {"SupportedHighWordOnly", 0x110F0000, ClassificationResult::Incompatible},
      {"AcceptedFamilyWithSupportedRating", 0x0A0640D2, ClassificationResult::Incompatible},
      {"RatingAndCellsOfSupportedCodeSwapped", 0xAA0FA011, ClassificationResult::Incompatible},
  };
  std::vector<std::uint32_t> known = {ACCEPTED_WITHOUT_TARGET};
  for (const SupportedCase& c : SUPPORTED_CASES) {
    known.push_back(c.code);
  }
  for (std::uint32_t code : known) {
    cases.push_back(
        {hex(code) + "Reversed", reversedBytes(code), ClassificationResult::Incompatible});
    for (unsigned byte = 0; byte < 4; ++byte) {
      const unsigned shift = byte * 8;
      const std::uint32_t value = (code >> shift) & 0xFFu;
      const std::uint32_t changes[] = {(value + 1) & 0xFFu, (value + 0xFFu) & 0xFFu, value ^ 0x80u};
      for (std::uint32_t changed : changes) {
        const std::uint32_t variant = (code & ~(0xFFu << shift)) | (changed << shift);
        if (isKnownCode(variant)) {
          continue;
        }
        cases.push_back({hex(code) + "Byte" + std::to_string(byte) + "To" + hex(changed, 2),
                         variant, ClassificationResult::Incompatible});
      }
    }
  }
  return cases;
}

void PrintTo(const OtherCase& c, std::ostream* out) { *out << c.name << " " << hex(c.code); }

class OtherModelCode : public testing::TestWithParam<OtherCase> {};

TEST_P(OtherModelCode, GivesItsOutcomeAndLeavesTargetUnchanged) {
  const OtherCase& c = GetParam();
  UpdateTarget target = UNTOUCHED;
  EXPECT_EQ(classifyController(c.code, target), c.expected) << hex(c.code);
  EXPECT_EQ(fields(target), fields(UNTOUCHED)) << hex(c.code);
}

TEST_P(OtherModelCode, DoesNotCountAsSupportedCode) {
  EXPECT_FALSE(isSupportedModelCode(GetParam().code)) << hex(GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(NeighboursOfKnownCodes, OtherModelCode, testing::ValuesIn(otherCases()),
                         [](const testing::TestParamInfo<OtherCase>& nameInfo) {
                           return nameInfo.param.name;
                         });

TEST(Classification, AcceptedCodeAfterSupportedOneKeepsEarlierTarget) {
  UpdateTarget target = {0, 0, 0, 0};
  ASSERT_EQ(classifyController(0x110FA0D2, target), ClassificationResult::Supported);
  EXPECT_EQ(classifyController(ACCEPTED_WITHOUT_TARGET, target),
            ClassificationResult::AcceptedWithoutTarget);
  EXPECT_EQ(fields(target), std::make_tuple(250, 210, 17, 0x0101));
  EXPECT_EQ(selectFirmwareImage(target), 157);
}

TEST(Classification, IncompatibleCodeAfterSupportedOneKeepsEarlierTarget) {
  UpdateTarget target = {0, 0, 0, 0};
  ASSERT_EQ(classifyController(0x140FA0FA, target), ClassificationResult::Supported);
  EXPECT_EQ(classifyController(0xFAA00F14, target), ClassificationResult::Incompatible);
  EXPECT_EQ(fields(target), std::make_tuple(250, 250, 20, 0x0101));
}

struct SelectionCase {
  std::string name;
  UpdateTarget target;
  std::uint16_t imageId;
};

const SelectionCase SELECTION_CASES[] = {
    {"Rating170Cells17", {250, 170, 17, 0x0101}, 158},
    {"Rating170Cells20", {250, 170, 20, 0x0101}, 174},
    {"Rating210Cells17", {250, 210, 17, 0x0101}, 157},
    {"Rating210Cells20", {250, 210, 20, 0x0101}, 173},
    {"Rating250Cells17", {250, 250, 17, 0x0101}, 151},
    {"Rating250Cells20", {250, 250, 20, 0x0101}, 172},
    // The target version plays no part in the choice.
    {"Rating210Cells17VersionZero", {250, 210, 17, 0}, 157},
    {"Rating250Cells20OtherVersion", {250, 250, 20, 0x0203}, 172},
    // Everything else falls back to image 122.
    {"NeverWritten", {0, 0, 0, 0}, 122},
    {"Cells21", {250, 250, 21, 0x0101}, 122},
    {"Cells0", {250, 210, 0, 0x0101}, 122},
    {"Rating171", {250, 171, 17, 0x0101}, 122},
    {"Rating0", {250, 0, 20, 0x0101}, 122},
    {"Type251", {251, 210, 17, 0x0101}, 122},
    {"Type0", {0, 170, 20, 0x0101}, 122},
    {"RatingAndCellsSwapped", {250, 17, 170, 0x0101}, 122},
    {"AllOnes", {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}, 122},
};

void PrintTo(const SelectionCase& c, std::ostream* out) {
  *out << "(" << c.target.type << ", " << c.target.rating << ", " << c.target.cells << ", "
       << c.target.targetVersion << ") -> " << c.imageId;
}

class ImageSelection : public testing::TestWithParam<SelectionCase> {};

TEST_P(ImageSelection, PicksTheTableRowOrFallsBackTo122) {
  const SelectionCase& c = GetParam();
  EXPECT_EQ(selectFirmwareImage(c.target), c.imageId);
}

INSTANTIATE_TEST_SUITE_P(Table, ImageSelection, testing::ValuesIn(SELECTION_CASES),
                         [](const testing::TestParamInfo<SelectionCase>& nameInfo) {
                           return nameInfo.param.name;
                         });

}  // namespace
}  // namespace esc
