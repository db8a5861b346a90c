#include "package/languages.h"

#include <algorithm>
#include <map>
#include <memory>

#include "package/IniProfile.h"
#include "package/LaunchSettings.h"
#include "package/dialog_factory.h"
#include "package/file_stamp.h"
#include "package/inifilex.h"
#include "package/load_string.h"
#include "package/string_table.h"
#include "support/debuglog.h"
#include "support/dynload.h"
#include "support/number_text.h"
#include "support/process_state.h"
#include "support/support_rules.h"
#include "support/utils.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"package\\languages";

namespace {

constexpr unsigned kTextWizard = 1815;
constexpr unsigned kTextProductWizard = 1887;
constexpr unsigned kErrorCodePage = 1208;
std::shared_ptr<qz::IniProfile> setup_profile(const std::wstring& path) {
  static std::map<std::wstring, qz::StampedDocument<qz::IniProfile>> cache;
  qz::FileStamp stamp;
  DWORD keep = GetLastError();
  if (path.empty() || !qz::stamp_of(path, &stamp)) {
    SetLastError(keep);
    return nullptr;
  }
  auto it = cache.find(path);
  if (it != cache.end() && it->second.stamp == stamp) return it->second.doc;
  auto doc = std::make_shared<qz::IniProfile>(path);
  bool loaded = false;
  try {
    loaded = doc->load();
  } catch (...) {
    loaded = false;
  }
  SetLastError(keep);
  if (!loaded) return nullptr;
  cache[path] = {stamp, doc};
  return doc;
}

std::wstring profile_text(const std::wstring& ini, const std::wstring& section, const std::wstring& key) {
  auto doc = setup_profile(ini);
  if (!doc) return std::wstring();
  auto v = doc->find(section, key);
  return v ? lang::cut_text(*v, lang::kMaxTextLength) : std::wstring();
}

}  // namespace

// --- settings and choice ---

lang::LanguageSets language_sets(const LaunchSettings& settings) {
  lang::LanguageSets sets;
  sets.supported = settings.supported_languages;
  std::sort(sets.supported.begin(), sets.supported.end());
  sets.exact = settings.exact_match_languages;
  sets.exact_for_all = settings.exact_match_all;
  return sets;
}

bool match_language(const LaunchSettings& settings, uint16_t& id) { return lang::match_language(language_sets(settings), id); }

lang::LanguageFacts system_language_facts() {
  lang::LanguageFacts facts;
  facts.user_default = GetUserDefaultLangID();
  facts.system_default = GetSystemDefaultLangID();
  facts.system_ui = qz::SystemDefaultUILanguage();
  return facts;
}

uint16_t previous_installation_language(LaunchSettings& settings) {
  const std::wstring& name = !settings.install_guid.empty() ? settings.install_guid : settings.product_code;
  if (name.empty()) return 0;
  const std::wstring key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + name;
  // A package registers in the view of its own platform: that one first.
  const REGSAM own = settings.package_64bit ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
  const REGSAM other = settings.package_64bit ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  for (REGSAM view : {own, other}) {
    std::wstring uninstall;
    if (qz::RegQueryString(HKEY_LOCAL_MACHINE, key, L"UninstallString", view, &uninstall) != ERROR_SUCCESS) continue;
    uint16_t id = lang::uninstall_string_language(uninstall);
    QZ_LOG(L"Language of the previous installation: %d", id);
    return id;
  }
  return 0;
}

uint16_t choose_language(LaunchSettings& settings, uint16_t requested, const lang::LanguageFacts& facts) {
  if (requested == 0 && settings.script_driven == 4) requested = previous_installation_language(settings);
  lang::LanguageChoice choice =
      lang::choose_language(language_sets(settings), facts, settings.requested_language, requested,
                            settings.default_language);
  if (choice.source == lang::LanguageSource::command_line) settings.language_from_command_line = true;
  if (choice.source == lang::LanguageSource::requested) settings.language_from_previous_install = true;
  settings.ui_language = choice.id;
  QZ_LOG(L"UI language: %d (source %d)", choice.id, static_cast<int>(choice.source));
  return choice.id;
}

uint16_t choose_language(LaunchSettings& settings, uint16_t requested) {
  return choose_language(settings, requested, system_language_facts());
}

// --- texts ---

std::wstring language_name(const LaunchSettings& settings, uint16_t language) {
  const std::wstring key = lang::language_key(language);
  std::wstring name;
  if (settings.ui_language != 0) name = string_table_text(settings, settings.ui_language, L"Languages", key);
  if (name.empty()) name = profile_text(settings.setup_ini_path, key, key);
  if (name.empty()) name = profile_text(settings.setup_ini_path, L"0x0409", key);
  if (name.empty()) {
    wchar_t buffer[lang::kMaxLanguageNameLength + 1] = {};
    // Looked up in kernel32, which exports it too: the launcher imports no VERSION.dll.
    using VerLanguageNameFn = DWORD(WINAPI*)(DWORD, LPWSTR, DWORD);
    auto ver_language_name = qz::bound<VerLanguageNameFn>(qz::kernel32_export("VerLanguageNameW"));
    DWORD n = ver_language_name
                  ? ver_language_name(language, buffer, static_cast<DWORD>(lang::kMaxLanguageNameLength + 1))
                  : 0;
    if (n > lang::kMaxLanguageNameLength) n = static_cast<DWORD>(lang::kMaxLanguageNameLength);
    // Some systems count the terminator in the length; the name ends at it.
    name.assign(buffer, wcsnlen(buffer, n));
  }
  return lang::cut_text(name, lang::kMaxLanguageNameLength);
}

bool is_rtl_language(const LaunchSettings& settings, uint16_t language) {
  return std::find(settings.rtl_languages.begin(), settings.rtl_languages.end(), language) !=
         settings.rtl_languages.end();
}

UINT language_code_page(uint16_t language, bool* installed) {
  const LCID locale = MAKELCID(language, SORT_DEFAULT);
  if (installed) *installed = IsValidLocale(locale, LCID_INSTALLED) != FALSE;
  wchar_t text[8] = {};
  if (!GetLocaleInfoW(locale, LOCALE_IDEFAULTANSICODEPAGE, text, 8)) return 0;
  return static_cast<UINT>(qz::parse_long32(text, 10));
}

BYTE language_charset(uint16_t language) {
  // The answer for a language whose code page cannot be translated.
  static BYTE last_found = ANSI_CHARSET;
  bool installed = false;
  UINT code_page = language_code_page(language, &installed);
  if (code_page == 0) return last_found;
  CHARSETINFO info{};
  if (TranslateCharsetInfo(reinterpret_cast<DWORD*>(static_cast<uintptr_t>(code_page)), &info, TCI_SRCCODEPAGE)) {
    last_found = static_cast<BYTE>(info.ciCharset);
    return last_found;
  }
  return installed ? static_cast<BYTE>(ANSI_CHARSET) : last_found;
}

std::wstring wizard_caption(const LaunchSettings& settings, bool force_generic) {
  return lang::wizard_caption(force_generic, settings.product_name, load_string(settings, kTextWizard),
                              load_string(settings, kTextProductWizard));
}

// --- language dialog ---

// --- code page and transform ---

int check_code_page(const LaunchSettings& settings, std::wstring* text) {
  bool installed = false;
  UINT code_page = language_code_page(settings.ui_language, &installed);
  QZ_LOG(L"Default language: %d, got code page %d", settings.ui_language, static_cast<int>(code_page));
  if (installed) return 0;
  if (text) {
    std::wstring message = load_string(settings, kErrorCodePage);
    size_t at = message.find(L"%s");
    if (at != std::wstring::npos) message.replace(at, 2, language_name(settings, settings.ui_language));
    *text = message;
  }
  return static_cast<int>(kErrorCodePage);
}

bool select_transform(const LaunchSettings& settings, const TransformHost& host) {
  if (!lang::wants_transform(settings.supported_languages.size(), host.patch)) return true;
  const std::wstring name = lang::transform_name(settings.ui_language);
  if (host.stream_contains && host.stream_contains(name)) {
    QZ_LOG(L"Language transforms in stream");
    // Without a temporary folder the bare name would land in the current folder:
    // the empty target lets the extraction itself refuse and report it.
    if (host.temp_folder.empty()) {
      if (host.extract) host.extract(name, std::wstring());
      return false;
    }
    std::wstring path = zpath(host.temp_folder).join(name);
    if (host.set_value) host.set_value(6, path);
    if (!host.extract || !host.extract(name, path)) return false;
    std::wstring used = host.script_driven == 3 ? L"\"" + path + L"\"" : path;
    if (host.add_switch) host.add_switch(L"/LangTransform", used, true);
    return true;
  }
  if (!host.source_folder.empty()) {
    std::wstring path = zpath(host.source_folder).join(name);
    if (host.set_value) host.set_value(6, path);
    if (host.add_switch) host.add_switch(L"/LangTransform", path, true);
  } else if (host.set_value) {
    // 64-bit systems are never of the Windows 9x family, so the web-location case
    // of those systems does not arise here.
    host.set_value(6, name);
  }
  QZ_LOG(L"Using language transforms from setup.exe location");
  return true;
}
