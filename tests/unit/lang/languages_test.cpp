// The language parts that need the system: string-table files with the string
// resources behind them, language names, fonts, character sets, the caption, the
// code-page check, the transform choice and the sources of the UI language
// (including a previous installation's uninstall string in the registry).
#include "package/languages.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../support/scratch.h"
#include "package/LaunchSettings.h"
#include "package/load_string.h"
#include "support/utils.h"

namespace {

constexpr unsigned kOk = 1813, kCancel = 1822, kChoose = 1812, kCaption = 1887, kCodePage = 1208;

std::string utf8(const std::wstring& w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring resource(unsigned id) { return resource_string(GetModuleHandleW(nullptr), id, 0x0409); }

class LanguageFiles : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    settings_.setup_ini_path = path(L"Setup.INI");
    settings_.supported_languages = {0x0407, 0x0409};
  }
  // A string-table file in UTF-8 with its mark, as a setup author's editor writes it.
  void table(uint16_t language, const std::wstring& text) {
    write_file(path(lang::string_table_file_name(language)), "\xEF\xBB\xBF" + utf8(text));
  }
  // setup.ini as UTF-16 with its mark (the profile reader takes no UTF-8 mark).
  void setup_ini(const std::wstring& text) {
    write_file(settings_.setup_ini_path,
               "\xFF\xFE" + std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));
  }

  LaunchSettings settings_;
};

TEST_F(LanguageFiles, TextsComeFromTheFileThenFromTheResources) {
  table(0x0407,
        L"[0x0407]\r\n1813=&Weiter\r\n1822=\r\n1887=%s Installationsassistent\r\n"
        L"[Languages]\r\n0x0407=Deutsch\r\n");
  struct Row {
    uint16_t language;
    unsigned id;
    std::wstring want;
  } rows[] = {
      {0x0407, kOk, L"&Weiter"},
      {0x0407, kCancel, resource(kCancel)},  // empty in the file
      {0x0407, kChoose, resource(kChoose)},  // missing from the file
      {0x0409, kOk, L"&OK"},                 // no file for the language
      {0, kOk, L"&OK"},                      // before a language is chosen
      {0x0407, 60001, L""},                  // nowhere
  };
  for (const Row& r : rows) {
    settings_.ui_language = r.language;
    EXPECT_EQ(load_string(settings_, r.id), r.want) << r.language << " " << r.id;
  }
  EXPECT_EQ(resource(kCancel), L"Cancel");

  // A file extracted again with other texts is read again.
  table(0x0407, L"[0x0407]\r\n1813=&Fortfahren jetzt\r\n");
  settings_.ui_language = 0x0407;
  EXPECT_EQ(load_string(settings_, kOk), L"&Fortfahren jetzt");
  DeleteFileW(path(L"0x0407.ini").c_str());
  EXPECT_EQ(load_string(settings_, kOk), L"&OK");

  // Without a folder for setup.ini no table is read, not even one lying in the
  // current folder (which may be anyone's download folder).
  table(0x0407, L"[0x0407]\r\n1813=&Untergeschoben\r\n");
  wchar_t old_dir[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, old_dir);
  ASSERT_TRUE(SetCurrentDirectoryW(path(L"").c_str()));
  for (const wchar_t* ini : {L"", L"Setup.INI"}) {
    settings_.setup_ini_path = ini;
    EXPECT_EQ(load_string(settings_, kOk), L"&OK") << ini;
  }
  SetCurrentDirectoryW(old_dir);
}

TEST(ResourceStrings, LookupByLanguageBlock) {
  HMODULE self = GetModuleHandleW(nullptr);
  // The launcher's texts are English: every language ends up there.
  for (uint16_t language : {0x0409, 0x0407, 0x0807, 0x0401, 0x0400, 0})
    EXPECT_EQ(resource_string(self, kOk, language), L"&OK") << language;
  EXPECT_EQ(resource_string(self, 0x10000 + kOk, 0x0409), L"");  // beyond string ids
  SetLastError(1234);
  EXPECT_EQ(resource_string(self, 60001, 0x0409), L"");
  EXPECT_EQ(GetLastError(), 1234u);  // callers still read their own error

  // A module with translated string blocks: the language's own block wins, and a
  // regional variant finds its primary language's block.
  HMODULE shell = LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(shell);
  unsigned found = 0;
  for (unsigned id = 1; id < 0x4000 && !found; ++id) {
    std::wstring de = resource_string(shell, id, 0x0407), en = resource_string(shell, id, 0x0409);
    if (!de.empty() && !en.empty() && de != en) found = id;
  }
  if (found) {
    EXPECT_EQ(resource_string(shell, found, 0x0807), resource_string(shell, found, 0x0407));
  }
  FreeLibrary(shell);
  if (!found) GTEST_SKIP() << "no German string block in shell32.dll";
}

TEST_F(LanguageFiles, LanguageNamesFromEverySourceInOrder) {
  table(0x0407, L"[Languages]\r\n0x0407=Deutsch\r\n0x0410=\r\n0x0416=" + std::wstring(5000, L'n') + L"\r\n");
  setup_ini(L"[0x040c]\r\n0x040c=Fran\u00e7ais\r\n[0x0409]\r\n0x0410=Italian\r\n0x040c=French\r\n");
  settings_.ui_language = 0x0407;
  wchar_t system[260] = {};
  VerLanguageNameW(0x0411, system, 260);
  struct Row {
    uint16_t language;
    std::wstring want;
  } rows[] = {
      {0x0407, L"Deutsch"},           // the current language's file
      {0x040c, L"Fran\u00e7ais"},     // setup.ini, the language's own section
      {0x0410, L"Italian"},           // setup.ini, section 0x0409 (the file's text is empty)
      {0x0411, system},               // the system's name
      {0x0416, std::wstring(259, L'n')},  // cut to what the system's buffer holds
  };
  for (const Row& r : rows) EXPECT_EQ(language_name(settings_, r.language), r.want) << r.language;
  EXPECT_FALSE(std::wstring(system).empty());
}

TEST_F(LanguageFiles, DialogFontOfTheLanguage) {
  table(0x0407, L"[Properties]\r\nFontName=Arial\r\nFontSize=11\r\n");
  table(0x040c, L"[Properties]\r\nFontName=\r\nFontSize=junk\r\n");
  struct Row {
    uint16_t language;
    std::wstring face;
    int size;
  } rows[] = {{0x0407, L"Arial", 11}, {0x040c, L"Tahoma", 8}, {0x0409, L"Tahoma", 8}};
  for (const Row& r : rows) {
    lang::DialogFontSpec f = dialog_font(settings_, r.language);
    EXPECT_EQ(f.face, r.face) << r.language;
    EXPECT_EQ(f.size, r.size) << r.language;
  }
}

TEST(LanguageCharset, FromTheDefaultAnsiCodePage) {
  struct Row {
    uint16_t language;
    BYTE charset;
  } rows[] = {
      {0x0409, ANSI_CHARSET},   {0x0407, ANSI_CHARSET},     {0x0411, SHIFTJIS_CHARSET},
      {0x0401, ARABIC_CHARSET}, {0x040D, HEBREW_CHARSET},   {0x0804, GB2312_CHARSET},
      {0x0419, RUSSIAN_CHARSET}, {0x0408, GREEK_CHARSET},
  };
  for (const Row& r : rows) EXPECT_EQ(language_charset(r.language), r.charset) << r.language;
  bool installed = true;
  EXPECT_EQ(language_code_page(0x0411, &installed), 932u);
  EXPECT_TRUE(installed);
  // A language without an ANSI code page, or no locale at all, keeps the last answer.
  ASSERT_EQ(language_charset(0x0411), SHIFTJIS_CHARSET);
  EXPECT_EQ(language_charset(0x0439), SHIFTJIS_CHARSET);  // Hindi: Unicode only
  EXPECT_EQ(language_charset(0x0fff), SHIFTJIS_CHARSET);
  EXPECT_EQ(language_code_page(0x0fff, &installed), 0u);
  EXPECT_FALSE(installed);
}

TEST_F(LanguageFiles, WizardCaption) {
  settings_.ui_language = 0x0409;
  EXPECT_EQ(wizard_caption(settings_, false), L"Brackenwright Wizard");
  settings_.product_name = L"Foo";
  EXPECT_EQ(wizard_caption(settings_, false), L"Foo - Brackenwright Wizard");
  EXPECT_EQ(wizard_caption(settings_, true), L"Brackenwright Wizard");
  // A translated caption without the product family's name gets it appended.
  table(0x0407, L"[0x0407]\r\n1887=%s Installationsassistent\r\n1815=Assistent\r\n");
  settings_.ui_language = 0x0407;
  EXPECT_EQ(wizard_caption(settings_, false), L"Foo Installationsassistent Brackenwright Wizard");
  EXPECT_EQ(wizard_caption(settings_, true), L"Assistent Brackenwright Wizard");
}

TEST_F(LanguageFiles, CodePageCheck) {
  std::wstring text = L"untouched";
  settings_.ui_language = 0x0409;
  EXPECT_EQ(check_code_page(settings_, &text), 0);
  EXPECT_EQ(text, L"untouched");
  settings_.ui_language = 0x0411;
  EXPECT_EQ(check_code_page(settings_, &text), 0);

  // A language that is no installed locale: error 1208 naming the language.
  settings_.ui_language = 0x0fff;
  EXPECT_EQ(check_code_page(settings_, &text), 1208);
  EXPECT_EQ(text.find(L"%s"), std::wstring::npos) << text;
  EXPECT_EQ(text.rfind(L"ANSI code page for ", 0), 0u) << text;
  table(0x0fff, L"[0x0fff]\r\n1208=Codepage %s fehlt (%s)\r\n[Languages]\r\n0x0fff=Klingonisch\r\n");
  EXPECT_EQ(check_code_page(settings_, &text), 1208);
  EXPECT_EQ(text, L"Codepage Klingonisch fehlt (%s)");
  EXPECT_EQ(check_code_page(settings_, nullptr), 1208);
}

TEST(SelectTransform, CasesOfTheTransformSource) {
  struct Row {
    const char* name;
    size_t languages;
    bool patch, in_stream, extracts;
    std::wstring source_folder;
    int script_driven;
    bool ok;
    std::wstring value6, switch_text;  // empty switch_text: no switch
    std::wstring extracted_to;
    std::wstring temp_folder = L"C:\\t";
  } rows[] = {
      {"in stream", 2, false, true, true, L"", 0, true, L"C:\\t\\1031.MST", L"C:\\t\\1031.MST", L"C:\\t\\1031.MST"},
      {"in stream, script 3", 2, false, true, true, L"", 3, true, L"C:\\t\\1031.MST", L"\"C:\\t\\1031.MST\"",
       L"C:\\t\\1031.MST"},
      {"extraction fails", 2, false, true, false, L"", 0, false, L"C:\\t\\1031.MST", L"", L"C:\\t\\1031.MST"},
      {"source folder", 2, false, false, false, L"D:\\media\\", 0, true, L"D:\\media\\1031.MST",
       L"D:\\media\\1031.MST", L""},
      {"beside the launcher", 3, false, false, false, L"", 0, true, L"1031.MST", L"", L""},
      {"one language", 1, false, true, true, L"D:\\m", 0, true, L"", L"", L""},
      {"patch", 2, true, true, true, L"D:\\m", 0, true, L"", L"", L""},
      // No temporary folder: never the bare name, which would land in the current
      // folder, but an empty target, which the extraction refuses and reports.
      {"no temporary folder", 2, false, true, true, L"", 0, false, L"", L"", L"(empty)", L""},
  };
  for (const Row& r : rows) {
    LaunchSettings s;
    s.ui_language = 0x0407;
    s.supported_languages.assign(r.languages, 0);
    for (size_t i = 0; i < r.languages; ++i) s.supported_languages[i] = static_cast<uint16_t>(0x0407 + i);
    std::wstring value6, switch_text, extracted;
    bool quoted = false;
    int switches = 0;
    TransformHost host;
    host.stream_contains = [&](const std::wstring& name) { return r.in_stream && name == L"1031.MST"; };
    host.extract = [&](const std::wstring&, const std::wstring& p) {
      extracted = p.empty() ? L"(empty)" : p;
      return r.extracts;
    };
    host.set_value = [&](uint32_t id, const std::wstring& v) {
      EXPECT_EQ(id, 6u);
      value6 = v;
    };
    host.add_switch = [&](const std::wstring& sw, const std::wstring& t, bool q) {
      EXPECT_EQ(sw, L"/LangTransform");
      switch_text = t;
      quoted = q;
      ++switches;
    };
    host.temp_folder = r.temp_folder;
    host.source_folder = r.source_folder;
    host.patch = r.patch;
    host.script_driven = r.script_driven;
    EXPECT_EQ(select_transform(s, host), r.ok) << r.name;
    EXPECT_EQ(value6, r.value6) << r.name;
    EXPECT_EQ(switch_text, r.switch_text) << r.name;
    EXPECT_EQ(extracted, r.extracted_to) << r.name;
    EXPECT_LE(switches, 1) << r.name;
    if (switches) {
      EXPECT_TRUE(quoted) << r.name;
    }
  }
}

// Uninstall entries of made-up products, removed afterwards.
class PreviousInstallation : public testing::Test {
 protected:
  static constexpr wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  void TearDown() override {
    for (const std::wstring& k : keys_)
      for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (kUninstall + k).c_str(), view, 0);
  }
  void entry(const std::wstring& name, const std::wstring& uninstall, REGSAM view = 0) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kUninstall + name).c_str(), 0, nullptr, 0, KEY_SET_VALUE | view,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    keys_.push_back(name);
    RegSetValueExW(key, L"UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(uninstall.c_str()),
                   static_cast<DWORD>((uninstall.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
  std::vector<std::wstring> keys_;
};

TEST_F(PreviousInstallation, ChooseLanguageTakesEachSourceInOrder) {
  const std::wstring product = L"{6E1F0C57-1C1D-4A53-9B2B-7E0C2D4A1001}";
  const std::wstring guid = L"{6E1F0C57-1C1D-4A53-9B2B-7E0C2D4A1002}";
  entry(product, L"\"C:\\Program Files\\Foo\\setup.exe\" /x /l1036");
  entry(guid, L"\"C:\\Foo\\setup.exe\" /s /l0x0407 /x");

  enum Flag { none, command_line, previous };
  struct Row {
    const char* name;
    uint16_t command_line, requested;
    int script_driven;
    std::wstring install_guid;
    lang::LanguageFacts facts;
    uint16_t want;
    Flag flag;
  } rows[] = {
      {"command line", 0x0407, 0x040c, 4, L"", {0x0409, 0x0409, 0x0409}, 0x0407, command_line},
      {"unsupported command line: installed product", 0x0411, 0x040c, 0, L"", {0x0409, 0x0409, 0x0409}, 0x040c,
       previous},
      {"uninstall string of the product code", 0, 0, 4, L"", {0x0409, 0x0409, 0x0409}, 0x040c, previous},
      {"uninstall string of InstallGUID", 0, 0, 4, guid, {0x0409, 0x0409, 0x0409}, 0x0407, previous},
      {"uninstall string only for script-driven 4", 0, 0, 1, L"", {0x0409, 0x0409, 0x0409}, 0x0409, none},
      {"user's language, matched", 0, 0, 0, L"", {0x0807, 0x0409, 0x0409}, 0x0407, none},
      {"system's language", 0, 0, 0, L"", {0x0411, 0x0c0c, 0x0409}, 0x040c, none},
      {"system UI language", 0, 0, 0, L"", {0x0411, 0x0412, 0x0409}, 0x0409, none},
      {"default, unmatched", 0, 0, 0, L"", {0x0411, 0x0412, 0x0413}, 0x0419, none},
  };
  for (const Row& r : rows) {
    LaunchSettings s;
    s.supported_languages = {0x0407, 0x0409, 0x040c};
    s.default_language = 0x0419;
    s.requested_language = r.command_line;
    s.script_driven = r.script_driven;
    s.product_code = product;
    s.install_guid = r.install_guid;
    EXPECT_EQ(choose_language(s, r.requested, r.facts), r.want) << r.name;
    EXPECT_EQ(s.ui_language, r.want) << r.name;
    EXPECT_EQ(s.language_from_command_line, r.flag == command_line) << r.name;
    EXPECT_EQ(s.language_from_previous_install, r.flag == previous) << r.name;
  }

  // The machine's own languages: whatever they are, the choice is a supported one
  // or the default.
  LaunchSettings s;
  s.supported_languages = {0x0407, 0x0409, 0x040c};
  s.default_language = 0x0419;
  uint16_t chosen = choose_language(s, 0);
  EXPECT_TRUE(chosen == 0x0407 || chosen == 0x0409 || chosen == 0x040c || chosen == 0x0419) << chosen;
  s.product_code = L"{6E1F0C57-1C1D-4A53-9B2B-7E0C2D4A1003}";  // nothing installed
  EXPECT_EQ(previous_installation_language(s), 0);
}

TEST_F(PreviousInstallation, BothRegistryViewsThePackagesOwnFirst) {
  const std::wstring product = L"{6E1F0C57-1C1D-4A53-9B2B-7E0C2D4A1004}";
  LaunchSettings s;
  s.product_code = product;
  entry(product, L"\"C:\\Foo\\setup.exe\" /l1036", KEY_WOW64_32KEY);
  EXPECT_EQ(previous_installation_language(s), 0x040c);  // only where a 32-bit package writes it
  entry(product, L"\"C:\\Foo\\setup.exe\" /l0x0407", KEY_WOW64_64KEY);
  EXPECT_EQ(previous_installation_language(s), 0x040c);
  s.package_64bit = true;
  EXPECT_EQ(previous_installation_language(s), 0x0407);
}

// Damaged or strange string tables: texts fall back to the resources or come out
// cut, never a crash.
TEST_F(LanguageFiles, HostileStringTablesNeverCrash) {
  std::string huge_value = "\xEF\xBB\xBF[0x0407]\r\n1813=" + std::string(3 << 20, 'x') + "\r\n";
  std::string utf16_no_mark;
  for (char c : std::string("[0x0407]\r\n1813=Weiter\r\n")) utf16_no_mark += {c, '\0'};
  std::string junk;
  for (int i = 0; i < 70000; ++i) junk += static_cast<char>((i * 7919) >> 3);
  struct Row {
    const char* name;
    std::string bytes;
    std::wstring want;  // empty: either the file's text or the resource, within the limit
  } rows[] = {
      {"huge value", huge_value, std::wstring(lang::kMaxTextLength, L'x')},
      {"no sections", "1813=Weiter\r\n[", L"&OK"},
      {"binary junk", junk, L""},
      {"UTF-16 without mark", utf16_no_mark, L""},
      {"open section header", "[0x0407\r\n1813=Weiter\r\n", L"&OK"},
      {"empty", "", L"&OK"},
      {"NUL bytes", std::string(5000, '\0'), L"&OK"},
      {"huge header", "[" + std::string(1 << 20, '0') + "]\r\n1813=x\r\n", L"&OK"},
      {"keys only", "[0x0407]\r\n1813\r\n1813\r\n", L"&OK"},
  };
  settings_.ui_language = 0x0407;
  for (const Row& r : rows) {
    write_file(path(L"0x0407.ini"), r.bytes);
    std::wstring text = load_string(settings_, kOk);
    if (!r.want.empty()) {
      EXPECT_EQ(text, r.want) << r.name;
    } else {
      EXPECT_FALSE(text.empty()) << r.name;
      EXPECT_LE(text.size(), lang::kMaxTextLength) << r.name;
    }
    EXPECT_LE(language_name(settings_, 0x0407).size(), lang::kMaxLanguageNameLength) << r.name;
    lang::DialogFontSpec f = dialog_font(settings_, 0x0407);
    EXPECT_LE(f.face.size(), lang::kMaxFaceLength) << r.name;
    EXPECT_TRUE(f.size >= 1 && f.size <= 72) << r.name;
    EXPECT_FALSE(wizard_caption(settings_, false).empty()) << r.name;
  }

  // A right-to-left language: its texts as written, its layout flag from RTLLangs.
  table(0x0401, L"[0x0401]\r\n1813=\u0645\u0648\u0627\u0641\u0642\r\n[Properties]\r\nFontName=Arial\r\n");
  settings_.rtl_languages = lang::parse_language_list(L"0x0401,0x040d");
  settings_.ui_language = 0x0401;
  EXPECT_EQ(load_string(settings_, kOk), L"\u0645\u0648\u0627\u0641\u0642");
  EXPECT_TRUE(is_rtl_language(settings_, 0x0401));
  EXPECT_FALSE(is_rtl_language(settings_, 0x0407));
  EXPECT_EQ(language_charset(0x0401), ARABIC_CHARSET);
}

}  // namespace
