// portable
#include "package/inifilex.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <random>

#include "ini_test_util.h"

using namespace qz;
using initest::B;
using initest::Hex;
using initest::U16;

namespace {

inifilex Load(const std::string& text, bool* ok = nullptr, std::wstring separator = L"=") {
  inifilex doc;
  bool r = doc.load_bytes(B(text), separator, false);
  if (ok) *ok = r;
  return doc;
}

std::optional<std::wstring> Value(inifilex& doc, const std::wstring& section, const std::wstring& key) {
  if (!doc.key_exists(section, key)) return std::nullopt;
  return doc.get_string(section, key, L"<default>");
}

}  // namespace

TEST(Inifilex, ParsingKeepsTextAsWrittenAndTheFirstValue) {
  struct Case {
    const char* name;
    std::string text;
    std::wstring section, key;
    std::optional<std::wstring> value;
  } cases[] = {
      {"blanks kept around =", "[Startup]\r\nKey = Value\r\n", L"Startup", L"Key ", L" Value"},
      {"no key without its blank", "[Startup]\r\nKey = Value\r\n", L"Startup", L"Key", std::nullopt},
      {"names ignore case", "[startup]\r\nKEY=v", L"Startup", L"key", L"v"},
      {"first value wins", "[S]\r\nk=1\r\nK=2\r\n", L"S", L"k", L"1"},
      {"repeated header merges", "[S]\r\nk=1\r\n[T]\r\n[s]\r\nk=3\r\nm=4\r\n", L"S", L"m", L"4"},
      {"merged header keeps first", "[S]\r\nk=1\r\n[T]\r\n[s]\r\nk=3\r\n", L"S", L"k", L"1"},
      {"; inside a value", "[S]\nk=a;b\n;k=c\n", L"S", L"k", L"a;b"},
      {"comment line", "[S]\n;k=c\nk=d\n", L"S", L"k", L"d"},
      {"lone CR ends lines", "[S]\rk=1\rj=2", L"S", L"j", L"2"},
      {"mixed line ends", "[S]\r\n\nk=1\n\r\rj=2\r\n", L"S", L"j", L"2"},
      {"no separator: empty value", "[S]\r\nflag\r\n", L"S", L"flag", L""},
      {"only first = splits", "[S]\r\nk==v=w", L"S", L"k", L"=v=w"},
      {"leading blanks in key", "[S]\r\n  k=v", L"S", L"  k", L"v"},
      {"trailing blanks in value", "[S]\r\nk=v \t", L"S", L"k", L"v \t"},
      {"quotes kept", "[S]\r\nk=\"v\"", L"S", L"k", L"\"v\""},
      {"text after ] ignored", "[S] tail\r\nk=v", L"S", L"k", L"v"},
      {"name ends at first ]", "[a]b]\r\nk=v", L"a", L"k", L"v"},
      {"blank section name kept", "[ S ]\r\nk=v", L" S ", L"k", L"v"},
      {"empty section name", "[]\r\nk=v", L"", L"k", L"v"},
      {"empty key", "[S]\r\n=v", L"S", L"", L"v"},
      {"value with NUL ends the text", std::string("[S]\r\nk=ab\0c=d", 13), L"S", L"k", L"ab"},
  };
  for (const Case& c : cases) {
    bool ok = false;
    inifilex doc = Load(c.text, &ok);
    EXPECT_TRUE(ok) << c.name;
    EXPECT_EQ(Value(doc, c.section, c.key), c.value) << c.name;
  }
}

TEST(Inifilex, RepeatedHeadersMakeOneSectionInFirstPlace) {
  inifilex doc = Load("[S]\r\na=1\r\n[T]\r\nx=1\r\n[s]\r\nb=2\r\n");
  inifilex::string_list names, keys;
  doc.get_section_names(names);
  EXPECT_EQ(names, (inifilex::string_list{L"S", L"T"}));
  doc.get_key_names(L"S", keys);
  EXPECT_EQ(keys, (inifilex::string_list{L"a", L"b"}));
}

TEST(Inifilex, LoadFailsOnBadStructureButKeepsWhatItRead) {
  struct Case {
    const char* name;
    std::string text;
    size_t sections;
  } cases[] = {
      {"entry before any section", "k=v\r\n[S]\r\nx=1", 0},
      {"comment then entry", "; c\r\n\r\nk=v", 0},
      {"header without ]", "[S]\r\nk=v\r\n[T\r\nx=1", 1},
      {"bare [", "[", 0},
  };
  for (const Case& c : cases) {
    bool ok = true;
    inifilex doc = Load(c.text, &ok);
    EXPECT_FALSE(ok) << c.name;
    EXPECT_EQ(doc.sections().size(), c.sections) << c.name;
    EXPECT_EQ(doc.last_error(), 0u) << c.name;
  }
  inifilex doc = Load("[S]\r\nk=v\r\n[T\r\n");
  EXPECT_EQ(doc.get_string(L"S", L"k", L""), L"v");
}

TEST(Inifilex, SeparatorIsFoundIgnoringCaseAndSkippedWhole) {
  inifilex a = Load("[S]\r\nkeyASvalue\r\n", nullptr, L"as");
  EXPECT_EQ(a.get_string(L"S", L"key", L"-"), L"value");
  inifilex b = Load("[S]\r\nk::v:w\r\n", nullptr, L"::");
  EXPECT_EQ(b.get_string(L"S", L"k", L"-"), L"v:w");
  inifilex c = Load("[S]\r\nk:=v\r\n");
  EXPECT_EQ(c.get_string(L"S", L"k:", L"-"), L"v");
}

TEST(Inifilex, GetIntFollowsHexPrefixAndWcstol) {
  struct Case {
    std::string value;
    int32_t expected;
  } cases[] = {
      {"0x1F", 31},         {"0X10", 16},          {"12abc", 12},        {"-5", -5},
      {" 42", 42},          {"+7", 7},             {"abc", 0},           {"0x", 0},
      {"0x0x1F", 31},       {"0x-1", -1},          {"0xg", 0},           {" 0x10", 0},
      {"2147483647", INT32_MAX}, {"2147483648", INT32_MAX}, {"-2147483648", INT32_MIN},
      {"-99999999999999999999", INT32_MIN}, {"0xFFFFFFFF", INT32_MAX}, {"0x7fffffff", INT32_MAX},
      {"007", 7},
  };
  for (const Case& c : cases) {
    inifilex doc = Load("[S]\r\nk=" + c.value + "\r\n");
    EXPECT_EQ(doc.get_int(L"S", L"k", -99), c.expected) << c.value;
  }
  inifilex doc = Load("[S]\r\nempty=\r\n");
  EXPECT_EQ(doc.get_int(L"S", L"empty", -99), -99);
  EXPECT_EQ(doc.get_int(L"S", L"missing", -99), -99);
  EXPECT_EQ(doc.get_int(L"T", L"empty", 3), 3);
}

TEST(Inifilex, GetBoolAcceptsFourWordsInAnyCase) {
  struct Case {
    std::string value;
    bool expected;
  } cases[] = {
      {"yes", true}, {"Y", true},   {"y", true},    {"1", true},     {"TRUE", true}, {"True", true},
      {"No", false}, {"2", false},  {"0", false},   {"yess", false}, {" yes", false}, {"yes ", false},
      {"false", false},
  };
  for (const Case& c : cases) {
    inifilex doc = Load("[S]\r\nk=" + c.value + "\r\n");
    EXPECT_EQ(doc.get_bool(L"S", L"k", !c.expected), c.expected) << c.value;
  }
  inifilex doc = Load("[S]\r\nempty=\r\n");
  for (bool d : {false, true}) {
    EXPECT_EQ(doc.get_bool(L"S", L"empty", d), d);
    EXPECT_EQ(doc.get_bool(L"S", L"missing", d), d);
  }
}

TEST(Inifilex, GetStringGivesEmptyValueNotDefault) {
  inifilex doc = Load("[S]\r\nk=\r\n");
  EXPECT_EQ(doc.get_string(L"S", L"k", L"d"), L"");
  EXPECT_EQ(doc.get_string(L"S", L"x", L"d"), L"d");
  EXPECT_EQ(doc.get_string(L"X", L"k", L"d"), L"d");
}

TEST(Inifilex, SettersFormatAndMarkModified) {
  inifilex doc;
  EXPECT_FALSE(doc.is_modified());
  doc.set_int(L"S", L"i", -12);
  doc.set_bool(L"S", L"y", true);
  doc.set_bool(L"S", L"n", false);
  doc.set_string(L"T", L"s", L"v");
  EXPECT_TRUE(doc.is_modified());
  EXPECT_EQ(doc.get_string(L"S", L"i", L""), L"-12");
  EXPECT_EQ(doc.get_string(L"S", L"y", L""), L"Yes");
  EXPECT_EQ(doc.get_string(L"S", L"n", L""), L"No");
  doc.set_string(L"s", L"I", L"new");  // replaces, keeps the first spelling and place
  inifilex::string_list keys;
  doc.get_key_names(L"S", keys);
  EXPECT_EQ(keys, (inifilex::string_list{L"i", L"y", L"n"}));
  EXPECT_EQ(doc.get_string(L"S", L"i", L""), L"new");
  doc.set_modified(false);
  doc.sort();
  EXPECT_FALSE(doc.is_modified()) << "sorting is not a change";
  ASSERT_TRUE(doc.load_bytes(B("[A]\r\n"), L"=", false));
  EXPECT_FALSE(doc.is_modified());
}

TEST(Inifilex, RenameRules) {
  inifilex doc = Load("[A]\r\nk=1\r\nj=2\r\n[B]\r\n[C]\r\n");
  EXPECT_TRUE(doc.rename_section(L"a", L"A"));  // same name ignoring case: nothing to do
  EXPECT_FALSE(doc.is_modified());
  EXPECT_FALSE(doc.rename_section(L"A", L"b"));  // target exists
  EXPECT_FALSE(doc.rename_section(L"Z", L"Y"));  // source missing
  EXPECT_FALSE(doc.is_modified());
  EXPECT_TRUE(doc.rename_section(L"B", L"Bee"));
  EXPECT_TRUE(doc.is_modified());
  inifilex::string_list names;
  doc.get_section_names(names);
  EXPECT_EQ(names, (inifilex::string_list{L"A", L"Bee", L"C"}));
  EXPECT_FALSE(doc.section_exists(L"B"));
  EXPECT_TRUE(doc.section_exists(L"bee"));

  EXPECT_TRUE(doc.rename_key(L"A", L"k", L"K"));
  EXPECT_FALSE(doc.rename_key(L"A", L"k", L"j"));
  EXPECT_FALSE(doc.rename_key(L"Z", L"k", L"m"));
  EXPECT_TRUE(doc.rename_key(L"A", L"k", L"m"));
  inifilex::string_list keys;
  doc.get_key_names(L"A", keys);
  EXPECT_EQ(keys, (inifilex::string_list{L"m", L"j"}));
  EXPECT_EQ(doc.get_string(L"A", L"m", L""), L"1");
}

TEST(Inifilex, PrefixOperationsVisitEachSectionOnce) {
  inifilex doc = Load("[Pre1]\r\n[x]\r\n[pre2]\r\n[Prefix]\r\n");
  inifilex::string_list found = {L"kept"};
  EXPECT_EQ(doc.find_sections(found, L"PRE"), 4u);  // the list's new length
  EXPECT_EQ(found, (inifilex::string_list{L"kept", L"Pre1", L"pre2", L"Prefix"}));

  doc.rename_section_prefix(L"pre", L"prepre");  // the new prefix starts with the old one
  inifilex::string_list names;
  doc.get_section_names(names);
  EXPECT_EQ(names, (inifilex::string_list{L"prepre1", L"x", L"prepre2", L"preprefix"}));

  doc.delete_sections_with_prefix(L"PREPRE");
  names.clear();
  doc.get_section_names(names);
  EXPECT_EQ(names, (inifilex::string_list{L"x"}));
  EXPECT_EQ(doc.get_string(L"x", L"k", L"d"), L"d");
  doc.set_string(L"x", L"k", L"v");
  EXPECT_EQ(doc.get_string(L"X", L"K", L"d"), L"v");
}

TEST(Inifilex, DeletionKeepsTheIndexOfLaterItems) {
  inifilex doc = Load("[A]\r\na=1\r\nb=2\r\nc=3\r\n[B]\r\nx=1\r\n[C]\r\ny=2\r\n");
  EXPECT_TRUE(doc.delete_section(L"a"));
  EXPECT_FALSE(doc.delete_section(L"a"));
  EXPECT_EQ(doc.get_string(L"C", L"y", L""), L"2");
  EXPECT_EQ(doc.get_string(L"B", L"x", L""), L"1");
  doc = Load("[A]\r\na=1\r\nb=2\r\nc=3\r\n");
  EXPECT_TRUE(doc.delete_key(L"A", L"A"));
  EXPECT_FALSE(doc.delete_key(L"A", L"a"));
  EXPECT_FALSE(doc.delete_key(L"Z", L"b"));
  EXPECT_EQ(doc.get_string(L"A", L"c", L""), L"3");
  EXPECT_TRUE(doc.clear_section(L"A"));
  EXPECT_FALSE(doc.clear_section(L"Z"));
  EXPECT_TRUE(doc.section_exists(L"A"));
  EXPECT_FALSE(doc.key_exists(L"A", L"c"));
  doc.set_modified(false);
  doc.clear();
  EXPECT_FALSE(doc.is_modified());
  EXPECT_FALSE(doc.section_exists(L"A"));
}

TEST(Inifilex, MoveKeyAfterAnchor) {
  struct Case {
    std::wstring key, anchor;
    bool ok;
    inifilex::string_list order;
  } cases[] = {
      {L"a", L"c", true, {L"b", L"c", L"a", L"d"}},
      {L"d", L"a", true, {L"a", L"d", L"b", L"c"}},
      {L"B", L"D", true, {L"a", L"c", L"d", L"b"}},
      {L"c", L"b", true, {L"a", L"b", L"c", L"d"}},
      {L"b", L"b", true, {L"a", L"b", L"c", L"d"}},
      {L"x", L"b", false, {L"a", L"b", L"c", L"d"}},
      {L"a", L"x", false, {L"a", L"b", L"c", L"d"}},
  };
  for (const Case& c : cases) {
    inifilex doc = Load("[S]\r\na=1\r\nb=2\r\nc=3\r\nd=4\r\n");
    EXPECT_EQ(doc.move_key_after(L"S", c.key, c.anchor), c.ok);
    inifilex::string_list keys;
    doc.get_key_names(L"S", keys);
    EXPECT_EQ(keys, c.order) << std::string(c.key.begin(), c.key.end());
    for (const std::wstring& k : keys) EXPECT_TRUE(doc.key_exists(L"S", k));  // index rewritten
    EXPECT_EQ(doc.get_string(L"S", L"d", L""), L"4");
  }
  inifilex doc = Load("[S]\r\na=1\r\n");
  EXPECT_FALSE(doc.move_key_after(L"T", L"a", L"a"));
}

TEST(Inifilex, SortOrdersIgnoringCaseShorterFirst) {
  inifilex doc = Load("[b]\r\nz=1\r\nA=2\r\nab=3\r\na_=4\r\n[A]\r\n[ab]\r\n[_]\r\n");
  doc.sort();
  inifilex::string_list names, keys;
  doc.get_section_names(names);
  // Folded to lower case, "_" (0x5F) sorts before letters.
  EXPECT_EQ(names, (inifilex::string_list{L"_", L"A", L"ab", L"b"}));
  doc.get_key_names(L"b", keys);
  EXPECT_EQ(keys, (inifilex::string_list{L"A", L"a_", L"ab", L"z"}));
  EXPECT_EQ(doc.get_string(L"B", L"AB", L""), L"3");
  doc.sort_section_keys(L"new");
  EXPECT_TRUE(doc.section_exists(L"new"));
}

TEST(Inifilex, NumberedValuesSkipMissingZeroAndStopAtTheFirstGap) {
  struct Case {
    std::string body;
    std::wstring format;
    inifilex::string_list expected;
  } cases[] = {
      {"Lang1=a\r\nLang2=b\r\nLang4=d\r\n", L"Lang%d", {L"a", L"b"}},
      {"Lang0=z\r\nLang1=a\r\n", L"lang%d", {L"z", L"a"}},
      {"Lang0=z\r\nLang2=b\r\n", L"Lang%d", {L"z"}},
      {"Lang=x\r\n", L"Lang", {L"x"}},  // no number: one key, not an endless walk
      {"K000=a\r\nK001=b\r\n", L"K%03d", {L"a", L"b"}},
      {"K%0=a\r\nK%1=b\r\n", L"K%%%d", {L"a", L"b"}},
      {"Ks=a\r\n", L"K%s", {}},  // %s is not a number placeholder
      {"", L"K%999999d", {}},   // an absurd width is not a placeholder
  };
  for (const Case& c : cases) {
    inifilex doc = Load("[S]\r\n" + c.body);
    inifilex::string_list out;
    doc.get_numbered_values(L"S", out, c.format);
    EXPECT_EQ(out, c.expected) << c.body;
  }
  EXPECT_EQ(format_number_key(L"%5d|%-4d|%+d|%u", -3), L"   -3|-3  |-3|4294967293");
  EXPECT_EQ(format_number_key(L"%05d%", 42), L"00042%");
}

TEST(Inifilex, CopyAndImportSections) {
  inifilex src = Load("[One]\r\na=1\r\nb=2\r\n[Two]\r\nc=3\r\n");
  inifilex doc = Load("[Old]\r\na=0\r\n");
  doc.copy_section(L"old", src.sections().find(L"one") ? *src.sections().find(L"one") : inifilesectionx());
  EXPECT_EQ(doc.get_string(L"Old", L"a", L""), L"1");
  EXPECT_EQ(doc.get_string(L"Old", L"b", L""), L"2");

  inifilex::section_list list;
  for (const auto& [name, section] : src.sections()) list.emplace_back(to_wstring(name), section);
  doc.import_sections(list, L"Pre", L"%s.%ls %d%%");
  EXPECT_EQ(doc.get_string(L"Pre.One %d%", L"b", L""), L"2");
  EXPECT_EQ(doc.get_string(L"Pre.Two %d%", L"c", L""), L"3");

  // A section of the same document copied to new sections while the list grows.
  for (int i = 0; i < 40; ++i)
    doc.copy_section(L"Copy" + std::to_wstring(i), *doc.sections().find(i % 2 ? L"Old" : L"Pre.One %d%"));
  EXPECT_EQ(doc.get_string(L"Copy39", L"b", L""), L"2");
  EXPECT_EQ(doc.get_string(L"Copy38", L"a", L""), L"1");
  doc.copy_section(L"old", *doc.sections().find(L"Old"));
  EXPECT_EQ(doc.get_string(L"Old", L"a", L""), L"1");
}

TEST(Inifilex, AttachSetsPathAndSeparatorOnly) {
  inifilex doc;
  doc.attach(L"x.ini", L":");
  EXPECT_EQ(doc.get_path(), L"x.ini");
  EXPECT_EQ(doc.get_separator(), L":");
  EXPECT_EQ(doc.code_page(), -1);
  EXPECT_TRUE(doc.set_bom(true));
  EXPECT_FALSE(doc.set_bom(false));
}

// Byte-exact save: each encoding of a canonical file comes back byte for byte.
TEST(Inifilex, SaveWritesTheLoadedEncodingByteForByte) {
  const std::u16string canonical = u"[A]\r\nk=v \u00E9\r\n;x=\r\n\r\n[B\u20AC]\r\nflag=\r\n";
  const std::string ansi = "[A]\r\nk=v \xE9\r\n;x=\r\n\r\n[B]\r\nflag=\r\n";
  const std::string utf8 = "[A]\r\nk=v \xC3\xA9\r\n;x=\r\n\r\n[B\xE2\x82\xAC]\r\nflag=\r\n";
  struct Case {
    const char* name;
    Bytes bytes;
    int32_t forced;
    int32_t cp;
    bool bom;
  } cases[] = {
      {"utf-16le bom", U16(canonical, false, true), -1, 1200, true},
      {"utf-16be bom", U16(canonical, true, true), -1, 1201, true},
      {"utf-16le forced", U16(canonical), 1200, 1200, false},
      {"utf-16be forced", U16(canonical, true), 1201, 1201, false},
      {"utf-8 bom", B("\xEF\xBB\xBF" + utf8), -1, 65001, true},
      {"utf-8 forced", B(utf8), 65001, 65001, false},
      {"bom beats forced page", B("\xEF\xBB\xBF" + utf8), 1200, 65001, true},
  };
  for (const Case& c : cases) {
    inifilex doc;
    doc.set_code_page(c.forced);
    ASSERT_TRUE(doc.load_bytes(c.bytes, L"=", false)) << c.name;
    EXPECT_EQ(doc.code_page(), c.cp) << c.name;
    EXPECT_EQ(doc.bom(), c.bom) << c.name;
    EXPECT_EQ(doc.get_string(L"A", L"k", L""), L"v \u00E9") << c.name;
    EXPECT_TRUE(doc.section_exists(L"B\u20AC")) << c.name;
    Bytes out;
    ASSERT_EQ(doc.to_bytes(out), 0u);
    // The comment line is not kept: the saved form has it removed.
    Bytes expected = c.bytes;
    Bytes comment = c.cp == 65001 ? B(";x=\r\n") : U16(u";x=\r\n", c.cp == 1201);
    auto at = std::search(expected.begin(), expected.end(), comment.begin(), comment.end());
    ASSERT_NE(at, expected.end());
    expected.erase(at, at + static_cast<ptrdiff_t>(comment.size()));
    EXPECT_EQ(Hex(out), Hex(expected)) << c.name;
  }
  inifilex doc;
  ASSERT_TRUE(doc.load_bytes(B(ansi), L"=", false));
  EXPECT_EQ(doc.code_page(), 0);
  EXPECT_FALSE(doc.bom());
}

TEST(Inifilex, SavedLayoutAndKeysWithoutValues) {
  const std::string text = "; head\n[A]\nflag\nk=v\n[B]\n\n\n[C]\nx=1";
  for (bool bare : {false, true}) {
    inifilex doc;
    ASSERT_TRUE(doc.load_bytes(B(text), L"=", bare));
    Bytes out;
    ASSERT_EQ(doc.to_bytes(out), 0u);
    std::string flag = bare ? "flag" : "flag=";
    EXPECT_EQ(std::string(out.begin(), out.end()), "[A]\r\n" + flag + "\r\nk=v\r\n\r\n[B]\r\n\r\n[C]\r\nx=1\r\n");
  }
  inifilex empty;
  Bytes out;
  empty.set_code_page(1200);
  empty.set_bom(true);
  ASSERT_EQ(empty.to_bytes(out), 0u);
  EXPECT_EQ(out, B("\xFF\xFE"));
}

TEST(Inifilex, Utf16WithoutMarkNeedsTheCodePageSetFirst) {
  Bytes bytes = U16(u"[S]\r\nk=v\r\n");
  inifilex plain;
  EXPECT_FALSE(plain.load_bytes(bytes, L"=", false));  // read as ANSI: "[" then a zero byte
  EXPECT_FALSE(plain.section_exists(L"S"));
  inifilex forced;
  forced.set_code_page(1200);
  ASSERT_TRUE(forced.load_bytes(bytes, L"=", false));
  EXPECT_EQ(forced.get_string(L"S", L"k", L""), L"v");
}

TEST(Inifilex, SaveAsThroughTheFileObject) {
  initest::TempFile f;
  inifilex doc;
  ASSERT_TRUE(doc.load_bytes(B("[S]\r\nk=v\r\n"), L"=", false));
  doc.set_string(L"S", L"n", L"\u00E9");
  ASSERT_TRUE(doc.save_as(f.wpath(), kIniSaveUseArguments, 65001, true));
  EXPECT_FALSE(doc.is_modified());
  EXPECT_EQ(doc.get_path(), f.wpath());
  EXPECT_EQ(f.read(), B("\xEF\xBB\xBF[S]\r\nk=v\r\nn=\xC3\xA9\r\n"));

  inifilex back;
  ASSERT_TRUE(back.load(f.wpath(), L"=", false));
  EXPECT_EQ(back.code_page(), 65001);
  EXPECT_TRUE(back.bom());
  EXPECT_EQ(back.get_string(L"s", L"N", L""), L"\u00E9");
  back.set_string(L"A", L"x", L"1");
  ASSERT_TRUE(back.save(kIniSaveSortSections, 0, false));  // flag 4 absent: page and mark kept
  EXPECT_EQ(f.read(), B("\xEF\xBB\xBF[A]\r\nx=1\r\n\r\n[S]\r\nk=v\r\nn=\xC3\xA9\r\n"));
}

TEST(Inifilex, SaveFlagsAndFailures) {
  initest::TempFile f;
  inifilex empty;
  EXPECT_TRUE(empty.save_as(f.wpath(), kIniSaveSkipEmpty, 0, false));
  EXPECT_FALSE(std::filesystem::exists(f.path()));
  EXPECT_FALSE(empty.save(0, 0, false));  // no path

  inifilex doc;
  doc.set_string(L"S", L"k", L"v");
  std::wstring bad = (f.path() / "no" / "such.ini").wstring();
  EXPECT_FALSE(doc.save_as(bad, 0, 0, false));
  EXPECT_NE(doc.last_error(), 0u);
  EXPECT_EQ(doc.last_failed_path(), bad);
  EXPECT_TRUE(doc.is_modified());
}

TEST(Inifilex, LoadOfAMissingFileReportsTheOpenError) {
  initest::TempFile f;
  inifilex doc;
  doc.set_string(L"Old", L"k", L"v");
  EXPECT_FALSE(doc.load(f.wpath(), L"=", false));
  EXPECT_EQ(doc.last_error(), 2u);
  EXPECT_FALSE(doc.section_exists(L"Old"));  // cleared before reading
  EXPECT_EQ(doc.get_path(), f.wpath());
}

TEST(Inifilex, InternetAddressesFailUntilTheTransportExists) {
  inifilex doc;
  EXPECT_FALSE(doc.load(L"HTTPS://example.invalid/setup.ini", L"=", false));
  EXPECT_EQ(doc.last_error(), 50u);
}

// Hostile input: nothing may crash, hang or grow beyond the input.
TEST(Inifilex, HostileInputs) {
  std::string huge_line = "[S]\r\nk=" + std::string(4u << 20, 'x');
  std::string many_sections;
  for (int i = 0; i < 20000; ++i) many_sections += "[s" + std::to_string(i % 500) + "]\nk" + std::to_string(i) + "=v\n";
  std::string brackets(100000, '[');
  const std::string inputs[] = {
      huge_line, many_sections, brackets, std::string(100000, '\0'), std::string(100001, '\xFF'),
      "\xFF\xFE[", "\xFE\xFF\0", "\xEF\xBB\xBF", std::string("\xFF\xFE[\0S\0]\0\n\0\x3D\xD8", 12),
      std::string(50000, '\r') + "[S]", "[S]" + std::string(50000, '='),
  };
  for (const std::string& in : inputs) {
    inifilex doc;
    doc.load_bytes(B(in), L"=", false);
    Bytes out;
    doc.to_bytes(out);
    EXPECT_LE(out.size(), in.size() * 4 + 16);
  }
  inifilex doc = Load(huge_line);
  EXPECT_EQ(doc.get_string(L"S", L"k", L"").size(), 4u << 20);
  doc = Load(many_sections);
  EXPECT_EQ(doc.sections().size(), 500u);
  EXPECT_EQ(doc.get_string(L"s7", L"k19507", L""), L"v");
}

// Saving is idempotent: load(save(load(x))) saves to the same bytes, in every encoding.
TEST(Inifilex, RandomDocumentsSurviveSaveAndReload) {
  std::mt19937 rng(7);
  const char* pieces[] = {"[", "]", "=", ";", "\r\n", "\n", "\r", "a", "B", " ", "\t", "\xE9", "\x80", "k", "x=y", "[S]"};
  for (int round = 0; round < 600; ++round) {
    std::string text = "[S]\n";
    int n = static_cast<int>(rng() % 40);
    for (int i = 0; i < n; ++i) text += pieces[rng() % (sizeof pieces / sizeof *pieces)];
    for (int32_t cp : {0, 1200, 1201, 65001}) {
      inifilex first;
      first.load_bytes(B(text), L"=", false);
      first.set_code_page(cp);
      first.set_bom(round % 2 == 0);
      Bytes once, twice;
      ASSERT_EQ(first.to_bytes(once), 0u);
      inifilex second;
      second.set_code_page(cp);
      ASSERT_TRUE(second.load_bytes(once, L"=", false)) << Hex(once);
      ASSERT_EQ(second.to_bytes(twice), 0u);
      ASSERT_EQ(Hex(once), Hex(twice)) << "input " << Hex(B(text)) << " page " << cp;
    }
  }
}
