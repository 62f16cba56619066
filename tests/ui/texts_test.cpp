// The text rules of the main window: version rows, unit label, title, the error report's
// text with its code line, the status panel's composition and the incompatibility text.
#include "ui/texts.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "resources/message_ids.h"
#include "resources/messages.h"

namespace esc {
namespace {

std::uint32_t packed(unsigned b3, unsigned b2, unsigned b1, unsigned b0) {
  return (b3 << 24) | (b2 << 16) | (b1 << 8) | b0;
}

struct VersionCase {
  std::uint32_t version;
  const char16_t* expected;
};

void PrintTo(const VersionCase& entry, std::ostream* out) {
  *out << "0x" << std::hex << entry.version;
}

std::u16string unitVersion(std::uint32_t version) {
  char16_t text[VERSION_TEXT_UNITS];
  formatUnitVersion(version, text);
  return text;
}

std::u16string bootloaderVersion(std::uint32_t version) {
  char16_t text[VERSION_TEXT_UNITS];
  formatBootloaderVersion(version, text);
  return text;
}

std::u16string escFirmwareVersion(std::uint16_t version) {
  char16_t text[VERSION_TEXT_UNITS];
  formatEscFirmwareVersion(version, text);
  return text;
}

class UnitVersionText : public ::testing::TestWithParam<VersionCase> {};
TEST_P(UnitVersionText, ShowsTheExpectedNumbers) {
  EXPECT_EQ(unitVersion(GetParam().version), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Rows, UnitVersionText,
    ::testing::Values(VersionCase{packed(0, 0, 1, 5), u"1.5"},
                      VersionCase{packed(0, 1, 5, 0), u"1.5"},  // zero low byte shifted out
                      VersionCase{packed(2, 0, 1, 5), u"2.1.5"},
                      VersionCase{packed(1, 2, 3, 4), u"1.3.4"},  // bits 16-23 never shown
                      VersionCase{packed(1, 2, 3, 0), u"2.3"},    // the shift drops the top
                      VersionCase{packed(0, 7, 0, 0), u"7.0"},    // only one byte is shifted
                      VersionCase{packed(0, 0, 0, 0), u"0.0"},
                      VersionCase{packed(255, 255, 255, 255), u"255.255.255"}));

class BootloaderVersionText : public ::testing::TestWithParam<VersionCase> {};
TEST_P(BootloaderVersionText, ShowsTheExpectedNumbers) {
  EXPECT_EQ(bootloaderVersion(GetParam().version), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Rows, BootloaderVersionText,
                         ::testing::Values(VersionCase{packed(0, 0, 2, 3), u"2.3"},
                                           VersionCase{packed(0, 1, 5, 0),
                                                       u"5.0"},  // no shift in this row
                                           VersionCase{packed(2, 0, 1, 5), u"2.1.5"},
                                           VersionCase{packed(1, 2, 3, 4), u"1.3.4"},
                                           VersionCase{packed(0, 9, 0, 0), u"0.0"},
                                           VersionCase{packed(255, 0, 255, 255), u"255.255.255"}));

class EscFirmwareVersionText : public ::testing::TestWithParam<VersionCase> {};
TEST_P(EscFirmwareVersionText, ShowsTheExpectedNumbers) {
  EXPECT_EQ(escFirmwareVersion(static_cast<std::uint16_t>(GetParam().version)),
            GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Rows, EscFirmwareVersionText,
                         ::testing::Values(VersionCase{0x0101, u"1.1"}, VersionCase{0, u"0.0"},
                                           VersionCase{0x0100, u"1.0"},
                                           VersionCase{0x0A0F, u"10.15"},
                                           VersionCase{0xFFFE, u"255.254"},
                                           VersionCase{0xFFFF, u"----------"}));

TEST(VersionText, TheLongestTextFitsItsBuffer) {
  // The buffer is exactly VERSION_TEXT_UNITS long, so AddressSanitizer sees any overrun.
  char16_t text[VERSION_TEXT_UNITS];
  formatBootloaderVersion(0xFFFFFFFFu, text);
  EXPECT_EQ(std::u16string(text), u"255.255.255");
  EXPECT_EQ(std::u16string(text).size(), 11u);
}

TEST(VersionText, NoLinkShowsZeros) { EXPECT_EQ(std::u16string(NO_LINK_VERSION_TEXT), u"0.0.0"); }

TEST(UnitLabel, ProductOneIsTheTunepuckAndEveryOtherTheConfPod) {
  EXPECT_EQ(std::u16string(unitTypeLabel(1)), u"TUNEPUCK");
  EXPECT_EQ(std::u16string(unitTypeLabel(2)), u"CONF-POD");
  EXPECT_EQ(std::u16string(unitTypeLabel(0)), u"CONF-POD");
  EXPECT_EQ(std::u16string(unitTypeLabel(0xFFFF)), u"CONF-POD");
}

TEST(Title, NamesTheTypeVersionAndEdition) {
  char16_t title[TITLE_UNITS];
  formatTitle(title);
  EXPECT_EQ(std::u16string(title), u"VELMOR TESSARO HVI FW Updater 1.1 Bootloader update");
}

class CatalogueTexts : public ::testing::TestWithParam<Language> {
 protected:
  void SetUp() override { setMessageLanguage(GetParam()); }
  void TearDown() override { setMessageLanguage(Language::English); }

  static std::u16string load(MessageId id) {
    char16_t buffer[MESSAGE_BUFFER_UNITS];
    loadMessage(id, buffer);
    return buffer;
  }

  static std::u16string errorText(MessageId message, std::int32_t errorValue,
                                  std::uint32_t systemError) {
    const std::u16string text = load(message);
    const std::u16string codeLine = load(MSG_ERROR_CODE_LINE);
    char16_t box[MESSAGE_BUFFER_UNITS];
    composeErrorText(text.c_str(), codeLine.c_str(), errorValue, systemError, box,
                     MESSAGE_BUFFER_UNITS);
    return box;
  }

  static std::u16string codeLinePrefix() {
    return GetParam() == Language::German ? u"Das System meldet Fehlercode "
                                          : u"The system shows following errorcode: ";
  }
};

struct CodeLineCase {
  std::int32_t errorValue;
  std::uint32_t systemError;
  const char16_t* codes;
};

TEST_P(CatalogueTexts, ErrorTextEndsWithTheCodeLineOfBothValues) {
  const CodeLineCase cases[] = {
      {-2, 31, u"0xfffffffe-0x0000001f"},          {-2, 0, u"0xfffffffe-0x00000000"},
      {-3, 0, u"0xfffffffd-0x00000000"},           {1627, 0, u"0x0000065b-0x00000000"},
      {0, 0xFFFFFFFFu, u"0x00000000-0xffffffff"},  {INT32_MIN, 5, u"0x80000000-0x00000005"},
      {0x7FFFFFFF, 1167, u"0x7fffffff-0x0000048f"}};
  const std::u16string message = load(MSG_ERASE_FAILED);
  for (const CodeLineCase& entry : cases) {
    EXPECT_EQ(errorText(MSG_ERASE_FAILED, entry.errorValue, entry.systemError),
              message + u"\r\n" + codeLinePrefix() + entry.codes)
        << entry.errorValue;
  }
}

TEST_P(CatalogueTexts, ErrorTextOfMinusOneIsTheMessageAlone) {
  const std::u16string text = errorText(MSG_UNIT_NOT_DETECTED, -1, 31);
  EXPECT_EQ(text, load(MSG_UNIT_NOT_DETECTED));
  EXPECT_EQ(text.find(u'\r'), std::u16string::npos);
  EXPECT_EQ(text.find(u"0x"), std::u16string::npos);
}

TEST_P(CatalogueTexts, StatusWithInstructionsIsHeadingBlankLineInstructions) {
  const std::u16string heading = load(MSG_NO_UNIT);
  const std::u16string instructions = load(MSG_INSTRUCTIONS);
  char16_t panel[MESSAGE_BUFFER_UNITS];
  composeStatusWithInstructions(heading.c_str(), instructions.c_str(), panel, MESSAGE_BUFFER_UNITS);
  EXPECT_EQ(std::u16string(panel), heading + u"\r\n\r\n" + instructions);
}

TEST_P(CatalogueTexts, IncompatibilityTextNamesTheSupportedTypeBetweenItsQuotes) {
  const std::u16string format = load(MSG_INCOMPATIBLE);
  char16_t text[MESSAGE_BUFFER_UNITS];
  formatIncompatibleText(format.c_str(), text, MESSAGE_BUFFER_UNITS);
  const std::u16string result = text;
  const std::size_t quoted = format.find(u"'%s'");
  ASSERT_NE(quoted, std::u16string::npos);
  EXPECT_EQ(result, format.substr(0, quoted) + u"'TESSARO HVI'" + format.substr(quoted + 4));
  EXPECT_EQ(result.find(u'%'), std::u16string::npos);
}

INSTANTIATE_TEST_SUITE_P(Languages, CatalogueTexts,
                         ::testing::Values(Language::English, Language::German),
                         [](const ::testing::TestParamInfo<Language>& language) {
                           return language.param == Language::German ? "German" : "English";
                         });

TEST(IncompatibilityText, EnglishReadsInFull) {
  const char16_t format[] =
      u"With this updater you can only update the firmware of VELMOR ESCs with the type "
      u"'%s'. Other models are not supported.";
  char16_t text[MESSAGE_BUFFER_UNITS];
  formatIncompatibleText(format, text, MESSAGE_BUFFER_UNITS);
  EXPECT_EQ(std::u16string(text),
            u"With this updater you can only update the firmware of VELMOR ESCs with the type "
            u"'TESSARO HVI'. Other models are not supported.");
}

TEST(ErrorText, IsCutInsideASmallBufferAndStaysTerminated) {
  std::vector<char16_t> memory(24, u'\xA5A5');
  composeErrorText(u"Update failed", u"code 0x%08x-0x%08x", -2, 0, memory.data(), 16);
  EXPECT_EQ(std::u16string(memory.data()), u"Update failed\r\n");
  for (std::size_t i = 16; i < memory.size(); ++i) EXPECT_EQ(memory[i], u'\xA5A5');
}

TEST(ErrorText, AHostileCodeLineFormatReadsNoMissingArgument) {
  char16_t text[64];
  composeErrorText(u"m", u"%08x %08x %08x %s", -2, 7, text, 64);
  EXPECT_EQ(std::u16string(text), u"m\r\nfffffffe 00000007 %08x %s");
}

TEST(StatusText, IsCutInsideASmallBufferAndStaysTerminated) {
  std::vector<char16_t> memory(16, u'\xA5A5');
  composeStatusWithInstructions(u"Head", u"Steps", memory.data(), 8);
  EXPECT_EQ(std::u16string(memory.data()), u"Head\r\n\r");
  for (std::size_t i = 8; i < memory.size(); ++i) EXPECT_EQ(memory[i], u'\xA5A5');
}

TEST(IncompatibilityText, AFormatWithExtraConversionsKeepsThemLiterally) {
  char16_t text[64];
  formatIncompatibleText(u"'%s' %s %u", text, 64);
  EXPECT_EQ(std::u16string(text), u"'TESSARO HVI' %s %u");
}

}  // namespace
}  // namespace esc
