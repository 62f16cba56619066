// The version resource of the product as windres compiles it: the fixed file and product
// version, one string block each in English and German with the texts Explorer shows,
// and the translation list that points to them. The version comes from the constants
// that the window title uses, so the test takes it from there too.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/graphics/binary_file.h"
#include "tests/graphics/resource_file.h"
#include "ui/texts.h"

namespace esc {
namespace test {
namespace {

constexpr std::uint16_t kTypeVersion = 16;
constexpr std::uint16_t kUsEnglish = 1033;

std::u16string numberText(unsigned value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

std::u16string versionText() {
  return numberText(UPDATER_VERSION_MAJOR) + u"." + numberText(UPDATER_VERSION_MINOR);
}

constexpr char16_t kProductName[] = u"VELMOR TESSARO HVI FW Updater";

const VersionNode* child(const VersionNode& node, const std::u16string& key) {
  for (const VersionNode& c : node.children) {
    if (c.key == key) return &c;
  }
  return nullptr;
}

class VersionResource : public ::testing::Test {
 protected:
  void SetUp() override {
    entries = parseResourceFile(readFile(std::string(ESC_COMPILED_RES_DIR) + "/version.res"));
    ASSERT_EQ(entries.size(), 1u) << "the script holds the version resource alone";
    ASSERT_TRUE(isNumber(entries[0].type, kTypeVersion));
    root = parseVersionNode(entries[0].data, 0);
  }
  std::vector<ResourceEntry> entries;
  VersionNode root;
};

TEST_F(VersionResource, IsResourceOneInUsEnglish) {
  EXPECT_TRUE(isNumber(entries[0].name, 1));
  EXPECT_EQ(entries[0].language, kUsEnglish);
  EXPECT_EQ(root.key, u"VS_VERSION_INFO");
}

TEST_F(VersionResource, FixedPartGivesTheUpdaterVersionAsFileAndProductVersion) {
  ASSERT_FALSE(root.isText);
  const ByteVector& fixed = root.value;
  ASSERT_EQ(fixed.size(), 52u);
  EXPECT_EQ(u32(fixed, 0), 0xFEEF04BDu) << "signature";
  EXPECT_EQ(u32(fixed, 4), 0x00010000u) << "structure version";
  const std::uint32_t majorMinor = (UPDATER_VERSION_MAJOR << 16) | UPDATER_VERSION_MINOR;
  EXPECT_EQ(u32(fixed, 8), majorMinor) << "file version, major and minor";
  const std::uint32_t patch = ESC_UPDATER_VERSION_PATCH << 16;
  EXPECT_EQ(u32(fixed, 12), patch) << "file version, patch and revision";
  EXPECT_EQ(u32(fixed, 16), majorMinor) << "product version, major and minor";
  EXPECT_EQ(u32(fixed, 20), patch) << "product version, patch and revision";
  EXPECT_EQ(u32(fixed, 28), 0u) << "flags: no debug, pre-release or patched build";
  EXPECT_EQ(u32(fixed, 32), 0x00040004u) << "VOS_NT_WINDOWS32";
  EXPECT_EQ(u32(fixed, 36), 1u) << "VFT_APP";
  EXPECT_EQ(u32(fixed, 40), 0u) << "no subtype";
  EXPECT_EQ(u32(fixed, 44), 0u) << "no file date: it would differ between builds";
  EXPECT_EQ(u32(fixed, 48), 0u);
}

TEST_F(VersionResource, TranslationListNamesEnglishAndGermanInUtf16) {
  const VersionNode* var = child(root, u"VarFileInfo");
  ASSERT_NE(var, nullptr);
  const VersionNode* translation = child(*var, u"Translation");
  ASSERT_NE(translation, nullptr);
  ASSERT_FALSE(translation->isText);
  ASSERT_EQ(translation->value.size(), 8u);
  EXPECT_EQ(u16(translation->value, 0), 0x0409u);
  EXPECT_EQ(u16(translation->value, 2), 1200u);
  EXPECT_EQ(u16(translation->value, 4), 0x0407u);
  EXPECT_EQ(u16(translation->value, 6), 1200u);
}

struct LanguageBlock {
  const char16_t* key;
  const char16_t* description;
};

void PrintTo(const LanguageBlock& block, std::ostream* out) {
  *out << std::string(block.key, block.key + 8);
}

class VersionStrings : public VersionResource,
                       public ::testing::WithParamInterface<LanguageBlock> {};

TEST_P(VersionStrings, BlockHoldsExactlyTheProductTexts) {
  const VersionNode* strings = child(root, u"StringFileInfo");
  ASSERT_NE(strings, nullptr);
  ASSERT_EQ(strings->children.size(), 2u) << "English and German";
  const VersionNode* block = child(*strings, GetParam().key);
  ASSERT_NE(block, nullptr);
  std::map<std::u16string, std::u16string> values;
  for (const VersionNode& value : block->children) {
    EXPECT_TRUE(value.isText) << "the value of a string is text";
    values[value.key] = value.text;
  }
  const std::map<std::u16string, std::u16string> expected = {
      {u"CompanyName", u"VELMOR"},
      {u"FileDescription", GetParam().description},
      {u"FileVersion", versionText()},
      {u"InternalName", u"EscUpdater"},
      {u"OriginalFilename", u"EscUpdater.exe"},
      {u"ProductName", kProductName},
      {u"ProductVersion", versionText()}};
  EXPECT_EQ(values, expected);
}

// The German description holds u-umlaut as the one unit U+00FC; windres reading a UTF-8
// script the wrong way would give U+FFC3 U+FFBC or two Latin-1 letters instead.
INSTANTIATE_TEST_SUITE_P(
    BothLanguages, VersionStrings,
    ::testing::Values(
        LanguageBlock{u"040904B0", u"Firmware updater for VELMOR TESSARO HVI speed controllers"},
        LanguageBlock{u"040704B0", u"Firmware-Updater f\u00fcr VELMOR TESSARO HVI Regler"}));

TEST_F(VersionResource, ProductNameAndVersionReadAsTheWindowTitleBegins) {
  char16_t title[TITLE_UNITS];
  formatTitle(title);
  EXPECT_EQ(
      std::u16string(title).rfind(std::u16string(kProductName) + u" " + versionText() + u" ", 0),
      0u)
      << "title: " << std::string(title, title + std::char_traits<char16_t>::length(title));
}

}  // namespace
}  // namespace test
}  // namespace esc
