// setup.ini as the launch reads it: the Startup and Languages keys into the launch
// settings (inifilex), the custom return codes and the engine-version selection
// (IniProfile, on demand). The input is the file.
#include <algorithm>
#include <array>
#include <map>

#include "exit_code_rules.h"
#include "fuzz_input.h"
#include "msi_rules.h"
#include "os_rules.h"
#include "package/IniProfile.h"
#include "package/LaunchSettings.h"
#include "package/inifilex.h"
#include "package/language_rules.h"
#include "package/settings_rules.h"
#include "support/zstring.h"
#include "switch_rules.h"

namespace {

bool ascending_set(const std::vector<uint16_t>& v) {
  return std::adjacent_find(v.begin(), v.end(), [](uint16_t a, uint16_t b) { return a >= b; }) == v.end();
}

bool trimmed(const std::wstring& text) {
  auto blank = [](wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; };
  return text.empty() || (!blank(text.front()) && !blank(text.back()));
}

void check_launch_settings(qz::ByteView bytes, bool admin) {
  qz::inifilex doc;
  (void)doc.load_bytes(bytes, L"=", false);
  LaunchSettings before;
  before.install_guid = L"{from the command line}";
  before.extra_command_line = L"/from-the-command-line";
  before.silent = true;
  LaunchSettings s = before;
  settings_rules::apply_launch_settings(s, doc, admin);

  const std::wstring st = L"Startup", lang = L"Languages";
  FUZZ_CHECK(s.script_driven == doc.get_int(st, L"ScriptDriven", 4));
  if (s.script_driven != 4) {
    // Only ScriptDriven, Product and ProductCode: everything else keeps what the
    // command line or the defaults gave it.
    FUZZ_CHECK(s.product_code == doc.get_string(st, L"ProductCode", L""));
    FUZZ_CHECK(s.splash_time == before.splash_time && s.log_mode == before.log_mode &&
               s.media_format == before.media_format && s.check_md5 == before.check_md5 &&
               s.all_users == before.all_users && s.custom_return_codes == before.custom_return_codes);
    FUZZ_CHECK(s.install_guid == before.install_guid && s.launcher_name == before.launcher_name &&
               s.error_report_location == before.error_report_location);
    FUZZ_CHECK(s.extra_command_line == before.extra_command_line && s.silent == before.silent);
  } else {
    FUZZ_CHECK(s.product_code == doc.get_string(st, L"ProductGUID", L""));
    FUZZ_CHECK(!s.launcher_name.empty() || doc.key_exists(st, L"LauncherName"));
    // The custom codes are read only when CustomRetCode enables them.
    if (!s.custom_return_codes)
      FUZZ_CHECK(s.custom_code_on_success == -1 && s.custom_code_on_fail == -1 && s.custom_code_on_abort == -1);
    // cmdline: what its switches leave is appended after a blank, trimmed.
    FUZZ_CHECK(s.extra_command_line.compare(0, before.extra_command_line.size(), before.extra_command_line) == 0);
    if (s.extra_command_line.size() > before.extra_command_line.size()) {
      FUZZ_CHECK(s.extra_command_line[before.extra_command_line.size()] == L' ');
      std::wstring added = s.extra_command_line.substr(before.extra_command_line.size() + 1);
      FUZZ_CHECK(!added.empty() && trimmed(added) && added.size() <= doc.get_string(st, L"cmdline", L"").size());
    }
  }
  FUZZ_CHECK(s.product_name == doc.get_string(st, L"Product", L""));

  // The lists are sets, read exactly as the language rules read them.
  FUZZ_CHECK(ascending_set(s.supported_languages) && ascending_set(s.exact_match_languages) &&
             ascending_set(s.rtl_languages));
  FUZZ_CHECK(s.supported_languages == lang::parse_language_list(doc.get_string(lang, L"Supported", L"")));
  FUZZ_CHECK(s.rtl_languages == lang::parse_language_list(doc.get_string(lang, L"RTLLangs", L"")));
  const std::wstring exact = doc.get_string(lang, L"RequireExactLangMatch", L"");
  if (wide_iequals(exact, L"ALL")) FUZZ_CHECK(s.exact_match_all);
  if (s.exact_match_all)
    FUZZ_CHECK(lang::is_all_languages(exact) && s.exact_match_languages.empty());
  else
    FUZZ_CHECK(s.exact_match_languages == lang::parse_language_list(exact));
}

void check_exit_codes(const qz::IniProfile& profile) {
  std::map<std::wstring, int> reads;
  StartupReader read = [&](const std::wstring& key) {
    ++reads[key];
    return profile.find(L"Startup", key).value_or(L"");
  };
  const std::wstring kAbort = L"CustomRetCodeOnAbort", kFail = L"CustomRetCodeOnFail", kSuccess = L"CustomRetCodeOnSuccess";
  for (int code : {0, 1, -1, -3, 1602, 1603, 3010}) {
    for (bool reboot : {false, true}) {
      reads.clear();
      const int mapped = map_custom_exit_code(code, reboot, read);
      const int replaced = reads.count(kAbort) + reads.count(kFail) + reads.count(kSuccess);
      if (reboot || !switch_rules::setting_is_true(read(L"CustomRetCode"))) {
        FUZZ_CHECK(mapped == code && replaced == 0);
        continue;
      }
      // One class per result: a success is never a failure or an abort, and the
      // other classes never take the success code.
      FUZZ_CHECK(replaced == 1);
      if (code == 0) FUZZ_CHECK(reads.count(kSuccess));
      if (code != 0) FUZZ_CHECK(!reads.count(kSuccess));
      if (code == 1603 || code == 1) FUZZ_CHECK(reads.count(kFail));
      const std::wstring& key = reads.count(kAbort) ? kAbort : reads.count(kFail) ? kFail : kSuccess;
      std::wstring value = read(key);
      FUZZ_CHECK(mapped == (value.empty() ? code : switch_rules::parse_int_text(value)));
    }
  }
}

using Parsed = std::array<uint32_t, 4>;
Parsed parsed(std::wstring_view text) {
  msi_rules::Version v = msi_rules::parse_version(text);
  return {v.part[0], v.part[1], v.part[2], v.part[3]};
}

int section_int(const qz::IniProfile& p, const std::wstring& section, const wchar_t* key) {
  wchar_t buffer[64];
  return p.get_int(section.c_str(), key, 0, buffer, 64);
}

// The selection's result against the rule: the highest version with a matching
// operating-system section (the first such key on a tie), else the lowest version
// (the last such key on a tie), every text cut to 19 characters.
void check_engine_selection(const qz::IniProfile& p, const OsRecord& os, const os_rules::CsdReader& csd) {
  std::optional<std::wstring> chosen = os_rules::select_engine_version(p, os, csd);
  const auto& sections = p.sections();
  auto engines = sections.find(L"MsiVersion");
  if (engines == sections.end() || engines->second.empty()) {
    FUZZ_CHECK(!chosen);
    return;
  }
  FUZZ_CHECK(chosen && chosen->size() <= os_rules::kEngineTextCapacity - 1);
  const size_t cut = os_rules::kEngineTextCapacity - 1;
  std::optional<std::pair<Parsed, std::wstring>> best, lowest;
  for (const auto& [key, value] : engines->second) {
    std::wstring version = key.substr(0, cut);
    Parsed v = parsed(version);
    if (!lowest || v <= lowest->first) lowest = {v, version};
    auto listing = sections.find(value.substr(0, cut));
    bool match = false;
    if (listing != sections.end()) {
      for (const auto& entry : listing->second) {
        if (sections.find(entry.first) == sections.end()) continue;
        os_rules::OsRequirement req{section_int(p, entry.first, L"MajorVer"),    section_int(p, entry.first, L"MinorVer"),
                                    section_int(p, entry.first, L"BuildNo"),     section_int(p, entry.first, L"PlatformId"),
                                    section_int(p, entry.first, L"MinorVerMax"), section_int(p, entry.first, L"ServicePack")};
        if ((match = os_rules::requirement_matches(req, os, v, csd))) break;
      }
    }
    if (match && (!best || v > best->first)) best = {v, version};
  }
  FUZZ_CHECK(*chosen == (best ? best->second : lowest->second));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qz::ByteView bytes(data, size);
  check_launch_settings(bytes, size & 1);

  qz::IniProfile profile;
  profile.load_bytes(bytes, qz::latin1_decode);
  check_exit_codes(profile);

  auto csd = [](std::optional<uint32_t> level) { return [level] { return level; }; };
  check_engine_selection(profile, os_rules::classify_system(10, 0, 19041, 2, 9), csd(std::nullopt));
  check_engine_selection(profile, os_rules::classify_system(5, 1, 2600, 2, 0), csd(0x200));
  check_engine_selection(profile, os_rules::classify_system(4, 0, 1381, 2, 0), csd(0x500));
  check_engine_selection(profile, os_rules::classify_system(4, 0, 1381, 2, 0), csd(0x600));
  check_engine_selection(profile, os_rules::classify_system(4, 10, 2222, 1, 0), csd(std::nullopt));
  return 0;
}
