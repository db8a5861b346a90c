// The msiexec property list and command line: the language transform merge, the
// minor-upgrade properties, the list composition, the upgrade decision, the
// restart command and version comparison. Line 1 is the property list, line 2 the
// transform, line 3 the saved properties, line 4 the launcher path, lines 5 to 7
// versions; the first byte picks the flags and the launch mode, the second the
// upgrade check's setting and the installed product's answers.
#include <algorithm>

#include "fuzz_input.h"
#include "msi_rules.h"
#include "support/error_codes.h"
#include "support/zstring.h"

using namespace msi_rules;

namespace {

std::wstring file_name(const std::wstring& path) {
  size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

// File names compare without regard to case, as the merge compares them.
bool contains_ignoring_case(const std::wstring& text, const std::wstring& part) {
  auto lower = [](wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; };
  return std::search(text.begin(), text.end(), part.begin(), part.end(),
                     [&](wchar_t a, wchar_t b) { return lower(a) == lower(b); }) != text.end();
}

std::wstring format(const Version& v) {
  return std::to_wstring(v.part[0]) + L"." + std::to_wstring(v.part[1]) + L"." + std::to_wstring(v.part[2]) + L"." +
         std::to_wstring(v.part[3]);
}

// Where the merge may write: the value of the first "TRANSFORMS=" property.
size_t transforms_value_end(const std::wstring& list, size_t at, bool quoted) {
  size_t end = list.find(quoted ? L'"' : L' ', at);
  return end == std::wstring::npos ? list.size() : end;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::wstring> lines = fuzz_lines(data, size);
  lines.resize(std::max<size_t>(lines.size(), 7));
  const uint8_t flags = size ? data[0] : 0;
  const std::wstring& list = lines[0];
  const std::wstring& transform = lines[1];

  // The merge touches nothing outside the TRANSFORMS value and leaves the
  // transform's name in it.
  std::wstring merged = list;
  merge_language_transform(merged, transform);
  if (transform.empty()) {
    FUZZ_CHECK(merged == list);
  } else {
    FUZZ_CHECK(contains_ignoring_case(merged, file_name(transform)));
    FUZZ_CHECK(merged.size() <= list.size() + transform.size() + 16);
    size_t quoted_at = list.find(L"TRANSFORMS=\"");
    size_t at = quoted_at != std::wstring::npos ? quoted_at : list.find(L"TRANSFORMS=");
    if (at == std::wstring::npos) {
      FUZZ_CHECK(merged.compare(0, list.size(), list) == 0);
    } else if (merged != list) {
      bool quoted = quoted_at != std::wstring::npos;
      size_t value = at + 11 + (quoted ? 1 : 0);
      size_t end = transforms_value_end(list, value, quoted);
      size_t grown = merged.size() - list.size();
      FUZZ_CHECK(merged.compare(0, at + 11, list, 0, at + 11) == 0);
      FUZZ_CHECK(merged.compare(end + grown, std::wstring::npos, list, end) == 0);
    }
  }

  // The minor-upgrade properties are added once.
  std::wstring upgraded = list;
  append_properties(upgraded, minor_upgrade_additions(list));
  FUZZ_CHECK(minor_upgrade_additions(upgraded).empty());
  FUZZ_CHECK(upgraded.compare(0, list.size(), list) == 0);

  PropertyListInput in;
  in.properties = list;
  in.saved_properties = lines[2];
  in.multiple_languages = flags & 1;
  in.started_after_restart = flags & 2;
  in.launch_mode = (flags >> 2) & 7;
  in.language_transform = transform;
  split_launcher_path(lines[3], &in.launcher_folder, &in.launcher_name);
  in.uses_script = flags & 32;
  in.script_command_line = lines[4];
  PropertyList out = compose_property_list(in);
  FUZZ_CHECK(out.properties.find(L"SETUPEXENAME=\"") != std::wstring::npos);
  (void)asks_for_silent_install(out.properties);
  (void)suppresses_billboards(out.properties);
  (void)template_is_64bit(list);
  const std::wstring msiexec = L"C:\\Windows\\system32\\MSIEXEC.EXE";
  std::wstring command = msiexec_command_line(msiexec, in.launch_mode, lines[5], lines[3], out.properties);
  FUZZ_CHECK(command.compare(0, msiexec.size() + 4, L"\"" + msiexec + L"\" /") == 0);
  FUZZ_CHECK(command.size() >= out.properties.size() &&
             command.compare(command.size() - out.properties.size(), std::wstring::npos, out.properties) == 0);
  (void)patch_forward_value(lines[3], out.properties);
  (void)script_mode(static_cast<int8_t>(flags));

  // Versions: a total order, and a parsed version reads back the same.
  const wchar_t *a = lines[4].c_str(), *b = lines[5].c_str(), *c = lines[6].c_str();
  FUZZ_CHECK(compare_versions(a, a) == 0);
  FUZZ_CHECK(compare_versions(a, b) == -compare_versions(b, a));
  if (compare_versions(a, b) >= 0 && compare_versions(b, c) >= 0) FUZZ_CHECK(compare_versions(a, c) >= 0);
  std::wstring again = format(parse_version(std::wstring_view(a)));  // as far as the C string goes
  FUZZ_CHECK(compare_versions(again.c_str(), a) == 0);

  // The upgrade decision. Second byte: OnUpgrade (bits 0-1), the status of the
  // installed product's PackageCode query (bits 2-3: success, 1605, 126, success),
  // that code being the setup's own in capitals (bit 4), the answer Yes (bit 5).
  // Line 3 is the setup's package code, line 4 the installed one; line 5 the
  // setup's version, line 6 the installed version, line 7 the product name.
  const uint8_t check = size > 1 ? data[1] : 0;
  static const unsigned kStatus[] = {0, 1605, 126, 0};
  const unsigned status = kStatus[(check >> 2) & 3];
  const bool yes = check & 32;
  std::wstring installed_code = lines[3];
  if (check & 16) {
    installed_code = lines[2];
    for (wchar_t& ch : installed_code)
      if (ch >= L'a' && ch <= L'z') ch = static_cast<wchar_t>(ch - 32);
  }
  UpgradeFacts facts;
  facts.policy = upgrade_policy(check & 3, flags & 64);
  const int policy = facts.policy;
  facts.launch_mode = in.launch_mode;
  facts.package_code = lines[2];
  facts.product_version = lines[4];
  int queries = 0, asked = 0, told = 0;
  UpgradeHooks hooks;
  hooks.product_info = [&](const std::wstring& property, std::wstring* value) -> unsigned {
    ++queries;
    if (property == L"PackageCode") {
      *value = installed_code;
      return status;
    }
    *value = property == L"VersionString" ? lines[5] : lines[6];
    return 0;
  };
  hooks.ask_upgrade = [&](const std::wstring&) {
    ++asked;
    return yes;
  };
  hooks.tell_later_version = [&](const std::wstring&) { ++told; };
  UpgradeOutcome outcome = decide_upgrade(facts, hooks);

  // Patches, administrative installations, repairs and uninstalls are never checked.
  const bool checked = policy != kPolicySkip && in.launch_mode != 1 && in.launch_mode != 2 && in.launch_mode != 4 &&
                       in.launch_mode != 5;
  const bool own_package = checked && status == 0 && wide_iequals(installed_code, lines[2]);
  // Only another package of the product, installed, can stop the launch or make it a
  // minor upgrade; a Yes (or not asking) goes on as one unless the installed version
  // is later.
  const bool other_package = checked && status == 0 && !own_package;
  const bool later = compare_versions(lines[4].c_str(), lines[5].c_str()) == 1;
  if (!checked) FUZZ_CHECK(queries == 0);
  FUZZ_CHECK(asked == (other_package && policy == kPolicyAsk ? 1 : 0));
  FUZZ_CHECK(told == (asked && yes && later ? 1 : 0));
  if (other_package) {
    FUZZ_CHECK(outcome.go_on == ((policy != kPolicyAsk || yes) && !later));
    FUZZ_CHECK(outcome.apply_minor_upgrade == outcome.go_on);
  } else {
    FUZZ_CHECK(outcome.go_on && !outcome.apply_minor_upgrade);
  }
  // A stop is never a success: a No is 1602, a later version 1638.
  const int result = outcome.go_on ? 0 : policy == kPolicyAsk && !yes ? err::kUserDeclined : err::kNewerVersionInstalled;
  FUZZ_CHECK(outcome.result == result);
  // The check turns itself off only for a missing msi.dll or the setup's own package.
  const bool turned_off = (checked && status == 126) || own_package;
  FUZZ_CHECK(facts.policy == (turned_off ? int(kPolicySkip) : policy));

  RebootCommandInput r;
  r.launcher_path = lines[3];
  r.launch_mode = in.launch_mode;
  r.letters = lines[5];
  r.source_folder = lines[2];
  r.temp_folder = lines[6];
  r.properties = list;
  r.compressed = flags & 1;
  r.debug_log_path = lines[4];
  RebootCommand reboot = compose_reboot_command(r);
  (void)apply_reboot_placeholders(reboot.command, r.source_folder, r.temp_folder, reboot.properties);
  std::wstring resumed;
  if (rewrite_resume_entry(list, lines[3], &resumed)) FUZZ_CHECK(resumed.size() >= lines[3].size() + 4);
  return 0;
}
