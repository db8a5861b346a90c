// portable
#include "package/settings_rules.h"

#include <gtest/gtest.h>

#include <string>

#include "package/IniProfile.h"
#include "package/LaunchSettings.h"
#include "package/inifilex.h"

using namespace settings_rules;

namespace {

qz::Bytes bytes_of(const std::string& s) { return qz::Bytes(s.begin(), s.end()); }

LaunchSettings read(const std::string& text, bool admin = true) {
  qz::inifilex doc;
  qz::Bytes b = bytes_of(text);
  doc.load_bytes(b, L"=", false);
  LaunchSettings s;
  s.install_guid = L"{from-command-line}";
  apply_launch_settings(s, doc, admin);
  return s;
}

std::wstring on_demand(const std::string& text, const wchar_t* section, const wchar_t* key) {
  qz::IniProfile p;
  qz::Bytes b = bytes_of(text);
  p.load_bytes(b, qz::latin1_decode);
  wchar_t buf[1024];
  p.get_string(section, key, L"<default>", buf, 1024);
  return buf;
}

}  // namespace

TEST(SettingsLaunch, NoScriptDrivenFillsEveryKey) {
  LaunchSettings s = read(
      "[Startup]\r\nProduct=Widget\r\nProductGUID={guid}\r\nProductCode={code}\r\nMediaFormat=2\r\nLogMode=0\r\n"
      "SplashTime=0x10\r\nAllUsers=no\r\nSmallProgress=Y\r\nShowPasswordDialog=true\r\nCheckMD5=0\r\n"
      "CompanyName=Acme\r\nCompanyURL=http://acme\r\nSkin=blue.skn\r\nErrorReportURL=http://r\r\nInstallGUID={ig}\r\n"
      "LauncherName=go.exe\r\nCustomRetCode=yes\r\nCustomRetCodeOnSuccess=0x10\r\nCustomRetCodeOnFail=7\r\n"
      "EnableLangDlg=Yes\r\ncmdline=/s /keep\r\n"
      "[Languages]\r\nDefault=0x0407\r\nSupported=1031,1033\r\nRequireExactLangMatch=1031\r\nRTLLangs=0x040d\r\n");
  EXPECT_EQ(s.script_driven, 4);
  EXPECT_EQ(s.product_name, L"Widget");
  EXPECT_EQ(s.product_code, L"{guid}");  // ProductGUID when ScriptDriven is 4
  EXPECT_EQ(s.media_format, 2);
  EXPECT_EQ(s.log_mode, 0);
  EXPECT_EQ(s.splash_time, 16);
  EXPECT_FALSE(s.all_users);
  EXPECT_TRUE(s.small_progress && s.show_password_dialog);
  EXPECT_FALSE(s.check_md5);
  EXPECT_EQ(s.company_name, L"Acme");
  EXPECT_EQ(s.company_url, L"http://acme");
  EXPECT_EQ(s.skin, L"blue.skn");
  EXPECT_EQ(s.error_report_location, L"http://r");
  EXPECT_EQ(s.install_guid, L"{ig}");
  EXPECT_EQ(s.launcher_name, L"go.exe");
  EXPECT_TRUE(s.custom_return_codes);
  EXPECT_EQ(s.custom_code_on_success, 16);
  EXPECT_EQ(s.custom_code_on_fail, 7);
  EXPECT_EQ(s.custom_code_on_abort, -1);
  EXPECT_TRUE(s.silent);  // the cmdline switches are applied
  EXPECT_EQ(s.extra_command_line, L" /s /keep");  // appended after a blank
  EXPECT_TRUE(s.language_dialog);
  EXPECT_EQ(s.default_language, 0x0407);
  EXPECT_EQ(s.supported_languages, (std::vector<uint16_t>{1031, 1033}));
  EXPECT_EQ(s.exact_match_languages, (std::vector<uint16_t>{1031}));
  EXPECT_FALSE(s.exact_match_all);
  EXPECT_EQ(s.rtl_languages, (std::vector<uint16_t>{0x040d}));
}

TEST(SettingsLaunch, DefaultsOfAnEmptyStartup) {
  for (bool admin : {true, false}) {
    LaunchSettings s = read("[Startup]\r\n", admin);
    EXPECT_EQ(s.script_driven, 4);
    EXPECT_EQ(s.splash_time, 5);
    EXPECT_EQ(s.log_mode, 1);
    EXPECT_EQ(s.all_users, admin);
    EXPECT_TRUE(s.check_md5);
    EXPECT_EQ(s.launcher_name, L"setup.exe");
    EXPECT_EQ(s.error_report_location, kDefaultErrorReportUrl);
    EXPECT_EQ(s.install_guid, L"{from-command-line}");
    EXPECT_FALSE(s.custom_return_codes);
    EXPECT_EQ(s.default_language, 9);
    EXPECT_TRUE(s.supported_languages.empty());
    EXPECT_FALSE(s.language_dialog);
  }
}

TEST(SettingsLaunch, OtherScriptDrivenReadsOnlyIdentity) {
  const std::string ini =
      "[Startup]\r\nScriptDriven=0\r\nProduct=W\r\nProductGUID={guid}\r\nProductCode={code}\r\nSplashTime=9\r\n"
      "CheckMD5=No\r\nLauncherName=x.exe\r\nCustomRetCode=Y\r\ncmdline=/s\r\nPackageName=a.msi\r\n"
      "[Languages]\r\nSupported=1033\r\n";
  LaunchSettings s = read(ini);
  EXPECT_EQ(s.script_driven, 0);
  EXPECT_EQ(s.product_name, L"W");
  EXPECT_EQ(s.product_code, L"{code}");
  EXPECT_EQ(s.splash_time, 5);
  EXPECT_FALSE(s.check_md5);  // the record's own initial value, not the key
  EXPECT_TRUE(s.launcher_name.empty());
  EXPECT_FALSE(s.custom_return_codes);
  EXPECT_FALSE(s.silent);
  EXPECT_EQ(s.supported_languages, (std::vector<uint16_t>{1033}));  // Languages are always read
  // The on-demand reader sees the 0.
  EXPECT_EQ(setting_int(on_demand(ini, L"Startup", L"ScriptDriven"), 0, 10), 0);
}

TEST(SettingsLaunch, HexadecimalOnlyThroughTheLaunchSettingsReader) {
  const std::string ini = "[Startup]\r\nSplashTime=0x10\r\n";
  EXPECT_EQ(read(ini).splash_time, 16);
  EXPECT_EQ(setting_int(on_demand(ini, L"Startup", L"SplashTime"), 5, 10), 0);
  EXPECT_EQ(setting_int(L"", 5, 10), 5);
  EXPECT_EQ(setting_int(L"12abc", 5, 10), 12);
}

TEST(SettingsLaunch, RepeatedKeysAndWhereEnableLangDlgLives) {
  const std::string ini =
      "[Startup]\r\nPackageName=first.msi\r\nProduct=One\r\nProduct=Two\r\nPackageName=last.msi  \r\n"
      "[Languages]\r\nEnableLangDlg=Yes\r\n";
  EXPECT_EQ(on_demand(ini, L"Startup", L"PackageName"), L"last.msi");
  LaunchSettings s = read(ini);
  EXPECT_EQ(s.product_name, L"One");  // inifilex keeps the first
  EXPECT_FALSE(s.language_dialog);    // only Startup's EnableLangDlg counts
  EXPECT_EQ(on_demand(ini, L"Startup", L"Missing"), L"");  // missing key of a present section
  EXPECT_EQ(on_demand(ini, L"Nowhere", L"Missing"), L"<default>");
}

TEST(SettingsLaunch, RequireExactAllInAnyCase) {
  // inifilex keeps the blanks around a value: " ALL" still means every language.
  for (const char* value : {"all", " ALL\t", "All "}) {
    LaunchSettings s = read(std::string("[Languages]\r\nRequireExactLangMatch=") + value + "\r\n");
    EXPECT_TRUE(s.exact_match_all) << value;
    EXPECT_TRUE(s.exact_match_languages.empty()) << value;
  }
  LaunchSettings s = read("[Languages]\r\nRequireExactLangMatch=ALLx, 1031\r\n");
  EXPECT_FALSE(s.exact_match_all);
  EXPECT_EQ(s.exact_match_languages, (std::vector<uint16_t>{0, 1031}));  // a list after all: "ALLx" reads as 0
}

TEST(SettingsLaunch, HostileFilesNeverCrash) {
  std::string huge = "[Startup]\r\nProduct=" + std::string(200000, 'x') + "\r\nSupported=" + std::string(50000, ',') +
                     "\r\n[Languages]\r\nSupported=" + std::string(100000, ',') + "\r\n";
  std::string junk;
  for (int i = 0; i < 5000; ++i) junk.push_back(static_cast<char>((i * 7919) & 0xFF));
  std::string utf16_no_mark;
  for (char c : std::string("[Startup]\r\nSplashTime=7\r\nPackageName=u.msi\r\n")) {
    utf16_no_mark.push_back(c);
    utf16_no_mark.push_back('\0');
  }
  for (const std::string& text : {huge, junk, std::string("Product=nosection\r\nSplashTime=1\r\n"), utf16_no_mark,
                                  std::string("[Startup"), std::string()}) {
    LaunchSettings s = read(text);
    EXPECT_LE(s.supported_languages.size(), 65536u);
    on_demand(text, L"Startup", L"PackageName");
  }
  EXPECT_EQ(read(huge).product_name.size(), 200000u);
  EXPECT_EQ(read(huge).supported_languages, (std::vector<uint16_t>{0}));
  EXPECT_EQ(on_demand(utf16_no_mark, L"Startup", L"PackageName"), L"u.msi");
  // A key before any section is not a setting.
  EXPECT_EQ(read("Product=nosection\r\n").product_name, L"");
}

TEST(SettingsRules, SecretsClickOnceAndUpgradePolicy) {
  for (const wchar_t* k : {L"Password", L"PASSWORD", L"password"}) EXPECT_TRUE(is_secret_key(k));
  for (const wchar_t* k : {L"Passwords", L"", L"ShowPasswordDialog"}) EXPECT_FALSE(is_secret_key(k));
  EXPECT_TRUE(is_click_once(L"app.application"));
  EXPECT_FALSE(is_click_once(L" app.application"));
  EXPECT_FALSE(is_click_once(L""));
  struct {
    int key;
    bool silent;
    int want;
  } rows[] = {{1, false, 0}, {1, true, 1}, {2, false, 1}, {2, true, 1}, {0, false, 2}, {3, true, 2}};
  for (auto r : rows) EXPECT_EQ(upgrade_policy(r.key, r.silent), r.want) << r.key << r.silent;
}

TEST(SettingsRules, CmdLineExpansionKeepsTheAuthorsQuotes) {
  // A stand-in for the system's expansion: %Q% holds a quote, %P% a plain value;
  // unknown references stay as written.
  auto expand = [](const std::wstring& t) {
    std::wstring out;
    for (size_t i = 0; i < t.size();) {
      size_t close = t[i] == L'%' ? t.find(L'%', i + 1) : std::wstring::npos;
      std::wstring name = close == std::wstring::npos ? L"" : t.substr(i + 1, close - i - 1);
      const wchar_t* value = name == L"Q" ? L"x\" QZ=1 \"" : name == L"P" ? L"C:\\Program Files" : name == L"A\"B" ? L"v" : nullptr;
      if (value) {
        out += value;
        i = close + 1;
      } else {
        out += t[i++];
      }
    }
    return out;
  };
  struct { const wchar_t* text; bool keeps; } rows[] = {
      {L"/qn DIR=\"%P%\\App\" X=1", true},
      {L"/qn %UNKNOWN% \"a\"\"b\"", true},
      {L"", true},
      {L"/qn DIR=\"%Q%\"", false},
      {L"/qn %Q%", false},
      {L"/qn V=%A\"B%", false},  // the quote stands inside a reference
  };
  for (auto& r : rows) EXPECT_EQ(expansion_keeps_quotes(r.text, expand(r.text), expand), r.keeps) << r.text;
}
