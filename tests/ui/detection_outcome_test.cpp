// The decision every front end takes for a unit that was found and identified.
#include "ui/detection_outcome.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "device/report_layout.h"
#include "resources/message_ids.h"

namespace esc {
namespace {

struct OutcomeCase {
  const char* name;
  std::uint8_t wrongMode;
  std::uint16_t escStatus;
  std::uint32_t modelCode;
  DetectionOutcome outcome;
  MessageId heading;
  bool linkStaysOpen;
};

// The checks come in a fixed order: a unit in the wrong mode is reported as such whatever
// its ESC reports, and an ESC that is not ready whatever its model code.
const OutcomeCase CASES[] = {
    {"wrong mode beats everything", 1, 3, 0x110FA0D2, DetectionOutcome::WrongMode, 40015, false},
    {"ESC not ready beats the model code", 0, 2, 0x110FA0D2, DetectionOutcome::NoUpdatableEsc,
     40016, false},
    {"supported", 0, 3, 0x110FA0D2, DetectionOutcome::Supported, 40017, true},
    {"accepted without target", 0, 3, 0x0A0640AA, DetectionOutcome::AcceptedWithoutTarget, 40017,
     true},
    {"incompatible", 0, 3, 0x12345678, DetectionOutcome::Incompatible, 40035, false},
};

TEST(DetectionOutcome, FollowsModeThenEscStatusThenModelCode) {
  for (const OutcomeCase& c : CASES) {
    SCOPED_TRACE(c.name);
    HidLink link;
    link.unitWrongMode = c.wrongMode;
    link.escStatus = c.escStatus;
    for (int i = 0; i < 4; ++i) {
      link.escIdent[i] = static_cast<std::uint8_t>(c.modelCode >> (8 * i));
    }
    UpdateTarget target{};

    const DetectionOutcome outcome = classifyOpenUnit(link, target);

    EXPECT_EQ(outcome, c.outcome);
    EXPECT_EQ(headingOf(outcome), c.heading);
    EXPECT_EQ(keepsLinkOpen(outcome), c.linkStaysOpen);
    EXPECT_EQ(target.targetVersion != 0, c.outcome == DetectionOutcome::Supported);
  }
}

TEST(DetectionOutcome, TheIncompatibleBoxNamesTheSupportedTypeInEitherLanguage) {
  const struct {
    Language language;
    const char16_t* caption;
    const char16_t* start;
  } cases[] = {
      {Language::English, catalogueText(Language::English, MSG_INCOMPATIBLE_CAPTION),
       u"With this updater you can only update the firmware of VELMOR ESCs with the type "
       u"'TESSARO HVI'. Other models"},
      {Language::German, catalogueText(Language::German, MSG_INCOMPATIBLE_CAPTION),
       u"Mit diesem Updater läßt sich ausschließlich die Firmware von VELMOR Reglern des Typs "
       u"'TESSARO HVI' aktualisieren."},
  };
  for (const auto& c : cases) {
    setMessageLanguage(c.language);
    IncompatibleBoxTexts texts;
    loadIncompatibleBoxTexts(texts);
    EXPECT_EQ(std::u16string(texts.caption), c.caption);
    EXPECT_EQ(std::u16string(texts.text).rfind(c.start, 0), 0u);
  }
  setMessageLanguage(Language::English);
}

}  // namespace
}  // namespace esc
