// The compiled message catalogue: which ids have texts, the texts themselves in both
// languages, and the native loadMessage.
#include <gtest/gtest.h>

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "resources/message_ids.h"
#include "resources/messages.h"

namespace esc {
namespace {

// Every id that the program shows, plus the missing-image message and the reason shown
// when Windows is asked not to end the session.
const std::set<MessageId> SHOWN_IDS = {40000, 40001, 40002, 40008, 40009, 40011, 40012, 40015,
                                       40016, 40017, 40020, 40022, 40023, 40025, 40026, 40027,
                                       40028, 40029, 40030, 40032, 40033, 40034, 40035, 40036,
                                       40037, 40038, 40039, 40040, 40041, 40042, 40043};

// The command line's own texts, which the window has no need of.
const std::set<MessageId> COMMAND_LINE_IDS = {41000, 41001, 41002, 41003, 41004, 41005, 41006,
                                              41007, 41008, 41009, 41010, 41011, 41012, 41013,
                                              41014, 41015, 41016, 41017, 41018};

// The page's own texts (the updater in the browser).
const std::set<MessageId> PAGE_IDS = {42000, 42001, 42002, 42003, 42004, 42005,
                                      42006, 42007, 42008, 42009, 42010};

// Ids inside the shown range that deliberately have no text.
const MessageId IDS_WITHOUT_TEXT[] = {40010, 40013, 40014, 40018, 40019, 40021, 40024};

std::u16string textOf(Language language, MessageId id) {
  const char16_t* text = catalogueText(language, id);
  return text == nullptr ? std::u16string() : std::u16string(text);
}

class CatalogueLanguage : public ::testing::Test {
 protected:
  void TearDown() override { setMessageLanguage(Language::English); }
};

TEST(Catalogue, EveryShownIdHasAnEnglishAndAGermanText) {
  for (MessageId id : SHOWN_IDS) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(textOf(Language::English, id).empty());
    EXPECT_FALSE(textOf(Language::German, id).empty());
  }
}

TEST(Catalogue, IdsWithoutTextHaveNoneInEitherLanguage) {
  for (MessageId id : IDS_WITHOUT_TEXT) {
    SCOPED_TRACE(id);
    EXPECT_EQ(catalogueText(Language::English, id), nullptr);
    EXPECT_EQ(catalogueText(Language::German, id), nullptr);
  }
}

TEST(Catalogue, HoldsExactlyTheShownIdsAndEachInBothLanguages) {
  std::set<MessageId> english;
  std::set<MessageId> german;
  for (unsigned value = 0; value <= 0xFFFF; ++value) {
    const auto id = static_cast<MessageId>(value);
    if (catalogueText(Language::English, id) != nullptr) english.insert(id);
    if (catalogueText(Language::German, id) != nullptr) german.insert(id);
  }
  std::set<MessageId> expected = SHOWN_IDS;
  expected.insert(COMMAND_LINE_IDS.begin(), COMMAND_LINE_IDS.end());
  expected.insert(PAGE_IDS.begin(), PAGE_IDS.end());
  EXPECT_EQ(english, expected);
  EXPECT_EQ(german, expected);
}

TEST(Catalogue, LanguagesDifferWhereTheTextsAreTranslated) {
  for (MessageId id : SHOWN_IDS) {
    SCOPED_TRACE(id);
    EXPECT_NE(textOf(Language::English, id), textOf(Language::German, id));
  }
}

TEST(Catalogue, EveryTextFitsTheMessageBufferWithItsTerminator) {
  std::size_t longest = 0;
  for (MessageId id : SHOWN_IDS) {
    for (Language language : {Language::English, Language::German}) {
      longest = std::max(longest, textOf(language, id).size());
    }
  }
  EXPECT_LT(longest, MESSAGE_BUFFER_UNITS);
  EXPECT_EQ(longest, textOf(Language::German, MSG_INSTRUCTIONS).size());
}

TEST(Catalogue, LineBreaksAreCarriageReturnLineFeedPairs) {
  for (MessageId id : SHOWN_IDS) {
    for (Language language : {Language::English, Language::German}) {
      const std::u16string text = textOf(language, id);
      SCOPED_TRACE(id);
      for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r') {
          EXPECT_EQ(i + 1 < text.size() ? text[i + 1] : u'\0', u'\n');
        }
        if (text[i] == u'\n') {
          EXPECT_TRUE(i > 0 && text[i - 1] == u'\r');
        }
      }
    }
  }
}

struct ExactText {
  MessageId id;
  Language language;
  const char16_t* text;
};

std::ostream& operator<<(std::ostream& out, const ExactText& entry) {
  return out << entry.id << (entry.language == Language::German ? " de" : " en");
}

class CatalogueExactText : public ::testing::TestWithParam<ExactText> {};

TEST_P(CatalogueExactText, MatchesUnitForUnit) {
  const ExactText& expected = GetParam();
  EXPECT_EQ(textOf(expected.language, expected.id), std::u16string(expected.text));
}

// Non-ASCII letters are written as escapes here so that each expected code unit is
// visible: \u00e4 ä, \u00f6 ö, \u00fc ü, \u00df ß, \u2122 the trade-mark sign.
const ExactText EXACT_TEXTS[] = {
    {MSG_INSTRUCTIONS, Language::German,
     u"1.)\r\nTrennen Sie den VELMOR Regler vom Empf\u00e4nger (Master- u. Slave-Port) und "
     u"verbinden Sie die Buchse des BEC-Kabels der ConfPOD/TUNEPUCK mit dem Master-Port des "
     u"Reglers. BEC-Kabel erforderlich. \r\nDer BRIXEL ben\u00f6tigt stattdessen ein "
     u"Programmier-Kabel!\r\n\r\n2.)\r\nVerbinden Sie den VELMOR Regler mit einem geeigneten "
     u"Akku. Sobald die Spannungsversorgung hergestellt ist blinken die LEDs des Reglers und "
     u"der ConfPOD. Bei der TUNEPUCK blinkt nichts.\r\n\r\n3.)\r\nVerbinden Sie anschlie\u00dfend "
     u"die ConfPOD/TUNEPUCK mit dem mitgelieferten USB-Kabel mit Ihrem Windows\u2122PC. Bei der "
     u"TUNEPUCK m\u00fcssen Sie nun einmal den Taster bet\u00e4tigen.\r\n\r\n4.)\r\nWenn "
     u"Programmiereinheit und Regler vom PC gefunden wurden und bereit zum Update sind, kann "
     u"das Firmware-Update \u00fcber den Button 'Update' gestartet werden."},
    {MSG_INSTRUCTIONS, Language::English,
     u"1.)\r\nDisconnect the VELMOR ESC from the receiver (Master and Slave Port) and connect "
     u"the Master Port with the female connector of the ConfPOD/TUNEPUCK. NOTE: a BEC or male "
     u"to male cable required. \r\nThe BRIXEL needs instead a program-cable.\r\n\r\n 2.)\r\n"
     u"Connect the VELMOR ESC to an appropriate battery. As soon as the connection is "
     u"established the LEDs of the VELMOR ESC and the ConfPOD starts flashing.\r\n\r\n 3.)\r\n"
     u" Now connect the ConfPOD/TUNEPUCK with the supplied USB cable to your PC. If you use a "
     u"TUNEPUCK, please push the button once.\r\n\r\n 4.)\r\n If the programming unit and the "
     u"ESC were found and ready to update, you can click on the 'Update'-Button to update the "
     u"firmware."},
    {MSG_READY, Language::English,
     u"A programming unit was found and is ready to update. To update to new ESC firmware, "
     u"please click on the 'Update'-Button.\r\n\r\n!!!  NOTE: Do not disconnect Programming "
     u"Unit from Computer until update is complete. If disconnected before complete "
     u"Programming Unit or ESC may no longer function  !!!"},
    {MSG_OLDER_FIRMWARE, Language::English,
     u"The firmware version is older or the same as the installed firmware version.  If you "
     u"continue you will be permanently deleting the current Firmware?"},
    {MSG_UPDATE_FAILED_CAPTION, Language::English, u"Update failed!"},
    {MSG_UPDATE_FAILED_CAPTION, Language::German, u"Update fehlgeschlagen!"},
    {MSG_APPLICATION_ERROR_CAPTION, Language::German, u"Fehler in der Anwendung"},
    {MSG_WRONG_MODE, Language::German,
     u"Es wurde eine Programmiereinheit am USB Port des PCs gefunden, die sich jedoch im "
     u"falschen Modus befindet. Gehen Sie folgenderma\u00dfen vor, um ein Update der Regler "
     u"Software durchzuf\u00fchren:"},
    {MSG_UPDATE_FAILED_NOTICE, Language::German,
     u"Der Updatevorgang wurd auf Grund eines Fehlers abgebrochen. Bitte versuchen Sie es "
     u"erneut. Falls der Fehler weiterhin aufgetreten sollte, kontaktieren Sie bitte den "
     u"VELMOR Service"},
    {MSG_INCOMPATIBLE, Language::English,
     u"With this updater you can only update the firmware of VELMOR ESCs with the type '%s'. "
     u"Other models are not supported. Please check VELMOR website (www.example.com) to see "
     u"if there is an updater for your ESC."},
    {MSG_INCOMPATIBLE, Language::German,
     u"Mit diesem Updater l\u00e4\u00dft sich ausschlie\u00dflich die Firmware von VELMOR "
     u"Reglern des Typs '%s' aktualisieren. Andere Modelle werden nicht unterst\u00fctzt. "
     u"Schauen Sie gegebenenfalls auf der VELMOR Website unter https://www.example.com nach, "
     u"ob ein Firmware-Update f\u00fcr Ihren Regler bereit liegt"},
    {MSG_ERROR_CODE_LINE, Language::English,
     u"The system shows following errorcode: 0x%08x-0x%08x"},
    {MSG_ERROR_CODE_LINE, Language::German, u"Das System meldet Fehlercode 0x%08x-0x%08x"},
    {MSG_LABEL_UNIT, Language::English, u"programming unit"},
    {MSG_LABEL_UNIT, Language::German, u"Programmiereinheit"},
    {MSG_LABEL_BOOTLOADER, Language::English, u"ESC-bootloader"},
    {MSG_LABEL_BOOTLOADER, Language::German, u"Regler-Bootloader"},
    {MSG_LABEL_ESC, Language::English, u"ESC"},
    {MSG_LABEL_ESC, Language::German, u"Regler"},
    {MSG_IMAGE_MISSING, Language::English,
     u"The firmware image for this ESC is missing from the updater. Nothing was written to "
     u"the ESC."},
    {MSG_IMAGE_MISSING, Language::German,
     u"Das Firmware-Image f\u00fcr diesen Regler fehlt im Updater. Es wurde nichts auf den "
     u"Regler geschrieben."},
    {MSG_SHUTDOWN_BLOCKED, Language::English,
     u"An ESC firmware update is in progress. Please do not turn off the PC until it has "
     u"finished."},
    {MSG_SHUTDOWN_BLOCKED, Language::German,
     u"Ein Firmware-Update des Reglers l\u00e4uft. Bitte schalten Sie den PC nicht aus, bevor "
     u"es abgeschlossen ist."},
};

INSTANTIATE_TEST_SUITE_P(Texts, CatalogueExactText, ::testing::ValuesIn(EXACT_TEXTS));

TEST(Catalogue, GermanInstructionsAreTheLongestTextWith777Units) {
  // Counted from the text: 755 visible characters and 11 CR LF pairs.
  EXPECT_EQ(textOf(Language::German, MSG_INSTRUCTIONS).size(), 777u);
}

TEST(Catalogue, NonAsciiLettersAreSingleUtf16Units) {
  const std::u16string text = textOf(Language::German, MSG_INSTRUCTIONS);
  const struct {
    const char16_t* before;
    char16_t unit;
  } letters[] = {{u"Empf", 0x00E4},
                 {u"ben", 0x00F6},
                 {u"anschlie", 0x00DF},
                 {u"Windows", 0x2122},
                 {u"m", 0x00FC}};
  for (const auto& letter : letters) {
    const std::size_t at = text.find(std::u16string(letter.before) + letter.unit);
    EXPECT_NE(at, std::u16string::npos) << static_cast<unsigned>(letter.unit);
  }
  // A UTF-8 byte that leaked into the table as a unit of its own (mojibake such as
  // U+00C3) would show up as a Latin-1 letter outside the German ones.
  const std::u16string germanLetters = u"\u00e4\u00f6\u00fc\u00df\u00c4\u00d6\u00dc";
  for (MessageId id : SHOWN_IDS) {
    for (Language language : {Language::English, Language::German}) {
      for (char16_t unit : textOf(language, id)) {
        if (unit < 0x80 || unit > 0xFF) continue;
        EXPECT_NE(germanLetters.find(unit), std::u16string::npos)
            << id << " holds U+" << std::hex << static_cast<unsigned>(unit);
      }
    }
  }
}

TEST(Catalogue, EnglishTextsArePlainAscii) {
  for (MessageId id : SHOWN_IDS) {
    for (char16_t unit : textOf(Language::English, id)) {
      EXPECT_LT(unit, 0x80) << id;
    }
  }
}

TEST(Catalogue, OnlyTheIncompatibilityTextAndTheCodeLineHoldConversions) {
  EXPECT_NE(textOf(Language::English, MSG_INCOMPATIBLE).find(u"'%s'"), std::u16string::npos);
  EXPECT_NE(textOf(Language::German, MSG_INCOMPATIBLE).find(u"'%s'"), std::u16string::npos);
  for (MessageId id : SHOWN_IDS) {
    for (Language language : {Language::English, Language::German}) {
      const std::u16string text = textOf(language, id);
      const bool formatted = id == MSG_INCOMPATIBLE || id == MSG_ERROR_CODE_LINE;
      EXPECT_EQ(text.find(u'%') != std::u16string::npos, formatted) << id;
    }
  }
}

TEST_F(CatalogueLanguage, LoadMessageFollowsTheSelectedLanguage) {
  char16_t buffer[MESSAGE_BUFFER_UNITS];
  loadMessage(MSG_LABEL_ESC, buffer);
  EXPECT_EQ(std::u16string(buffer), u"ESC");
  setMessageLanguage(Language::German);
  loadMessage(MSG_LABEL_ESC, buffer);
  EXPECT_EQ(std::u16string(buffer), u"Regler");
  setMessageLanguage(Language::English);
  loadMessage(MSG_LABEL_ESC, buffer);
  EXPECT_EQ(std::u16string(buffer), u"ESC");
}

TEST_F(CatalogueLanguage, LoadMessageOfTheLongestTextStaysInsideTheBuffer) {
  setMessageLanguage(Language::German);
  // One guard region on each side of a buffer of exactly MESSAGE_BUFFER_UNITS.
  std::vector<char16_t> memory(MESSAGE_BUFFER_UNITS + 64, u'\xA5A5');
  char16_t* buffer = memory.data() + 32;
  loadMessage(MSG_INSTRUCTIONS, buffer);
  const std::u16string expected = textOf(Language::German, MSG_INSTRUCTIONS);
  EXPECT_EQ(std::u16string(buffer), expected);
  for (std::size_t i = 0; i < 32; ++i) EXPECT_EQ(memory[i], u'\xA5A5');
  for (std::size_t i = expected.size() + 1; i < MESSAGE_BUFFER_UNITS + 32; ++i) {
    ASSERT_EQ(buffer[i], u'\xA5A5') << i;
  }
}

TEST_F(CatalogueLanguage, LoadMessageOfAnIdWithoutTextGivesAnEmptyText) {
  for (Language language : {Language::English, Language::German}) {
    setMessageLanguage(language);
    for (MessageId id : IDS_WITHOUT_TEXT) {
      char16_t buffer[MESSAGE_BUFFER_UNITS];
      buffer[0] = u'x';
      loadMessage(id, buffer);
      EXPECT_EQ(buffer[0], u'\0') << id;
    }
  }
}

}  // namespace
}  // namespace esc
