// portable
#include "msi_rules.h"

#include "support/error_codes.h"
#include "support/zstring.h"

namespace msi_rules {

namespace {

bool is_digit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool icontains(std::wstring_view text, std::wstring_view part) {
  if (part.empty()) return true;
  if (part.size() > text.size()) return false;
  for (size_t i = 0; i + part.size() <= text.size(); ++i)
    if (wide_iequals(text.substr(i, part.size()), part)) return true;
  return false;
}

size_t ifind(std::wstring_view text, std::wstring_view part, size_t from) {
  if (part.size() > text.size()) return std::wstring_view::npos;
  for (size_t i = from; i + part.size() <= text.size(); ++i)
    if (wide_iequals(text.substr(i, part.size()), part)) return i;
  return std::wstring_view::npos;
}

bool at_start_or_after_blank(std::wstring_view text, std::wstring_view part) {
  for (size_t pos = text.find(part); pos != std::wstring_view::npos; pos = text.find(part, pos + 1))
    if (pos == 0 || text[pos - 1] == L' ') return true;
  return false;
}

void replace_first(std::wstring& text, std::wstring_view what, std::wstring_view with) {
  if (what.empty()) return;
  size_t pos = text.find(what);
  if (pos != std::wstring::npos) text.replace(pos, what.size(), with);
}

std::wstring file_name_of(std::wstring_view path) {
  size_t cut = path.find_last_of(L"\\/");
  return std::wstring(cut == std::wstring_view::npos ? path : path.substr(cut + 1));
}

}  // namespace

Version parse_version(std::wstring_view text) {
  Version v;
  int index = 0;
  bool in_number = false;
  for (size_t i = 0; i <= text.size() && index < 4; ++i) {
    wchar_t c = i < text.size() ? text[i] : L'.';
    if (is_digit(c)) {
      uint64_t next = uint64_t(v.part[index]) * 10 + uint64_t(c - L'0');
      v.part[index] = next > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(next);
      in_number = true;
    } else {
      // "%u.%u.%u.%u" after the dot replacement: a separator ends the current number,
      // and a run of separators (an empty number) ends the parse.
      if (!in_number) break;
      in_number = false;
      ++index;
    }
  }
  return v;
}

int compare_versions(const wchar_t* a, const wchar_t* b) {
  if (!a || !b) return 0;
  Version va = parse_version(a), vb = parse_version(b);
  for (int i = 0; i < 4; ++i) {
    if (vb.part[i] < va.part[i]) return -1;
    if (vb.part[i] > va.part[i]) return 1;
  }
  return 0;
}

bool contains(std::wstring_view text, std::wstring_view part) { return text.find(part) != std::wstring_view::npos; }

bool asks_for_silent_install(std::wstring_view properties) {
  return at_start_or_after_blank(properties, L"/qn") || at_start_or_after_blank(properties, L"/qb") ||
         at_start_or_after_blank(properties, L"/quiet");
}

bool suppresses_billboards(std::wstring_view properties) {
  return contains(properties, L"/qb") || contains(properties, L"/qn") || contains(properties, L"/quiet") ||
         contains(properties, L"/passive");
}

ScriptMode script_mode(int script_driven) {
  ScriptMode m;
  switch (script_driven) {
    case 0:
      m.log_text = L"Install does not use script";
      break;
    case 1:
      m = {1, true, true, L"Install is script driven (QZMSI)"};
      break;
    case 2:
      m = {2, true, false, L"Install is basic with Scriptwork custom actions"};
      break;
    case 3:
      m = {3, true, false, L"Install is script driven MSI 4.5 style embedded UI (QZMSI)"};
      break;
    default:
      break;
  }
  return m;
}

std::wstring minor_upgrade_additions(std::wstring_view properties) {
  std::wstring add;
  auto put = [&add](const wchar_t* text) {
    if (!add.empty()) add += L' ';
    add += text;
  };
  if (!contains(properties, L"REINSTALL")) put(L"REINSTALL=ALL");
  if (!contains(properties, L"REINSTALLMODE")) put(L"REINSTALLMODE=vomus");
  if (!contains(properties, L"QZ_MINOR_UPGRADE")) put(L"QZ_MINOR_UPGRADE=1");
  return add;
}

void append_properties(std::wstring& properties, std::wstring_view additions) {
  if (additions.empty()) return;
  if (!properties.empty()) properties += L' ';
  properties += additions;
}

void merge_language_transform(std::wstring& list, std::wstring_view transform) {
  if (transform.empty()) return;
  bool quoted = true;
  size_t b = list.find(L"TRANSFORMS=\"");
  if (b == std::wstring::npos) {
    quoted = false;
    b = list.find(L"TRANSFORMS=");
  }
  if (b == std::wstring::npos) {
    list += L" TRANSFORMS=\"";
    list += transform;
    list += L'"';
    return;
  }
  const bool blank_in_transform = transform.find(L' ') != std::wstring_view::npos;
  size_t e = list.find(L'=', b);
  size_t value = e + 1 + (quoted ? 1 : 0);
  // The value ends at its closing quote, or unquoted at the next blank.
  size_t end = list.find(quoted ? L'"' : L' ', value);
  if (end == std::wstring::npos) end = list.size();
  // Only a transform inside the value counts: a ".mst" of a later property is not
  // one of TRANSFORMS, and the launcher's own names end in ".MST".
  size_t last = std::wstring::npos;
  for (size_t at = ifind(list, L".mst", value); at != std::wstring::npos && at + 4 <= end;
       at = ifind(list, L".mst", at + 1))
    last = at;
  if (last == std::wstring::npos) {
    // No transform listed yet: the new one goes first. An existing value keeps its
    // place behind a separator instead of being glued to the new name.
    std::wstring insert(transform);
    if (end > value) insert += L';';
    if (!quoted && blank_in_transform) {
      list.insert(end, L"\"");
      list.insert(value, L"\"" + insert);
    } else {
      list.insert(value, insert);
    }
    return;
  }
  size_t mst_end = last + 4;
  std::wstring needle = L"\\" + file_name_of(transform);
  size_t seen = ifind(list, needle, value);
  if (seen != std::wstring::npos && seen < mst_end) return;
  std::wstring insert = L";" + std::wstring(transform);
  if (!quoted && blank_in_transform) {
    // The unquoted value would split at the blank: quote the whole value.
    list.insert(mst_end, insert + L"\"");
    list.insert(value, L"\"");
  } else {
    list.insert(mst_end, insert);
  }
}

namespace {
// "D:\": without its backslash a drive root would name the drive's current folder.
bool is_drive_root(std::wstring_view folder) {
  return folder.size() == 3 && folder[1] == L':' && (folder[2] == L'\\' || folder[2] == L'/');
}
}  // namespace

void split_launcher_path(std::wstring_view path, std::wstring* folder, std::wstring* name) {
  size_t cut = path.find_last_of(L"\\/");
  if (cut == std::wstring_view::npos) {
    folder->clear();
    name->assign(path);
    return;
  }
  folder->assign(path.substr(0, is_drive_root(path.substr(0, cut + 1)) ? cut + 1 : cut));
  name->assign(path.substr(cut + 1));
}

PropertyList compose_property_list(const PropertyListInput& in) {
  PropertyList out;
  std::wstring& list = out.properties;
  list = in.properties;
  if (!in.saved_properties.empty()) {
    list += L' ';
    list += in.saved_properties;
  }
  if (in.multiple_languages && !in.started_after_restart && in.launch_mode != 5)
    merge_language_transform(list, in.language_transform);
  std::wstring folder = in.launcher_folder;
  if (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/') && !is_drive_root(folder)) folder.pop_back();
  if (in.uses_script && !contains(list, L"QZSCRIPTCMDLINE") && !in.script_command_line.empty()) {
    if (!list.empty()) list += L' ';
    list += L"QZSCRIPTCMDLINE=\"" + in.script_command_line + L"\"";
  }
  out.setup_exe_values = L"SETUPEXEDIR=\"" + folder + L"\" SETUPEXENAME=\"" + in.launcher_name + L"\"";
  list += L' ';
  list += out.setup_exe_values;
  if (in.launch_mode == 3) replace_first(list, L"TRANSFORMS=", L"/t ");
  return out;
}

std::wstring msiexec_mode_switch(int launch_mode, std::wstring_view letters) {
  switch (launch_mode) {
    case 1:
      return L"/a";
    case 2:
      return L"/f" + std::wstring(letters);
    case 3:
      return L"/j" + std::wstring(letters);
    case 4:
      return L"/x";
    case 5:
      return L"/p";
    default:
      return L"/i";
  }
}

std::wstring msiexec_command_line(std::wstring_view program, int launch_mode, std::wstring_view letters,
                                  std::wstring_view package, std::wstring_view properties) {
  std::wstring c = L"\"" + std::wstring(program) + L"\" ";
  c += msiexec_mode_switch(launch_mode, letters);
  c += L" \"";
  c += package;
  c += L"\" ";
  c += properties;
  return c;
}

std::wstring patch_forward_value(std::wstring_view package, std::wstring_view properties) {
  return L"/p \"" + std::wstring(package) + L"\" " + std::wstring(properties);
}

int upgrade_policy(int on_upgrade, bool silent_or_auto) {
  if (on_upgrade == 1) return silent_or_auto ? kPolicyDoNotAsk : kPolicyAsk;
  if (on_upgrade == 2) return kPolicyDoNotAsk;
  return kPolicySkip;
}

UpgradeOutcome decide_upgrade(UpgradeFacts& f, const UpgradeHooks& h) {
  UpgradeOutcome out;
  if (f.policy == kPolicySkip || f.launch_mode == 5 || f.launch_mode == 1 || f.launch_mode == 2 ||
      f.launch_mode == 4)
    return out;
  auto log = [&h](const std::wstring& line) {
    if (h.log) h.log(line);
  };
  auto stop = [&out, &log](int result, const wchar_t* why) {
    out.go_on = false;
    out.result = result;
    log(std::wstring(L"Upgrade check: ") + why + L"; setup ends with " + std::to_wstring(result));
    return out;
  };
  log(L"Upgrade check: checking product code " + f.product_code);
  std::wstring installed_code;
  unsigned status = h.product_info(L"PackageCode", &installed_code);
  if (status != 0) {
    if (status == 126) f.policy = kPolicySkip;
    return out;
  }
  log(L"Upgrade check: obtained package code " + installed_code + L" from machine, current package code is " +
      f.package_code);
  if (wide_iequals(installed_code, f.package_code)) {
    f.policy = kPolicySkip;
    return out;
  }
  std::wstring installed_version;
  h.product_info(L"VersionString", &installed_version);
  bool later = compare_versions(f.product_version.c_str(), installed_version.c_str()) == 1;
  if (later) log(L"Upgrade check: later product version already installed");
  if (f.policy == kPolicyAsk) {
    std::wstring name;
    h.product_info(L"InstalledProductName", &name);
    if (!h.ask_upgrade || !h.ask_upgrade(name)) return stop(err::kUserDeclined, L"the upgrade was declined");
    if (later) {
      if (h.tell_later_version) h.tell_later_version(name);
      return stop(err::kNewerVersionInstalled, L"a later version is installed");
    }
    out.apply_minor_upgrade = true;
    return out;
  }
  if (later) return stop(err::kNewerVersionInstalled, L"a later version is installed");
  out.apply_minor_upgrade = true;
  return out;
}

bool template_is_64bit(std::wstring_view t) {
  return icontains(t, L"Intel64") || icontains(t, L"x64") || icontains(t, L"AMD64");
}

std::wstring reboot_mode_part(int launch_mode, std::wstring_view letters) {
  if (launch_mode == 0) return std::wstring();
  if (launch_mode < 0 || launch_mode > 5) return std::wstring();
  return msiexec_mode_switch(launch_mode, letters);
}

RebootCommand compose_reboot_command(const RebootCommandInput& in) {
  RebootCommand out;
  out.properties = in.properties + L" AFTERREBOOT=1";
  std::wstring mode = reboot_mode_part(in.launch_mode, in.letters);
  std::wstring& c = out.command;
  c = L"\"" + in.launcher_path + L"\" ";
  if (in.compressed) c += L"/k ";
  c += mode;
  c += L" /l" + std::to_wstring(in.language);
  c += L" /t\"" + in.source_folder + L"\"";
  c += L" /e\"" + in.temp_folder + L"\"";
  if (in.compressed) c += L" /w";
  c += L" /v\"" + out.properties + L"\" ";
  if (in.compressed) c += L"/c";
  if (!in.debug_log_path.empty()) c += L" /debuglog\"" + in.debug_log_path + L"\"";
  return out;
}

std::wstring apply_reboot_placeholders(std::wstring command, std::wstring_view source_folder,
                                       std::wstring_view temp_folder, std::wstring_view properties) {
  // The switch values are replaced, not the first bare occurrence: the launcher's
  // own path usually lies in the temporary folder, and a placeholder there would
  // leave a program name that nothing expands after the restart.
  auto put = [&command](const wchar_t* sw, std::wstring_view text, const wchar_t* placeholder) {
    if (text.empty()) return;
    replace_first(command, std::wstring(sw) + L"\"" + std::wstring(text) + L"\"",
                  std::wstring(sw) + L"\"" + placeholder + L"\"");
  };
  put(L" /t", source_folder, L"%QZ_T%");
  put(L" /e", temp_folder, L"%QZ_E%");
  put(L" /v", properties, L"%QZ_V%");
  return command;
}

const wchar_t* reboot_entry_key(int v) {
  switch (v) {
    case 0:
      return L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
    case 1:
      return L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx";
    case 2:
      return L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    default:
      return nullptr;
  }
}

bool rewrite_resume_entry(std::wstring_view old_data, std::wstring_view launcher_path, std::wstring* new_data) {
  size_t blank = old_data.find(L' ');
  if (blank == std::wstring_view::npos) return false;
  *new_data = L"\"" + std::wstring(launcher_path) + L"\" /%" + std::wstring(old_data.substr(blank));
  return true;
}

}  // namespace msi_rules
