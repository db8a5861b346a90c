// portable
#include "package/settings_rules.h"

#include "package/LaunchSettings.h"
#include "package/inifilex.h"
#include "package/language_rules.h"
#include "support/number_text.h"
#include "support/zstring.h"

namespace settings_rules {

const wchar_t kDefaultErrorReportUrl[] =
    L"https://support.brackenwright.com/setup/report.asp?ErrorCode=%d : 0x%x&ErrorInfo=%s";
const wchar_t kDefaultLauncherName[] = L"setup.exe";

void apply_launch_settings(LaunchSettings& s, qz::inifilex& doc, bool all_users_default) {
  const std::wstring st = L"Startup";
  s.script_driven = doc.get_int(st, L"ScriptDriven", 4);
  const bool all = s.script_driven == 4;
  s.product_name = doc.get_string(st, L"Product", L"");
  s.product_code = doc.get_string(st, all ? L"ProductGUID" : L"ProductCode", L"");
  if (all) {
    s.media_format = doc.get_int(st, L"MediaFormat", 0);
    s.log_mode = doc.get_int(st, L"LogMode", 1);
    s.splash_time = doc.get_int(st, L"SplashTime", 5);
    s.all_users = doc.get_bool(st, L"AllUsers", all_users_default);
    s.small_progress = doc.get_bool(st, L"SmallProgress", false);
    s.show_password_dialog = doc.get_bool(st, L"ShowPasswordDialog", false);
    s.check_md5 = doc.get_bool(st, L"CheckMD5", true);
    s.company_name = doc.get_string(st, L"CompanyName", L"");
    s.company_url = doc.get_string(st, L"CompanyURL", L"");
    s.skin = doc.get_string(st, L"Skin", L"");
    s.error_report_location = doc.get_string(st, L"ErrorReportURL", kDefaultErrorReportUrl);
    s.install_guid = doc.get_string(st, L"InstallGUID", s.install_guid);
    s.launcher_name = doc.get_string(st, L"LauncherName", kDefaultLauncherName);
    s.custom_return_codes = doc.get_bool(st, L"CustomRetCode", false);
    if (s.custom_return_codes) {
      s.custom_code_on_success = doc.get_int(st, L"CustomRetCodeOnSuccess", -1);
      s.custom_code_on_fail = doc.get_int(st, L"CustomRetCodeOnFail", -1);
      s.custom_code_on_abort = doc.get_int(st, L"CustomRetCodeOnAbort", -1);
    }
    std::wstring cmdline = doc.get_string(st, L"cmdline", L"");
    if (!cmdline.empty()) {
      s.apply_settings_switches(cmdline);
      if (!cmdline.empty()) s.extra_command_line += L" " + cmdline;
    }
  }
  s.language_dialog = doc.get_bool(st, L"EnableLangDlg", false);
  const std::wstring languages = L"Languages";
  s.default_language = static_cast<uint16_t>(doc.get_int(languages, L"Default", 9));
  s.supported_languages = lang::parse_language_list(doc.get_string(languages, L"Supported", L""));
  std::wstring exact = doc.get_string(languages, L"RequireExactLangMatch", L"");
  s.exact_match_all = lang::is_all_languages(exact);
  s.exact_match_languages = s.exact_match_all ? std::vector<uint16_t>() : lang::parse_language_list(exact);
  s.rtl_languages = lang::parse_language_list(doc.get_string(languages, L"RTLLangs", L""));
}

int setting_int(std::wstring_view text, int default_value, int radix) {
  if (text.empty()) return default_value;
  return qz::parse_long32(text, radix);
}

bool is_secret_key(std::wstring_view key) { return wide_iequals(key, L"Password"); }

bool expansion_keeps_quotes(const std::wstring& text, const std::wstring& expanded,
                            const std::function<std::wstring(const std::wstring&)>& expand) {
  std::wstring joined;
  size_t start = 0;
  for (;;) {
    const size_t quote = text.find(L'"', start);
    const std::wstring part = expand(text.substr(start, quote == std::wstring::npos ? quote : quote - start));
    if (part.find(L'"') != std::wstring::npos) return false;
    joined += part;
    if (quote == std::wstring::npos) break;
    joined += L'"';
    start = quote + 1;
  }
  return joined == expanded;
}

bool is_click_once(std::wstring_view value) { return !value.empty() && value[0] != L' '; }

int upgrade_policy(int on_upgrade, bool silent_or_auto) {
  if (on_upgrade == 1) return silent_or_auto ? 1 : 0;
  if (on_upgrade == 2) return 1;
  return 2;
}

}  // namespace settings_rules
