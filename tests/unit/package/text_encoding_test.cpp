// portable
#include "package/text_encoding.h"

#include <gtest/gtest.h>

#include "ini_test_util.h"

using namespace qz;
using initest::B;
using initest::U16;

TEST(TextEncoding, DetectsMarksOnlyWhenTheFileIsLongEnough) {
  struct Case {
    std::string bytes;
    int32_t cp;
    size_t bom;
  } cases[] = {
      {"\xFF\xFE", 1200, 2},         {"\xFE\xFF", 1201, 2},       {"\xEF\xBB\xBF", 65001, 3},
      {"\xEF\xBB", 0, 0},            {"\xFF", 0, 0},              {"", 0, 0},
      {"\xFF\xFEx", 1200, 2},        {"\xEF\xBB\xBFx", 65001, 3}, {"\xFE\xFE", 0, 0},
      {"[a]\r\n", 0, 0},
  };
  for (const Case& c : cases) {
    DetectedEncoding d = detect_encoding(B(c.bytes));
    EXPECT_EQ(d.code_page, c.cp) << initest::Hex(B(c.bytes));
    EXPECT_EQ(d.bom_size, c.bom) << initest::Hex(B(c.bytes));
  }
}

TEST(TextEncoding, Utf16DecodesPairsAndKeepsUnpairedSurrogatesForTheWayBack) {
  // A pair, a lone high surrogate before "a", a lone low surrogate at the end.
  std::u16string src = u"x\xD83D\xDE00y\xD800" u"a\xDC00";
  for (bool be : {false, true}) {
    Bytes bytes = U16(src, be);
    std::wstring text = decode_utf16(bytes, be);
    std::wstring expected = L"x\U0001F600y";
    expected.push_back(static_cast<wchar_t>(0xD800));
    expected.push_back(L'a');
    expected.push_back(static_cast<wchar_t>(0xDC00));
    EXPECT_EQ(text, expected);
    Bytes back;
    append_utf16(text, be, back);
    EXPECT_EQ(back, bytes) << "big endian " << be;
  }
}

TEST(TextEncoding, Utf16OddLengthAndZeroUnits) {
  EXPECT_EQ(decode_utf16(B("a\0b", 3), false), L"ab");  // last byte completed by a zero
  EXPECT_EQ(decode_utf16(B("\0a\x41", 3), true), L"a\u4100");
  EXPECT_EQ(decode_utf16(B("a\0\0\0b\0", 6), false), L"a");  // ends at the first zero unit
  EXPECT_EQ(decode_utf16(B("\x3D\xD8", 2), false), std::wstring(1, static_cast<wchar_t>(0xD83D)));
  EXPECT_EQ(decode_utf16(B(""), false), L"");
}

TEST(TextEncoding, Utf8DecodingReplacesEachMaximalBadPart) {
  struct Case {
    std::string in;
    std::wstring out;
  } cases[] = {
      {"abc", L"abc"},
      {"\xC3\xA9", L"\u00E9"},
      {"\xE2\x82\xAC", L"\u20AC"},
      {"\xF0\x9F\x98\x80", L"\U0001F600"},
      {"\xC0\xAF", L"\uFFFD\uFFFD"},          // overlong
      {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
      {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"\xE2\x82", L"\uFFFD"},                // truncated at the end
      {"\xE2\x82x", L"\uFFFDx"},
      {"\xFFz", L"\uFFFDz"},
      {std::string("a\0b", 3), L"a"},
      {std::string("\xE2\0b", 3), L"\uFFFD"},
  };
  for (const Case& c : cases) EXPECT_EQ(decode_utf8(B(c.in)), c.out) << initest::Hex(B(c.in));
}

TEST(TextEncoding, Utf8EncodingWritesFourByteFormsAndReplacesLoneSurrogates) {
  Bytes out;
  std::wstring text = L"\u00E9\U0001F600";
  text.push_back(static_cast<wchar_t>(0xD800));
  text.push_back(L'!');
  append_utf8(text, out);
  EXPECT_EQ(out, B("\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD!"));
}

TEST(TextEncoding, EncodeWritesTheMarkOnlyForUnicodePages) {
  struct Case {
    int32_t cp;
    bool bom;
    Bytes expected;
  } cases[] = {
      {1200, true, U16(u"\u00E9", false, true)}, {1200, false, U16(u"\u00E9")},
      {1201, true, U16(u"\u00E9", true, true)},  {65001, true, B("\xEF\xBB\xBF\xC3\xA9")},
      {65001, false, B("\xC3\xA9")},             {0, true, B("\xE9")},
      {1252, true, B("\xE9")},
  };
  for (const Case& c : cases) {
    Bytes out;
    EXPECT_EQ(encode_text(L"\u00E9", c.cp, c.bom, latin1_encode, out), 0u);
    EXPECT_EQ(out, c.expected) << c.cp << " " << c.bom;
  }
}

TEST(TextEncoding, AnsiTextStopsAtTheFirstZeroByteBeforeConversion) {
  static size_t seen;
  seen = 0;
  auto spy = [](ByteView b, uint32_t cp) {
    seen = b.size();
    return latin1_decode(b, cp);
  };
  EXPECT_EQ(decode_text(B("ab\0cd", 5), 0, spy), L"ab");
  EXPECT_EQ(seen, 2u);
  EXPECT_EQ(decode_text(B("\xE9", 1), 1252, nullptr), L"\u00E9");
}
