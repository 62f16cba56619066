// The resource scripts as the resource compiler turns them into bytes: the main dialog's
// exact styles, order, positions and texts in both languages (the compiler adds default
// styles on its own in places, so only the compiled template tells), the progress
// template, the icon group, the logo, the manifest and their language entries. The
// version resource has tests of its own (version_resource_test.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <ostream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/graphics/binary_file.h"
#include "tests/graphics/resource_file.h"

namespace esc {
namespace test {
namespace {

constexpr std::uint16_t kEnglish = 9;
constexpr std::uint16_t kGerman = 1031;
constexpr std::uint16_t kUsEnglish = 1033;

constexpr std::uint16_t kTypeIcon = 3;
constexpr std::uint16_t kTypeBitmap = 2;
constexpr std::uint16_t kTypeDialog = 5;
constexpr std::uint16_t kTypeGroupIcon = 14;
constexpr std::uint16_t kTypeManifest = 24;
constexpr std::uint16_t kTypeVersion = 16;

constexpr std::uint16_t kButton = 0x80;
constexpr std::uint16_t kEdit = 0x81;
constexpr std::uint16_t kStatic = 0x82;

std::vector<ResourceEntry> compiled(const std::string& script) {
  return parseResourceFile(readFile(std::string(ESC_COMPILED_RES_DIR) + "/" + script + ".res"));
}

std::vector<ResourceEntry> allCompiled() {
  std::vector<ResourceEntry> all;
  for (const char* script : {"graphics", "dialogs_en", "dialogs_de", "version"}) {
    std::vector<ResourceEntry> part = compiled(script);
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

const ResourceEntry* find(const std::vector<ResourceEntry>& entries, std::uint16_t type,
                          std::uint16_t name, std::uint16_t language) {
  for (const ResourceEntry& e : entries) {
    if (isNumber(e.type, type) && isNumber(e.name, name) && e.language == language) return &e;
  }
  return nullptr;
}

TEST(CompiledResources, HoldExactlyTheExpectedResourcesAndLanguageEntries) {
  std::set<std::tuple<int, int, int>> found;
  for (const ResourceEntry& e : allCompiled()) {
    ASSERT_TRUE(e.type.isNumber && e.name.isNumber) << "a resource with a string type or name";
    EXPECT_TRUE(found.insert({e.type.number, e.name.number, e.language}).second)
        << "twice: type " << e.type.number << ", name " << e.name.number;
  }
  const std::set<std::tuple<int, int, int>> expected = {
      {kTypeDialog, IDD_MAIN, kEnglish},
      {kTypeDialog, IDD_MAIN, kGerman},
      {kTypeDialog, IDD_PROGRESS, kEnglish},
      {kTypeDialog, IDD_PROGRESS, kGerman},
      {kTypeIcon, 1, kGerman},
      {kTypeIcon, 2, kGerman},
      {kTypeIcon, 3, kGerman},
      {kTypeIcon, 4, kGerman},
      {kTypeIcon, 5, kGerman},
      {kTypeGroupIcon, IDI_APPLICATION_ICON, kGerman},
      {kTypeBitmap, IDB_LOGO, kGerman},
      {kTypeManifest, 1, kUsEnglish},
      {kTypeVersion, 1, kUsEnglish}};
  EXPECT_EQ(found, expected);
}

// Main dialog ----------------------------------------------------------------------------

struct ControlRow {
  std::int32_t id;
  std::uint16_t windowClass;
  std::uint32_t style;
  std::uint32_t exStyle;
  std::int16_t x, y, cx, cy;
  const char16_t* english;
  const char16_t* german;
};

constexpr ControlRow kMainControls[] = {
    {2, kButton, 0x50030001, 0, 157, 199, 50, 14, u"Close", u"Beenden"},
    {1002, kButton, 0x58010000, 0, 61, 199, 50, 14, u"Update", u"Update"},
    {40010, kStatic, 0x50020000, 0, 22, 24, 60, 8, u"Firmware 1:", u"Firmware 1:"},
    {1005, kStatic, 0x50020000, 0, 22, 37, 60, 8, u"Firmware 2:", u"Firmware 2:"},
    {40013, kStatic, 0x50020000, 0x1000, 90, 24, 50, 8, u"0.00.00", u"0.00.00"},
    {40014, kStatic, 0x50020000, 0x1000, 90, 37, 50, 8, u"0.00.00", u"0.00.00"},
    {40004, kEdit, 0x50A00844, 0, 15, 89, 271, 101, u"", u""},
    {-1, kStatic, 0x50020000, 0, 15, 79, 49, 8, u"Hint:", u"Hinweisfenster:"},
    {40007, kButton, 0x50020007, 0, 15, 10, 135, 57, u"Installed firmware version",
     u"Installierte Firmware Versionen"},
    {40011, kStatic, 0x50020000, 0, 22, 50, 60, 8, u"Firmware 3:", u"Firmware 3:"},
    {40015, kStatic, 0x50020000, 0x1000, 90, 50, 50, 8, u"0.00.00", u"0.00.00"},
};

struct LanguageCase {
  std::uint16_t language;
  const char16_t* mainCaption;
  bool german;
};

void PrintTo(const LanguageCase& c, std::ostream* out) { *out << "language " << c.language; }

class MainDialog : public ::testing::TestWithParam<LanguageCase> {
 protected:
  void SetUp() override {
    entries = allCompiled();
    const ResourceEntry* entry = find(entries, kTypeDialog, IDD_MAIN, GetParam().language);
    ASSERT_NE(entry, nullptr);
    dialog = parseDialogTemplate(entry->data);
  }
  std::vector<ResourceEntry> entries;
  DialogTemplate dialog;
};

TEST_P(MainDialog, IsAnExtendedTemplateWithTheFixedStyleSizeAndShellFont) {
  EXPECT_EQ(dialog.version, 1u);
  EXPECT_EQ(dialog.signature, 0xFFFFu);
  EXPECT_EQ(dialog.helpId, 0u);
  EXPECT_EQ(dialog.style, 0x80C808C8u);
  EXPECT_EQ(dialog.exStyle, 0u);
  EXPECT_EQ(
      std::make_tuple(dialog.x, dialog.y, dialog.cx, dialog.cy),
      std::make_tuple(std::int16_t{0}, std::int16_t{0}, std::int16_t{300}, std::int16_t{228}));
  EXPECT_TRUE(!dialog.menu.isNumber && dialog.menu.text.empty()) << "no menu";
  EXPECT_TRUE(!dialog.windowClass.isNumber && dialog.windowClass.text.empty())
      << "the standard dialog class";
  EXPECT_EQ(dialog.title, GetParam().mainCaption);
  EXPECT_EQ(dialog.pointSize, 8u);
  EXPECT_EQ(dialog.typeface, u"MS Shell Dlg");
  EXPECT_EQ(dialog.weight, 0u);
  EXPECT_EQ(dialog.italic, 0u);
  EXPECT_EQ(dialog.charset, 1u);
}

TEST_P(MainDialog, ControlsCarryExactlyTheLayoutStylesAndTextsInTabOrder) {
  ASSERT_EQ(dialog.controls.size(), std::size(kMainControls));
  for (std::size_t i = 0; i < dialog.controls.size(); ++i) {
    const DialogControl& c = dialog.controls[i];
    const ControlRow& row = kMainControls[i];
    SCOPED_TRACE("control #" + std::to_string(i + 1) + ", id " + std::to_string(row.id));
    EXPECT_EQ(c.id, row.id);
    EXPECT_TRUE(isNumber(c.windowClass, row.windowClass)) << "predefined class by ordinal";
    EXPECT_EQ(c.style, row.style) << std::hex << "style 0x" << c.style;
    EXPECT_EQ(c.exStyle, row.exStyle) << std::hex << "extended style 0x" << c.exStyle;
    EXPECT_EQ(std::make_tuple(c.x, c.y, c.cx, c.cy), std::make_tuple(row.x, row.y, row.cx, row.cy));
    EXPECT_EQ(c.helpId, 0u);
    EXPECT_FALSE(c.text.isNumber);
    EXPECT_EQ(c.text.text, GetParam().german ? row.german : row.english);
    EXPECT_EQ(c.creationDataBytes, 0u);
  }
}

TEST_P(MainDialog, ProgressTemplateIsACaptionedWindowWithOneProgressBar) {
  const ResourceEntry* entry = find(entries, kTypeDialog, IDD_PROGRESS, GetParam().language);
  ASSERT_NE(entry, nullptr);
  DialogTemplate progress = parseDialogTemplate(entry->data);
  const std::uint32_t wsCaption = 0x00C00000;
  EXPECT_EQ(progress.style & wsCaption, wsCaption);
  EXPECT_FALSE(progress.title.empty());
  ASSERT_EQ(progress.controls.size(), 1u);
  const DialogControl& bar = progress.controls[0];
  EXPECT_EQ(bar.id, IDC_PROGRESS_BAR);
  std::u16string cls = bar.windowClass.text;
  std::transform(cls.begin(), cls.end(), cls.begin(),
                 [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; });
  EXPECT_EQ(cls, u"msctls_progress32") << "window class names compare case-blind";
  const std::uint32_t childVisible = 0x50000000;
  EXPECT_EQ(bar.style & childVisible, childVisible);
  EXPECT_GT(bar.cx, 0);
  EXPECT_LE(bar.x + bar.cx, progress.cx);
}

INSTANTIATE_TEST_SUITE_P(
    BothLanguages, MainDialog,
    ::testing::Values(LanguageCase{kEnglish, u"VELMOR firmware updater", false},
                      LanguageCase{kGerman, u"VELMOR Firmware Updater", true}));

// Icon, logo, manifest -------------------------------------------------------------------

TEST(CompiledResources, IconGroupNamesIconImagesOneToFiveBySize) {
  std::vector<ResourceEntry> entries = compiled("graphics");
  const ResourceEntry* group = find(entries, kTypeGroupIcon, IDI_APPLICATION_ICON, kGerman);
  ASSERT_NE(group, nullptr);
  const ByteVector& g = group->data;
  ASSERT_EQ(g.size(), 6u + 5u * 14u);
  EXPECT_EQ(u16(g, 2), 1u) << "icon, not cursor";
  ASSERT_EQ(u16(g, 4), 5u);
  const std::uint32_t sizes[] = {16, 32, 48, 64, 128};
  const std::uint32_t bytes[] = {1128, 4264, 9640, 16936, 67624};
  for (std::uint16_t i = 0; i < 5; ++i) {
    SCOPED_TRACE("member " + std::to_string(i + 1));
    const std::size_t at = 6u + i * 14u;
    EXPECT_EQ(g.at(at), sizes[i] % 256);
    EXPECT_EQ(g.at(at + 1), sizes[i] % 256);
    EXPECT_EQ(u16(g, at + 6), 32u);
    EXPECT_EQ(u32(g, at + 8), bytes[i]);
    EXPECT_EQ(u16(g, at + 12), i + 1) << "icon resource id";
    const ResourceEntry* image =
        find(entries, kTypeIcon, static_cast<std::uint16_t>(i + 1), kGerman);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->data.size(), bytes[i]);
  }
}

TEST(CompiledResources, LogoBitmapIsTheCommittedFileWithoutItsFileHeader) {
  std::vector<ResourceEntry> entries = compiled("graphics");
  const ResourceEntry* logo = find(entries, kTypeBitmap, IDB_LOGO, kGerman);
  ASSERT_NE(logo, nullptr);
  ByteVector file = readFile(std::string(ESC_GRAPHICS_DIR) + "/logo.bmp");
  ASSERT_GT(file.size(), 14u);
  EXPECT_TRUE(std::equal(file.begin() + 14, file.end(), logo->data.begin(), logo->data.end()));
}

TEST(CompiledResources, ManifestIsTheCommittedFileByteForByte) {
  std::vector<ResourceEntry> entries = compiled("graphics");
  const ResourceEntry* manifest = find(entries, kTypeManifest, 1, kUsEnglish);
  ASSERT_NE(manifest, nullptr);
  EXPECT_EQ(manifest->data.size(), 381u);
  EXPECT_EQ(manifest->data, readFile(std::string(ESC_GRAPHICS_DIR) + "/app.manifest"));
}

}  // namespace
}  // namespace test
}  // namespace esc
