// portable
#include "support/support_rules.h"

#include <gtest/gtest.h>

using namespace qz::rules;

TEST(FolderPrefixes, DrivesSharesAndRelativePaths) {
  struct Case {
    const wchar_t* path;
    std::vector<std::wstring> expected;
  };
  const Case cases[] = {
      {L"C:\\a\\b", {L"C:\\a", L"C:\\a\\b"}},
      {L"C:\\a\\b\\", {L"C:\\a", L"C:\\a\\b"}},
      {L"C:\\a\\\\b", {L"C:\\a", L"C:\\a\\\\b"}},
      {L"\\\\srv\\share\\x\\y", {L"\\\\srv\\share\\x", L"\\\\srv\\share\\x\\y"}},
      {L"\\\\srv\\share", {}},
      {L"\\\\?\\C:\\x", {L"\\\\?\\C:\\x"}},
      {L"\\\\?\\UNC\\srv\\share\\x", {L"\\\\?\\UNC\\srv\\share\\x"}},
      {L"\\top\\sub", {L"\\top", L"\\top\\sub"}},
      {L"rel\\sub", {L"rel", L"rel\\sub"}},  // a relative first component is created too
      {L"C:", {}},
      {L"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(folder_prefixes(c.path), c.expected) << c.path;
}

TEST(FolderRemovalRefusal, RootsInEverySpelling) {
  struct Case {
    const wchar_t* path;
    bool refused;
  };
  const Case cases[] = {
      {L"", true},          {L"C:\\", true},        {L"C:", true},           {L"c:/", true},
      {L"\\", true},        {L"\\\\x", true},       {L"C:\\\\\\", true},     {L"\\\\?\\C:\\", true},
      {L"\\\\.\\D:", true}, {L"C:\\a", false},      {L"ab", false},          {L"a", false},
      {L"\\\\srv\\share\\d", false},                {L"C:\\Temp\\{X}\\", false},
  };
  for (const Case& c : cases) EXPECT_EQ(refuses_folder_removal(c.path), c.refused) << c.path;
}

TEST(InternetAddress, SchemeWithoutCase) {
  EXPECT_TRUE(is_internet_address(L"http://h/x"));
  EXPECT_TRUE(is_internet_address(L"HTTPS://h/x"));
  EXPECT_TRUE(is_internet_address(L"Ftp://h/x"));
  EXPECT_FALSE(is_internet_address(L"ftp:/h/x"));
  EXPECT_FALSE(is_internet_address(L"C:\\http\\x"));
  EXPECT_FALSE(is_internet_address(L"http:"));
}

TEST(TempExtension, ReplacesOrDropsOnlyInTheName) {
  struct Case {
    const wchar_t* path;
    const wchar_t* extension;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"C:\\t\\_qz1A.tmp", L"", L"C:\\t\\_qz1A"},
      {L"C:\\t\\_qz1A.TMP", L"", L"C:\\t\\_qz1A"},
      {L"C:\\t\\_qz1A.tmp", L"dll", L"C:\\t\\_qz1A.dll"},
      {L"C:\\t\\_qz1A.tmp", L".dll", L"C:\\t\\_qz1A.dll"},
      {L"C:\\t\\{AB}", L"msi", L"C:\\t\\{AB}.msi"},
      {L"C:\\x.tmp\\_qz2.tmp", L"", L"C:\\x.tmp\\_qz2"},    // the folder keeps its ".tmp"
      {L"C:\\x.tmp\\{AB}", L"", L"C:\\x.tmp\\{AB}"},
      {L"C:\\x.d\\{AB}", L"e", L"C:\\x.d\\{AB}.e"},          // a dot in the folder is not the extension
  };
  for (const Case& c : cases) EXPECT_EQ(apply_temp_extension(c.path, c.extension), c.expected) << c.path;
}

namespace {
// A block of 16 counted strings; entry i gets texts[i].
std::vector<unsigned char> make_block(const std::vector<std::u16string>& texts) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i < 16; ++i) {
    std::u16string t = i < texts.size() ? texts[i] : u"";
    out.push_back(static_cast<unsigned char>(t.size() & 0xFF));
    out.push_back(static_cast<unsigned char>(t.size() >> 8));
    for (char16_t c : t) {
      out.push_back(static_cast<unsigned char>(c & 0xFF));
      out.push_back(static_cast<unsigned char>(c >> 8));
    }
  }
  return out;
}
}  // namespace

TEST(StringBlock, EntriesAndTruncatedBlocks) {
  std::vector<unsigned char> block = make_block({u"", u"one", u"", u"\u00e9t\u00e9"});
  std::u16string s;
  ASSERT_TRUE(string_block_entry(block.data(), block.size(), 1, &s));
  EXPECT_EQ(s, u"one");
  ASSERT_TRUE(string_block_entry(block.data(), block.size(), 3, &s));
  EXPECT_EQ(s, u"\u00e9t\u00e9");
  ASSERT_TRUE(string_block_entry(block.data(), block.size(), 15, &s));
  EXPECT_TRUE(s.empty());
  EXPECT_FALSE(string_block_entry(block.data(), block.size(), 16, &s));
  // Every truncation of the block either still holds entry 3 whole or is refused.
  for (size_t cut = 0; cut < block.size(); ++cut) {
    bool ok = string_block_entry(block.data(), cut, 3, &s);
    EXPECT_EQ(ok, cut >= 2 + 2 + 6 + 2 + 2 + 6) << cut;
  }
  // A length claiming more than the block holds.
  const unsigned char lying[] = {0xFF, 0xFF, 'a', 0};
  EXPECT_FALSE(string_block_entry(lying, sizeof(lying), 0, &s));
}

TEST(StringBlock, LanguageOrder) {
  EXPECT_EQ(string_block_languages(0x0809), (std::vector<uint16_t>{0x0809, 0x0409, 0x0400, 0}));
  EXPECT_EQ(string_block_languages(0x0409), (std::vector<uint16_t>{0x0409, 0x0400, 0}));
  EXPECT_EQ(string_block_languages(0x0C0A), (std::vector<uint16_t>{0x0C0A, 0x040A, 0x0400, 0}));
  EXPECT_EQ(string_block_languages(0), (std::vector<uint16_t>{0, 0x0400}));
}

TEST(UiLanguageFallback, HexTextsThen1033) {
  EXPECT_EQ(parse_hex_language(L"00000409"), 0x0409);
  EXPECT_EQ(parse_hex_language(L"407"), 0x0407);
  EXPECT_EQ(parse_hex_language(L"0000040c "), 0x040C);
  EXPECT_EQ(parse_hex_language(L"00010409"), 0);  // does not fit a language id
  EXPECT_EQ(parse_hex_language(L"000000409"), 0);  // nine digits
  EXPECT_EQ(parse_hex_language(L"04g9"), 0);
  EXPECT_EQ(parse_hex_language(L""), 0);
  EXPECT_EQ(fallback_ui_language(L"00000407", L"00000409"), 0x0407);
  EXPECT_EQ(fallback_ui_language(L"junk", L"00000411"), 0x0411);
  EXPECT_EQ(fallback_ui_language(L"", L""), 1033);
}

TEST(ProfileInt, DigitsSignAndSaturation) {
  EXPECT_EQ(parse_profile_int(L"42", 7), 42);
  EXPECT_EQ(parse_profile_int(L"  -13xyz", 7), -13);
  EXPECT_EQ(parse_profile_int(L"+5", 7), 5);
  EXPECT_EQ(parse_profile_int(L"", 7), 7);
  EXPECT_EQ(parse_profile_int(L"x1", 7), 7);
  EXPECT_EQ(parse_profile_int(L"-", 7), 7);
  EXPECT_EQ(parse_profile_int(L"99999999999999999999", 7), 2147483647);
  EXPECT_EQ(parse_profile_int(L"-99999999999999999999", 7), -2147483647 - 1);
}

TEST(Architecture, Predicates) {
  struct Case {
    unsigned processor, machine;
    bool x64, itanium, x86_64family, arm64, arm32, any64;
  };
  const Case cases[] = {
      {9, 0, true, false, true, false, false, true},         // AMD64
      {6, 0, false, true, true, false, false, true},         // IA64
      {0, 0, false, false, false, false, false, false},      // x86
      {12, 0, false, false, false, true, false, true},       // ARM64
      {0, 0xAA64, false, false, false, true, false, true},   // x86 process on ARM64
      {9, 0xAA64, true, false, true, true, false, true},     // x64 emulation on ARM64
      {5, 0, false, false, false, false, true, false},       // ARM
      {0, 0x01C4, false, false, false, false, true, false},  // Thumb-2 machine
      {0, 0x01C0, false, false, false, false, true, false},
  };
  for (const Case& c : cases) {
    Architecture a{c.processor, c.machine};
    SCOPED_TRACE(testing::Message() << c.processor << "/" << c.machine);
    EXPECT_EQ(arch_is_x64(a), c.x64);
    EXPECT_EQ(arch_is_itanium(a), c.itanium);
    EXPECT_EQ(arch_is_x86_family64(a), c.x86_64family);
    EXPECT_EQ(arch_is_arm64(a), c.arm64);
    EXPECT_EQ(arch_is_arm32(a), c.arm32);
    EXPECT_EQ(arch_is_64bit(a), c.any64);
  }
}
