// WebHID's report shapes turned into the link's: declared lengths from the items of a
// device's collections, and input reports with their id apart.
#include "device/webhid/webhid_framing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "device/hid_link.h"

namespace esc {
namespace {

struct LengthCase {
  const char* name;
  std::vector<WebHidReportInfo> reports;
  std::uint16_t declared;
};

TEST(WebHidFraming, DeclaredLengthIsTheLongestReportPlusItsIdByte) {
  const LengthCase cases[] = {
      {"the unit: 59 bytes behind id 2", {{2, 59 * 8}}, REPORT_SIZE},
      {"unnumbered reports count the id byte too", {{0, 64 * 8}}, 65},
      {"the longest of several reports", {{1, 8}, {2, 59 * 8}, {3, 16 * 8}}, REPORT_SIZE},
      {"bits are rounded up to whole bytes", {{2, 59 * 8 + 1}}, REPORT_SIZE + 1},
      {"three bits are one byte", {{2, 3}}, 2},
      {"an empty report is the id byte alone", {{2, 0}}, 1},
      {"no report in that direction", {}, 0},
      {"the longest length a 16-bit value declares", {{1, 0xFFFEu * 8}}, 0xFFFF},
      {"one byte more cannot be declared", {{1, 0xFFFFu * 8}}, 0},
      {"nor can a count that overflows 32 bits of bytes", {{1, 0xFFFFFFFFu}}, 0},
  };
  for (const LengthCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(declaredReportLength(c.reports.data(), c.reports.size()), c.declared);
  }
}

struct InputCase {
  const char* name;
  std::uint8_t reportId;
  std::size_t dataSize;
  std::size_t length;
  bool framed;
};

TEST(WebHidFraming, AnInputReportIsFramedOnlyWhenIdAndDataFillTheDeclaredLength) {
  const InputCase cases[] = {
      {"the unit's answer", INPUT_REPORT_ID, 59, REPORT_SIZE, true},
      {"a longer declaration, filled", INPUT_REPORT_ID, 63, 64, true},
      {"an unnumbered report keeps id 0", 0, 59, REPORT_SIZE, true},
      {"a byte short", INPUT_REPORT_ID, 58, REPORT_SIZE, false},
      {"a byte long", INPUT_REPORT_ID, 60, REPORT_SIZE, false},
      {"no data for a whole report", INPUT_REPORT_ID, 0, REPORT_SIZE, false},
      {"nothing declared", INPUT_REPORT_ID, 0, 0, false},
      {"the id byte alone", INPUT_REPORT_ID, 0, 1, true},
  };
  for (const InputCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> data(c.dataSize);
    for (std::size_t i = 0; i < data.size(); ++i) {
      data[i] = static_cast<std::uint8_t>(0x10 + i);
    }
    std::vector<std::uint8_t> report(c.length + 1, 0xEE);
    ASSERT_EQ(frameInputReport(c.reportId, data.data(), data.size(), report.data(), c.length),
              c.framed);
    if (!c.framed) {
      EXPECT_EQ(report, std::vector<std::uint8_t>(c.length + 1, 0xEE)) << "left untouched";
      continue;
    }
    EXPECT_EQ(report[0], c.reportId);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), report.begin() + 1));
    EXPECT_EQ(report[c.length], 0xEE) << "nothing written past the declared length";
  }
}

}  // namespace
}  // namespace esc
