// Texts on the terminal: UTF-16 to UTF-8 and back, and the language a locale selects.
#include "ui/cli/cli_text.h"

#include <gtest/gtest.h>

#include "resources/message_ids.h"

namespace esc::cli {
namespace {

TEST(CliText, Utf8OfCatalogueTextsKeepsLettersAndTurnsCrLfIntoLf) {
  EXPECT_EQ(toUtf8(u"Gr\u00fc\u00dfe\r\nWindows\u2122PC"),
            "Gr\xc3\xbc\xc3\x9f"
            "e\nWindows\xe2\x84\xa2PC");
  // A lone CR or LF stays; only the pair is a catalogue line break.
  EXPECT_EQ(toUtf8(u"a\rb\nc\r\n"), "a\rb\nc\n");
  EXPECT_EQ(toUtf8(u"\U0001F600"), "\xf0\x9f\x98\x80");
  EXPECT_EQ(toUtf8(u"x\xD800y"), "x\xef\xbf\xbdy");
  EXPECT_EQ(toUtf8(u"\xDC00"), "\xef\xbf\xbd");
  EXPECT_EQ(toUtf8(static_cast<const char16_t*>(nullptr)), "");
}

struct Utf8Case {
  const char* utf8;
  std::u16string utf16;
};

const Utf8Case FROM_UTF8[] = {
    {"/dev/hidraw3", u"/dev/hidraw3"},
    {"\xc3\xa4", u"\u00e4"},
    {"\xf0\x9f\x98\x80", u"\U0001F600"},
    {"\xc3", u"\xFFFD"},                                // cut short
    {"\xc0\xaf", u"\xFFFD\xFFFD"},                      // overlong
    {"\xed\xa0\x80", u"\xFFFD\xFFFD\xFFFD"},            // a surrogate
    {"\xf4\x90\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD"},  // past U+10FFFF
    {"a\x80z", u"a\xFFFDz"},
};

TEST(CliText, Utf16OfArgumentsReplacesWhatIsNoUtf8) {
  for (const Utf8Case& c : FROM_UTF8) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(fromUtf8(c.utf8), c.utf16);
  }
}

struct LocaleCase {
  const char* lcAll;
  const char* lcMessages;
  const char* lang;
  Language language;
};

const LocaleCase LOCALES[] = {
    {nullptr, nullptr, nullptr, Language::English},
    {nullptr, nullptr, "de_DE.UTF-8", Language::German},
    {nullptr, nullptr, "de", Language::German},
    {nullptr, nullptr, "de_AT@euro", Language::German},
    {nullptr, nullptr, "de_CH.UTF-8", Language::German},
    {nullptr, nullptr, "fr_FR.UTF-8", Language::English},
    {nullptr, nullptr, "C", Language::English},
    {nullptr, nullptr, "dent", Language::English},
    {nullptr, "de_DE.UTF-8", "en_US.UTF-8", Language::German},
    {nullptr, "en_GB.UTF-8", "de_DE.UTF-8", Language::English},
    {"en_US.UTF-8", "de_DE.UTF-8", "de_DE.UTF-8", Language::English},
    {"de_DE.UTF-8", "C", "C", Language::German},
    // An empty variable counts as unset.
    {"", "", "de_DE.UTF-8", Language::German},
};

TEST(CliText, TheFirstSetLocaleVariableDecidesTheLanguage) {
  for (const LocaleCase& c : LOCALES) {
    SCOPED_TRACE(std::string(c.lcAll ? c.lcAll : "-") + " " + (c.lcMessages ? c.lcMessages : "-") +
                 " " + (c.lang ? c.lang : "-"));
    EXPECT_EQ(languageOfLocale(c.lcAll, c.lcMessages, c.lang), c.language);
  }
}

// The terminal's ready text and instructions are the window's, with the command to run
// where the window names its button: the rest of each text is the window's, letter for
// letter.
struct CommandTextCase {
  MessageId window;
  MessageId terminal;
  Language language;
  const char* button;
  const char* command;
};

const CommandTextCase COMMAND_TEXTS[] = {
    {MSG_READY, MSG_CLI_READY, Language::English, "please click on the 'Update'-Button.",
     "please run 'escupdate update'."},
    {MSG_READY, MSG_CLI_READY, Language::German, "Auf 'Update' klicken, um",
     "'escupdate update' ausf\xc3\xbchren, um"},
    {MSG_INSTRUCTIONS, MSG_CLI_INSTRUCTIONS, Language::English,
     "you can click on the 'Update'-Button to update", "you can run 'escupdate update' to update"},
    {MSG_INSTRUCTIONS, MSG_CLI_INSTRUCTIONS, Language::German,
     "\xc3\xbc"
     "ber den Button 'Update'",
     "mit 'escupdate update'"},
};

TEST(CliText, TheTerminalsTextsNameTheCommandWhereTheWindowsNameTheButton) {
  for (const CommandTextCase& c : COMMAND_TEXTS) {
    SCOPED_TRACE(c.command);
    setMessageLanguage(c.language);
    std::string window = messageText(c.window);
    const std::size_t at = window.find(c.button);
    ASSERT_NE(at, std::string::npos);
    window.replace(at, std::string(c.button).size(), c.command);
    EXPECT_EQ(messageText(c.terminal), window);
  }
  setMessageLanguage(Language::English);
}

}  // namespace
}  // namespace esc::cli
