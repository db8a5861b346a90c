// portable
#include "package/string_table.h"

#include <gtest/gtest.h>

#include <string>

using namespace lang;

namespace {

std::shared_ptr<qz::inifilex> parse(const std::string& bytes) {
  return parse_string_table(qz::ByteView(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

}  // namespace

TEST(StringTable, TextsOfWhatCouldBeRead) {
  struct Row {
    const char* name;
    std::string bytes;
    bool usable;
    std::wstring text;  // 1813 of [0x0407]
  } rows[] = {
      {"plain", "[0x0407]\r\n1813=&Weiter\r\n", true, L"&Weiter"},
      {"utf-8 mark", "\xEF\xBB\xBF[0x0407]\r\n1813=Gr\xC3\xBC\xC3\x9F" "e\r\n", true, L"Gr\u00fc\u00dfe"},
      {"section name in upper case", "[0x0407]\r\n[0X0407]\r\n1813=x\r\n", true, L"x"},
      // The sections before a damaged line stay; a damaged first line leaves nothing.
      {"damaged later", "[0x0407]\r\n1813=ok\r\n[Properties\r\nFontName=Arial\r\n", true, L"ok"},
      {"entry before any section", "1813=x\r\n[0x0407]\r\n1813=y\r\n", false, L""},
      {"empty", "", true, L""},
      {"repeated key keeps the first", "[0x0407]\r\n1813=a\r\n1813=b\r\n", true, L"a"},
      {"huge value is cut", "[0x0407]\r\n1813=" + std::string(20000, 'v'), true, std::wstring(kMaxTextLength, L'v')},
  };
  for (const Row& r : rows) {
    auto doc = parse(r.bytes);
    EXPECT_EQ(doc != nullptr, r.usable) << r.name;
    if (doc) EXPECT_EQ(string_table_lookup(*doc, L"0x0407", L"1813"), r.text) << r.name;
  }
}

TEST(StringTable, FontWithDefaults) {
  struct Row {
    std::string properties;
    std::wstring face;
    int size;
  } rows[] = {
      {"FontName=Arial\r\nFontSize=11\r\n", L"Arial", 11},
      {"", L"Tahoma", 8},
      {"FontName=\r\nFontSize=0\r\n", L"Tahoma", 8},
      {"FontName=" + std::string(300, 'F') + "\r\nFontSize=73\r\n", std::wstring(kMaxFaceLength, L'F'), 8},
  };
  for (const Row& r : rows) {
    auto doc = parse("[Properties]\r\n" + r.properties);
    ASSERT_TRUE(doc);
    DialogFontSpec f = string_table_font(*doc);
    EXPECT_EQ(f.face, r.face) << r.properties;
    EXPECT_EQ(f.size, r.size) << r.properties;
  }
}
