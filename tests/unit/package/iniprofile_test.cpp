// portable
#include "package/IniProfile.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>

#include "ini_test_util.h"
#include "package/inifilex.h"
#include "package/qzfile.h"

using namespace qz;
using initest::B;
using initest::Hex;
using initest::U16;

namespace {

IniProfile Parse(const Bytes& bytes) {
  IniProfile p;
  p.load_bytes(bytes, latin1_decode);
  return p;
}
IniProfile Parse(const std::string& text) { return Parse(B(text)); }

}  // namespace

TEST(IniProfile, LinesAreTrimmedAndTheLastValueWins) {
  struct Case {
    const char* name;
    std::string text;
    std::wstring section, key;
    std::optional<std::wstring> value;
  } cases[] = {
      {"last value wins", "[S]\r\nk=1\r\nK=2\r\n", L"S", L"k", L"2"},
      {"key trimmed, blank after = kept", "[S]\r\n  Key \t= value  \r\n", L"S", L"Key", L" value"},
      {"tab-indented header", "\t[S]\t\r\nk=v", L"S", L"k", L"v"},
      {"header name not trimmed", "[ S ]\r\nk=v", L" S ", L"k", L"v"},
      {"text after ] ignored", "[S]x\r\nk=v", L"S", L"k", L"v"},
      {"repeated section reused", "[S]\r\na=1\r\n[T]\r\n[s]\r\nb=2\r\n", L"S", L"a", L"1"},
      {"repeated section adds", "[S]\r\na=1\r\n[T]\r\n[s]\r\nb=2\r\n", L"S", L"b", L"2"},
      {"comment", "[S]\r\n;k=1\r\n", L"S", L"k", std::nullopt},
      {"indented comment", "[S]\r\n   ;k=1\r\n", L"S", L"k", std::nullopt},
      {"; later in the line", "[S]\r\nk=1;2\r\n", L"S", L"k", L"1;2"},
      {"entry before any section", "k=1\r\n[S]\r\n", L"S", L"k", std::nullopt},
      {"line without =", "[S]\r\nflag\r\n", L"S", L"flag", std::nullopt},
      {"[ without ] is an entry", "[S]\r\n[k=1\r\n", L"S", L"[k", L"1"},
      {"CR is not trimmed", "[S]\r\nk=v\r\r\n", L"S", L"k", L"v\r"},
      {"LF-only file", "[S]\nk=v\nj=w", L"S", L"j", L"w"},
      {"mixed LF and CR LF", "[S]\nx=1\r\ny=2\n", L"S", L"x", L"1"},
      {"mixed LF and CR LF 2", "[S]\nx=1\r\ny=2\n", L"S", L"y", L"2"},
      {"lone CR is no line end", "[S]\rk=v", L"S", L"k", std::nullopt},
      {"no final line end", "[S]\r\nk=v", L"S", L"k", L"v"},
      {"only the first = splits", "[S]\r\nk = a=b", L"S", L"k", L" a=b"},
      {"NUL ends the text", std::string("[S]\r\nk=v\0\r\nj=w", 12), L"S", L"j", std::nullopt},
  };
  for (const Case& c : cases) {
    IniProfile p = Parse(c.text);
    EXPECT_EQ(p.find(c.section, c.key), c.value) << c.name;
  }
}

TEST(IniProfile, Utf16ByZeroBytesInTheFirstKilobyteUtf8ByItsMark) {
  IniProfile with_mark = Parse(U16(u"[S]\r\nk=\u20AC\r\n", false, true));
  EXPECT_EQ(with_mark.find(L"S", L"k"), L"\u20AC");
  IniProfile without_mark = Parse(U16(u"[S]\r\nk=v\r\n"));
  EXPECT_EQ(without_mark.find(L"S", L"k"), L"v");

  // The first zero byte after the probed kilobyte: ANSI, cut at that zero.
  std::string late = "[S]\r\n" + std::string(1100, ' ') + "\r\nk=v\r\n" + std::string(1, '\0') + "j=w\r\n";
  IniProfile ansi = Parse(late);
  EXPECT_EQ(ansi.find(L"S", L"k"), L"v");
  EXPECT_EQ(ansi.find(L"S", L"j"), std::nullopt);
  std::string edge = std::string(1023, ' ') + std::string(1, '\0');  // byte 1023 is still probed
  IniProfile p = Parse(edge + "[S]");
  EXPECT_TRUE(p.sections().empty());

  // After a UTF-8 mark the text is UTF-8, not ANSI that glues the mark to "[S]".
  IniProfile utf8 = Parse("\xEF\xBB\xBF[S]\r\nk=\xE2\x82\xAC\r\n");
  EXPECT_EQ(utf8.find(L"S", L"k"), L"\u20AC");
}

TEST(IniProfile, AnsiTextGoesThroughTheThreadCodePage) {
  static uint32_t seen = 99;
  auto spy = [](ByteView b, uint32_t cp) {
    seen = cp;
    return latin1_decode(b, cp);
  };
  IniProfile p;
  p.load_bytes(B("[S]\r\nk=\xE9"), spy);
  EXPECT_EQ(seen, 3u);  // CP_THREAD_ACP
  EXPECT_EQ(p.find(L"S", L"k"), L"\u00E9");
}

TEST(IniProfile, GetStringBufferRules) {
  IniProfile p = Parse("[S]\r\nbb=abcdef\r\na=1\r\n[E]\r\n");
  wchar_t buf[16];
  struct Case {
    const wchar_t* section;
    const wchar_t* key;
    size_t capacity;
    bool ok;
    std::wstring text;  // including the zeros of a key list
  } cases[] = {
      {L"S", L"bb", 16, true, std::wstring(L"abcdef") + L'\0'},
      {L"S", L"BB", 4, true, std::wstring(L"abc") + L'\0'},
      {L"S", L"bb", 1, true, std::wstring(1, L'\0')},
      {L"S", L"missing", 16, true, std::wstring(1, L'\0')},  // empty, not the default
      {L"X", L"bb", 16, false, std::wstring(L"dflt") + L'\0'},
      {L"X", L"bb", 3, false, std::wstring(L"df") + L'\0'},
      {L"s", nullptr, 16, true, std::wstring(L"a\0bb\0\0", 6)},
      {L"S", nullptr, 5, true, std::wstring(L"a\0b\0\0", 5)},
      {L"S", nullptr, 2, true, std::wstring(L"\0\0", 2)},
      {L"S", nullptr, 1, true, std::wstring(1, L'\0')},
      {L"E", nullptr, 16, true, std::wstring(L"\0\0", 2)},
      {nullptr, L"bb", 16, false, std::wstring(L"dflt") + L'\0'},
  };
  for (const Case& c : cases) {
    std::fill(std::begin(buf), std::end(buf), L'#');
    EXPECT_EQ(p.get_string(c.section, c.key, L"dflt", buf, c.capacity), c.ok);
    EXPECT_EQ(std::wstring(buf, c.text.size()), c.text) << (c.key ? "key" : "list") << " " << c.capacity;
    if (c.text.size() < 16) {
      EXPECT_EQ(buf[c.text.size()], L'#') << "wrote past the result";
    }
  }
  buf[0] = L'#';
  EXPECT_TRUE(p.get_string(L"S", L"bb", L"d", buf, 0));
  EXPECT_EQ(buf[0], L'#');
  EXPECT_FALSE(p.get_string(L"X", L"bb", L"d", nullptr, 5));
}

TEST(IniProfile, GetIntAndKeyList) {
  IniProfile p = Parse("[S]\r\na= -12x\r\nb=\r\nc=abc\r\nd=99999999999\r\ne=+7\r\n");
  wchar_t buf[32];
  EXPECT_EQ(p.get_int(L"S", L"a", 5, buf, 32), -12);
  EXPECT_EQ(p.get_int(L"S", L"b", 5, buf, 32), 5);
  EXPECT_EQ(p.get_int(L"S", L"c", 5, buf, 32), 0);
  EXPECT_EQ(p.get_int(L"S", L"d", 5, buf, 32), INT_MAX);
  EXPECT_EQ(p.get_int(L"S", L"e", 5, buf, 32), 7);
  EXPECT_EQ(p.get_int(L"S", L"missing", 5, buf, 32), 5);
  EXPECT_EQ(p.get_int(L"X", L"a", 5, buf, 32), 5);
  EXPECT_EQ(p.get_int(L"S", L"d", 5, buf, 3), 99);  // the value as far as the buffer holds it

  std::wstring list = L"x|";
  EXPECT_TRUE(p.get_key_list(L"s", list, L'|'));
  EXPECT_EQ(list, L"x|a|b|c|d|e|");
  EXPECT_FALSE(p.get_key_list(L"X", list, L'|'));
}

TEST(IniProfile, WriteStringRules) {
  IniProfile p;
  EXPECT_FALSE(p.write_string(nullptr, L"k", L"v"));
  EXPECT_TRUE(p.write_string(L"Files", L"a.txt", L"C:\\t\\a.txt"));
  EXPECT_TRUE(p.write_string(L"files", L"A.TXT", L"C:\\t\\b.txt"));  // same key replaced
  EXPECT_EQ(p.sections().size(), 1u);
  EXPECT_EQ(p.find(L"Files", L"a.txt"), L"C:\\t\\b.txt");
  EXPECT_TRUE(p.write_string(L"Files", L"b", L""));
  EXPECT_EQ(p.find(L"Files", L"b"), L"");
  EXPECT_TRUE(p.write_string(L"Files", L"b", nullptr));
  EXPECT_EQ(p.find(L"Files", L"b"), std::nullopt);
  EXPECT_TRUE(p.write_string(L"Nope", L"b", nullptr));  // no section made for a deletion
  EXPECT_TRUE(p.write_string(L"Nope", nullptr, nullptr));
  EXPECT_EQ(p.sections().size(), 1u);

  // Text that would read back as something else is refused and changes nothing.
  const std::pair<const wchar_t*, const wchar_t*> refused[] = {
      {L"a\r\n[Other]", L"v"}, {L"k=x", L"v"}, {L";k", L"v"}, {L"[k]", L"v"}, {L"k", L"v\r\n[Injected]"},
      {L"k", L"v\n"},
  };
  for (const auto& [key, value] : refused) EXPECT_FALSE(p.write_string(L"Files", key, value));
  EXPECT_FALSE(p.write_string(L"Fi]les", L"k", L"v"));
  EXPECT_FALSE(p.write_string(L"Fi\nles", L"k", L"v"));
  EXPECT_EQ(p.sections().begin()->second.size(), 1u);

  EXPECT_TRUE(p.write_string(L"FILES", nullptr, L"ignored"));
  EXPECT_TRUE(p.sections().empty());
}

TEST(IniProfile, SavesUtf16WithMarkInNameOrderByteForByte) {
  IniProfile p;
  p.write_string(L"Folders", L"t", L"C:\\T");
  p.write_string(L"Files", L"b", L"2");
  p.write_string(L"Files", L"A", L"\u20AC");
  p.write_string(L"empty", L"x", L"1");
  p.write_string(L"empty", L"x", nullptr);
  Bytes expected = U16(u"[empty]\r\n\r\n[Files]\r\nA=\u20AC\r\nb=2\r\n\r\n[Folders]\r\nt=C:\\T\r\n", false, true);
  EXPECT_EQ(Hex(p.to_bytes()), Hex(expected));
  EXPECT_EQ(IniProfile().to_bytes(), B("\xFF\xFE"));

  IniProfile back = Parse(expected);
  EXPECT_EQ(Hex(back.to_bytes()), Hex(expected));
}

TEST(IniProfile, NamesSortIgnoringCaseShorterFirst) {
  IniProfile p;
  for (const wchar_t* name : {L"b", L"AB", L"a", L"_", L"Ab1"}) p.write_string(L"S", name, L"");
  std::wstring list;
  p.get_key_list(L"S", list, L',');
  EXPECT_EQ(list, L"_,a,AB,Ab1,b,");
}

TEST(IniProfile, SaveAndLoadThroughTheFileObject) {
  initest::TempFile f;
  IniProfile p;
  EXPECT_FALSE(p.save(L""));  // neither a path nor a profile path
  EXPECT_FALSE(p.load());
  p.write_string(L"Files", L"x", L"C:\\x \u00E9");
  ASSERT_TRUE(p.save(f.wpath()));
  EXPECT_EQ(p.path(), f.wpath());
  EXPECT_EQ(f.read(), p.to_bytes());

  IniProfile back(f.wpath());
  ASSERT_TRUE(back.load());
  EXPECT_EQ(back.find(L"files", L"X"), L"C:\\x \u00E9");
  back.write_string(L"Files", L"y", L"1");
  ASSERT_TRUE(back.save(L""));
  IniProfile again(f.wpath());
  ASSERT_TRUE(again.load());
  EXPECT_EQ(again.find(L"Files", L"y"), L"1");

  IniProfile missing((f.path().wstring() + L".absent"));
  EXPECT_FALSE(missing.load());
  std::wstring bad = (f.path() / "no" / "x.ini").wstring();
  EXPECT_FALSE(p.save(bad));
  EXPECT_EQ(p.path(), f.wpath());
}

TEST(IniProfile, HostileInputs) {
  std::mt19937 rng(11);
  for (int round = 0; round < 400; ++round) {
    Bytes junk(rng() % 3000);
    for (uint8_t& b : junk) b = static_cast<uint8_t>(rng() % 4 == 0 ? "[]=;\r\n \t"[rng() % 8] : rng());
    IniProfile p = Parse(junk);
    Bytes out = p.to_bytes();
    EXPECT_LE(out.size(), junk.size() * 4 + 8);
    IniProfile back = Parse(out);
    EXPECT_EQ(Hex(back.to_bytes()), Hex(out));  // whatever was read is saved and read back the same
  }
  IniProfile odd = Parse(B("[\0S\0]\0\n\0k\0=\0v", 13));  // odd length: last byte completed by zero
  EXPECT_EQ(odd.find(L"S", L"k"), L"v");
  std::string huge = "[S]\nk=" + std::string(4u << 20, 'v');
  EXPECT_EQ(Parse(huge).find(L"S", L"k")->size(), 4u << 20);
  IniProfile lf = Parse(std::string(200000, '\n'));
  EXPECT_TRUE(lf.sections().empty());
}

TEST(IniProfile, LoadReplacesTheProfileOnlyWhenTheFileIsRead) {
  initest::TempFile f;
  IniProfile p(f.wpath());
  p.write_string(L"Old", L"k", L"v");
  EXPECT_FALSE(p.load());
  EXPECT_EQ(p.find(L"Old", L"k"), L"v");
  f.write(B("[New]\r\nk=w\r\n"));
  ASSERT_TRUE(p.load());
  EXPECT_EQ(p.find(L"Old", L"k"), std::nullopt);
  EXPECT_EQ(p.find(L"New", L"k"), L"w");
}

TEST(IniProfile, OversizedFilesAreRefusedNotRead) {
  initest::TempFile f;
  f.write(B("[S]\r\nk=v\r\n"));
  std::filesystem::resize_file(f.path(), kMaxTextFileBytes + 1);  // sparse: nothing is written
  IniProfile p(f.wpath());
  EXPECT_FALSE(p.load());
  inifilex doc;
  EXPECT_FALSE(doc.load(f.wpath(), L"=", false));
  EXPECT_EQ(doc.last_error(), kErrorFileTooLarge);
  std::filesystem::resize_file(f.path(), kMaxTextFileBytes);
  IniProfile at_limit(f.wpath());
  EXPECT_TRUE(at_limit.load()) << "the limit itself is accepted";  // (the zero padding makes it UTF-16)
}
