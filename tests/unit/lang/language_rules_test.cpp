// portable
#include "package/language_rules.h"

#include <gtest/gtest.h>

using namespace lang;

TEST(LanguageList, Pieces) {
  struct Row { const wchar_t* text; std::vector<uint16_t> want; } rows[] = {
      {L"", {}},
      {L"0x0409,0x0407", {0x0407, 0x0409}},
      {L"1033,", {1033}},                 // trailing comma adds nothing
      {L"1033,,1031", {0, 1031, 1033}},   // two commas add 0
      {L"0X40c", {0x040c}},
      {L" 1031", {1031}},
      {L"0x123456789", {0xFFFF}},         // saturates, then 16 bits
      {L"70000", {70000 & 0xFFFF}},
      {L"junk", {0}},
      {L"1033, 0x0407", {0, 1033}},      // blanks stay: " 0x0407" is decimal and stops at the x
      {L"1033,1033,1033", {1033}},
  };
  for (const auto& r : rows) EXPECT_EQ(parse_language_list(r.text), r.want) << std::wstring(r.text).size();
  EXPECT_TRUE(is_all_languages(L"all"));
  EXPECT_TRUE(is_all_languages(L"ALL"));
  EXPECT_TRUE(is_all_languages(L" All\t"));
  EXPECT_FALSE(is_all_languages(L"allx"));
  EXPECT_FALSE(is_all_languages(L"a ll"));
}

TEST(LanguageMatch, Steps) {
  LanguageSets sets{{0x0407, 0x0409}, {}, false};
  uint16_t id = 0x0807;
  EXPECT_TRUE(match_language(sets, id));
  EXPECT_EQ(id, 0x0407);
  sets.exact = {0x0407};
  id = 0x0807;
  EXPECT_FALSE(match_language(sets, id));
  id = 0x0407;
  EXPECT_TRUE(match_language(sets, id));  // exact is still fine
  sets = {{0x0409, 0x0c09}, {}, true};
  id = 0x0809;
  EXPECT_FALSE(match_language(sets, id));
  sets.exact_for_all = false;
  id = 0x1009;
  EXPECT_TRUE(match_language(sets, id));
  EXPECT_EQ(id, 0x0409);
  sets = {{0x0c09}, {}, false};
  id = 0x1009;
  EXPECT_TRUE(match_language(sets, id));
  EXPECT_EQ(id, 0x0c09);  // step 3: same primary language
}

TEST(LanguageChoice, SourcesInOrder) {
  LanguageSets sets{{0x0407, 0x0409}, {0x0407}, false};
  LanguageFacts facts{0x0807, 0x0807, 0x0409};
  LanguageChoice c = choose_language(sets, facts, 0, 0, 9);
  EXPECT_EQ(c.id, 0x0409);
  EXPECT_EQ(c.source, LanguageSource::system_ui);
  c = choose_language(sets, facts, 1031, 0, 9);
  EXPECT_EQ(c.id, 0x0407);
  EXPECT_EQ(c.source, LanguageSource::command_line);
  c = choose_language(sets, facts, 0, 0x0409, 9);
  EXPECT_EQ(c.source, LanguageSource::requested);
  c = choose_language({{0x0411}, {}, false}, facts, 0, 0, 9);
  EXPECT_EQ(c.id, 9);
  EXPECT_EQ(c.source, LanguageSource::fallback);
  // An absent command-line language never picks a supported 0.
  c = choose_language({{0, 0x0409}, {}, false}, {0, 0, 0}, 0, 0, 0x0409);
  EXPECT_EQ(c.source, LanguageSource::fallback);
}

TEST(LanguageNames, LowerCaseHex) {
  EXPECT_EQ(language_key(0x040C), L"0x040c");
  EXPECT_EQ(string_table_file_name(0x040C), L"0x040c.ini");
  EXPECT_EQ(transform_name(0x0407), L"1031.MST");
  EXPECT_FALSE(wants_transform(1, false));
  EXPECT_FALSE(wants_transform(2, true));
  EXPECT_TRUE(wants_transform(2, false));
  EXPECT_EQ(uninstall_string_language(L"\"C:\\x\\setup.exe\" /x /l1031"), 1031);
  EXPECT_EQ(uninstall_string_language(L"MsiExec.exe /X{1}"), 0);
  EXPECT_EQ(string_resource_languages(0x0807), (std::vector<uint16_t>{0x0807, 0x0c07, 0x0407, 0x0400, 0}));
  EXPECT_EQ(string_resource_languages(0x0409), (std::vector<uint16_t>{0x0409, 0x0400, 0}));
}

TEST(WizardCaption, Rule) {
  EXPECT_EQ(wizard_caption(false, L"", L"Brackenwright Wizard", L"%s - Brackenwright Wizard"), L"Brackenwright Wizard");
  EXPECT_EQ(wizard_caption(false, L"Foo", L"G", L"%s - Brackenwright Wizard"), L"Foo - Brackenwright Wizard");
  EXPECT_EQ(wizard_caption(true, L"Foo", L"Assistent", L"%s"), L"Assistent Brackenwright Wizard");
  EXPECT_EQ(wizard_caption(false, L"Foo", L"G", L"%s %n %s brackenWRIGHT"), L"Foo %n %s brackenWRIGHT");
}

TEST(DialogFont, HostileValues) {
  std::wstring huge(100000, L'x'), big = L"99999999999", neg = L"-3", ok = L"10";
  EXPECT_EQ(dialog_font_from(&huge, &big).face.size(), kMaxFaceLength);
  EXPECT_EQ(dialog_font_from(&huge, &big).size, 8);
  EXPECT_EQ(dialog_font_from(nullptr, &neg).size, 8);
  EXPECT_EQ(dialog_font_from(nullptr, &ok).size, 10);
  EXPECT_EQ(dialog_font_from(nullptr, nullptr).face, L"Tahoma");
  EXPECT_EQ(cut_text(std::wstring(10, L'a'), 4), L"aaaa");
}

TEST(DialogTemplate, DamagedInputRefused) {
  std::vector<uint8_t> junk(7, 0xFF);
  EXPECT_FALSE(rewrite_dialog_template(junk.data(), junk.size(), false, u"Tahoma", 8, 0, false));
  EXPECT_FALSE(rewrite_dialog_template(nullptr, 0, false, u"Tahoma", 8, 0, false));
  // DLGTEMPLATEEX header without a title terminator.
  std::vector<uint8_t> cut = {1, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'A', 0};
  EXPECT_FALSE(rewrite_dialog_template(cut.data(), cut.size(), false, u"Tahoma", 8, 0, false));
  cut.push_back(0);
  cut.push_back(0);
  auto out = rewrite_dialog_template(cut.data(), cut.size(), false, u"Arial", 9, 1, true);
  ASSERT_TRUE(out);
  EXPECT_EQ((*out)[10] & 0x40, 0x40);  // right-to-left layout (extended style, bit 22)
  EXPECT_EQ((*out)[12] & 0x40, 0x40);  // font set
  EXPECT_EQ(out->size() % 4, 0u);
}
