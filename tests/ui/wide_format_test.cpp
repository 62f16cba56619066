// The bounded formatter: conversions, untrusted formats, and buffer limits.
#include "ui/wide_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace esc {
namespace {

constexpr char16_t GUARD = u'\xA5A5';

// Formats into a buffer of `capacity` units surrounded by guard units and checks that
// nothing outside it was touched and that the result is terminated.
struct Formatted {
  std::u16string text;
  bool truncated;
};

Formatted format(const char16_t* pattern, std::vector<FormatArgument> arguments,
                 std::size_t capacity = 64) {
  std::vector<char16_t> memory(capacity + 16, GUARD);
  TextBuffer buffer = startText(memory.data() + 8, capacity);
  appendFormatted(buffer, pattern, arguments.data(), arguments.size());
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(memory[i], GUARD) << "before the buffer";
  for (std::size_t i = capacity + 8; i < memory.size(); ++i) {
    EXPECT_EQ(memory[i], GUARD) << "after the buffer";
  }
  if (capacity == 0) return {std::u16string(), buffer.truncated};
  const std::u16string text(memory.data() + 8);
  EXPECT_LT(text.size(), capacity) << "not terminated inside the buffer";
  EXPECT_EQ(text.size(), buffer.length);
  return {text, buffer.truncated};
}

struct FormatCase {
  const char* name;
  const char16_t* pattern;
  std::vector<FormatArgument> arguments;
  const char16_t* expected;
};

void PrintTo(const FormatCase& entry, std::ostream* out) { *out << entry.name; }

class FormatConversions : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatConversions, GiveTheExpectedText) {
  const FormatCase& entry = GetParam();
  const Formatted result = format(entry.pattern, entry.arguments);
  EXPECT_EQ(result.text, std::u16string(entry.expected));
  EXPECT_FALSE(result.truncated);
}

const FormatCase CONVERSIONS[] = {
    {"plain text stays", u"no conversions", {}, u"no conversions"},
    {"percent pair", u"100%% sure", {}, u"100% sure"},
    {"wide string", u"type '%s'.", {textArgument(u"TESSARO HVI")}, u"type 'TESSARO HVI'."},
    {"decimal", u"%u.%u", {numberArgument(1), numberArgument(5)}, u"1.5"},
    {"largest decimal", u"%u", {numberArgument(0xFFFFFFFFu)}, u"4294967295"},
    {"zero", u"%u", {numberArgument(0)}, u"0"},
    {"hex is lowercase", u"%x", {numberArgument(0xABCDEFu)}, u"abcdef"},
    {"eight hex digits with zeros", u"0x%08x", {numberArgument(0x65Bu)}, u"0x0000065b"},
    {"hex pattern of minus two", u"%08x", {numberArgument(0xFFFFFFFEu)}, u"fffffffe"},
    {"space padding", u"[%5u]", {numberArgument(42)}, u"[   42]"},
    {"width below the digit count", u"%2u", {numberArgument(12345)}, u"12345"},
    {"non-ASCII text kept", u"\u00e4%s\u2122", {textArgument(u"\u00df")}, u"\u00e4\u00df\u2122"},
    {"null text argument is empty", u"<%s>", {textArgument(nullptr)}, u"<>"},
    {"unknown conversion copied", u"%d and %ls", {numberArgument(7)}, u"%d and %ls"},
    {"missing argument copied", u"%u %u", {numberArgument(7)}, u"7 %u"},
    {"missing text argument copied", u"'%s'", {}, u"'%s'"},
    {"number where text expected", u"%s|%u", {numberArgument(1), numberArgument(2)}, u"%s|2"},
    {"text where number expected", u"%08x|%s", {textArgument(u"a"), textArgument(u"b")}, u"%08x|b"},
    {"trailing percent", u"50%", {numberArgument(1)}, u"50%"},
    {"cut conversion at the end", u"x%08", {numberArgument(1)}, u"x%08"},
    {"three-digit width refused", u"%123u", {numberArgument(1)}, u"%123u"},
    {"width on a string refused", u"%5s", {textArgument(u"a")}, u"%5s"},
    {"percent after percent", u"%0%u", {numberArgument(3)}, u"%03"},
};

INSTANTIATE_TEST_SUITE_P(Cases, FormatConversions, ::testing::ValuesIn(CONVERSIONS));

TEST(FormatLimits, AZeroCapacityBufferIsNeverWritten) {
  const Formatted result = format(u"abc", {}, 0);
  EXPECT_TRUE(result.truncated);
}

TEST(FormatLimits, ANullBufferIsNeverWritten) {
  TextBuffer buffer = startText(nullptr, 10);
  appendText(buffer, u"abc");
  EXPECT_EQ(buffer.length, 0u);
  EXPECT_TRUE(buffer.truncated);
}

TEST(FormatLimits, ACapacityOfOneHoldsOnlyTheTerminator) {
  const Formatted result = format(u"abc", {}, 1);
  EXPECT_EQ(result.text, u"");
  EXPECT_TRUE(result.truncated);
}

TEST(FormatLimits, AnExactFitIsNotTruncated) {
  const Formatted result = format(u"abc", {}, 4);
  EXPECT_EQ(result.text, u"abc");
  EXPECT_FALSE(result.truncated);
}

TEST(FormatLimits, TextIsCutOneUnitShortOfTheCapacity) {
  const Formatted result = format(u"abcdef", {}, 4);
  EXPECT_EQ(result.text, u"abc");
  EXPECT_TRUE(result.truncated);
}

TEST(FormatLimits, ANumberIsLeftOutRatherThanCut) {
  const Formatted result = format(u"code %08x", {numberArgument(0xFFFFFFFEu)}, 10);
  EXPECT_EQ(result.text, u"code ");
  EXPECT_TRUE(result.truncated);
}

TEST(FormatLimits, NothingFollowsACut) {
  // "1" would still fit after the cut string, but must not be glued onto it.
  const Formatted result = format(u"%s%u", {textArgument(u"abcdefgh"), numberArgument(1)}, 6);
  EXPECT_EQ(result.text, u"abcde");
  EXPECT_TRUE(result.truncated);
}

TEST(FormatLimits, ASurrogatePairIsNeverSplit) {
  const char16_t emoji[] = u"a\U0001F600";
  Formatted result = format(emoji, {}, 3);
  EXPECT_EQ(result.text, u"a");
  EXPECT_TRUE(result.truncated);
  result = format(emoji, {}, 4);
  EXPECT_EQ(result.text, emoji);
  EXPECT_FALSE(result.truncated);
}

TEST(FormatLimits, ALoneSurrogateIsCopiedAsOneUnit) {
  const char16_t broken[] = {u'a', 0xD800, u'b', 0};
  const Formatted result = format(broken, {}, 8);
  EXPECT_EQ(result.text, std::u16string(broken));
}

TEST(FormatLimits, AppendedPiecesJoinInOrder) {
  char16_t data[16];
  TextBuffer buffer = startText(data, 16);
  appendText(buffer, u"ab");
  appendText(buffer, nullptr);
  const FormatArgument number[] = {numberArgument(9)};
  appendFormatted(buffer, u"-%u-", number, 1);
  appendFormatted(buffer, nullptr, number, 1);
  EXPECT_EQ(std::u16string(data), u"ab-9-");
  EXPECT_EQ(buffer.length, 5u);
  EXPECT_FALSE(buffer.truncated);
}

}  // namespace
}  // namespace esc
