// portable
#include "prereq_command_rules.h"

#include "prereq_rules.h"
#include "support/zstring.h"

namespace prq {
namespace {

bool ends_with(std::wstring_view text, std::wstring_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

void replace_all(std::wstring& text, std::wstring_view what, std::wstring_view with) {
  for (size_t at = text.find(what); at != std::wstring::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
}

bool at_boundary(std::wstring_view text, size_t at) { return at == 0 || text[at - 1] == L' '; }

size_t token_end(std::wstring_view text, size_t from) {
  size_t blank = text.find(L' ', from);
  return blank == std::wstring_view::npos ? text.size() : blank;
}

// The first occurrence of `option` at the start or after a blank.
size_t find_option(std::wstring_view text, std::wstring_view option) {
  for (size_t at = text.find(option); at != std::wstring_view::npos; at = text.find(option, at + 1))
    if (at_boundary(text, at)) return at;
  return std::wstring_view::npos;
}

uint32_t log_letter_mode(wchar_t c) {
  switch (wide_lower(c)) {
    case L'i': return 16;
    case L'w': return 4;
    case L'e': return 2;
    case L'a': return 256;
    case L'r': return 512;
    case L'u': return 8;
    case L'c': return 2048;
    case L'm': return 1;
    case L'o': return 128;
    case L'p': return 1024;
    case L'v': return 4096;
    case L'x': return 0x2000;
    case L'*': return kLogAll;
  }
  return 0;
}

void take_ui_level(std::wstring& text, InstallerOptions& out) {
  size_t at = find_option(text, L"/passive");
  if (at != std::wstring::npos && token_end(text, at) == at + 8) {
    text.erase(at, 8);
    text += L" REBOOTPROMPT=S";
    out.ui_level = kUiBasic | kUiHideCancel;
  }
  at = find_option(text, L"/q");
  if (at == std::wstring::npos) return;
  size_t end = token_end(text, at);
  std::wstring letters = text.substr(at + 2, end - at - 2);
  text.erase(at, end - at);
  uint32_t level = kUiNone;
  if (!letters.empty()) {
    if (letters[0] == L'b') level = kUiBasic;
    if (letters[0] == L'f') level = kUiFull;
    if (letters[0] == L'r') level = kUiReduced;
  }
  for (wchar_t c : letters) {
    if (c == L'+') level |= kUiEndDialog;
    if (c == L'!') level |= kUiHideCancel;
    if (c == L'-') level |= kUiProgressOnly;
  }
  out.ui_level = level;
}

void take_log(std::wstring& text, InstallerOptions& out) {
  size_t at = text.find(L"/l");
  if (at == std::wstring::npos || !at_boundary(text, at)) return;
  size_t end = token_end(text, at);
  std::wstring letters = text.substr(at + 2, end - at - 2);
  size_t path = text.find_first_not_of(L' ', end);
  std::wstring file;
  if (path != std::wstring::npos && text[path] == L'"') {
    size_t close = text.find(L'"', path + 1);
    end = close == std::wstring::npos ? text.size() : close + 1;
    file = text.substr(path + 1, (close == std::wstring::npos ? text.size() : close) - path - 1);
  } else if (path != std::wstring::npos) {
    end = token_end(text, path);
    file = text.substr(path, end - path);
  }
  text.erase(at, end - at);
  if (wide_iequals(letters, L"og")) {
    out.log_mode = kLogAll;
  } else {
    for (wchar_t c : letters) {
      if (c == L'+') out.log_attributes |= kLogAppend;
      if (c == L'!') out.log_attributes |= kLogFlushEachLine;
      out.log_mode |= log_letter_mode(c);
    }
  }
  out.log_file = file;
  out.logging = !file.empty();
}

}  // namespace

FileKind file_kind(std::wstring_view f) {
  if (ends_with(f, L".msix") || ends_with(f, L".msixbundle") || ends_with(f, L".appx") ||
      ends_with(f, L".appxbundle"))
    return FileKind::kAppPackage;
  if (ends_with(f, L".msi")) return FileKind::kInstallerPackage;
  if (ends_with(f, L".exe")) return FileKind::kProgram;
  return FileKind::kOther;
}

bool is_reboot_exit_code(std::wstring_view codes, uint32_t exit_code, bool installer_package) {
  if (codes.empty()) return installer_package && (exit_code == 1641 || exit_code == 3010);
  for (;;) {
    size_t comma = codes.find(L',');
    std::wstring_view item = codes.substr(0, comma);
    // Codes above 0x7FFFFFFF (an NTSTATUS, say) are written both ways.
    if (!item.empty() && (static_cast<uint32_t>(parse_int(item)) == exit_code || parse_u32(item) == exit_code))
      return true;
    if (comma == std::wstring_view::npos) return false;
    codes.remove_prefix(comma + 1);
  }
}

std::wstring with_backslash(std::wstring_view folder) {
  std::wstring out(folder);
  if (out.empty() || out.back() != L'\\') out.push_back(L'\\');
  return out;
}

std::wstring resolve_command_line(std::wstring_view command_line, const LauncherNames& names,
                                  std::wstring_view prerequisite_folder) {
  std::wstring out(command_line);
  if (out.empty()) return out;
  replace_all(out, L"[ProductLanguage]", std::to_wstring(names.ui_language));
  replace_all(out, L"[SETUPEXENAME]", names.launcher_file_name);
  replace_all(out, L"[SETUPEXEDIR]", names.launcher_folder);
  replace_all(out, L"[QZPREREQDIR]", with_backslash(prerequisite_folder));
  return out;
}

std::wstring package_manager_parameters(std::wstring_view name, std::wstring_view version, bool pinned_version,
                                        std::wstring_view parameters) {
  std::wstring out = L"install --id " + std::wstring(name) + L" --exact";
  if (pinned_version) out += L" --version " + std::wstring(version);
  if (!parameters.empty()) out += L" " + std::wstring(parameters);
  return out + L" --silent";
}

std::wstring app_package_parameters(std::wstring_view package_path) {
  return L"-prqmsix:install -QZ_temp -pkgname:\"" + std::wstring(package_path) + L"\"";
}

InstallerOptions installer_options(std::wstring_view command_line) {
  InstallerOptions out;
  std::wstring text(command_line);
  take_ui_level(text, out);
  take_log(text, out);
  out.command_line = std::wstring(trim(text, L" "));
  return out;
}

std::wstring pending_reboot_message(const RebootCounters& before, const RebootCounters& after, bool ignore_renames) {
  auto key = [](const wchar_t* name) { return L"Reboot required - " + std::wstring(name) + L" key added"; };
  if (after.run_once > before.run_once) return key(L"RunOnce");
  if (after.run_once_ex > before.run_once_ex) return key(L"RunOnceEx");
  if (after.pending_rename_bytes <= before.pending_rename_bytes || ignore_renames) {
    if (after.rename_entries > before.rename_entries) return key(L"FileRenameOperations");
    if (after.legacy_renames > before.legacy_renames) return key(L"Wininit.ini rename");
    return std::wstring();
  }
  return L"Reboot required - PendingFileRenameOperations value added";
}

bool renames_only_under(const std::vector<uint8_t>& value, uint32_t from, std::wstring_view temp_folder) {
  // New entries begin where the old value's final terminator stood.
  const size_t first_new = from >= 2 ? (from - 2) & ~size_t{1} : 0;
  struct Entry {
    size_t offset;
    std::wstring text;
  };
  std::vector<Entry> strings;
  Entry current{0, {}};
  for (size_t i = 0; i + 1 < value.size(); i += 2) {
    wchar_t c = static_cast<wchar_t>(value[i] | value[i + 1] << 8);
    if (c != 0) {
      if (current.text.empty()) current.offset = i;
      current.text.push_back(c);
      continue;
    }
    // An empty source ends the list; an empty target is a deletion.
    if (current.text.empty() && strings.size() % 2 == 0) break;
    if (current.text.empty()) current.offset = i;
    strings.push_back(std::move(current));
    current = Entry{0, {}};
  }
  const std::wstring prefix = with_backslash(temp_folder);
  bool any = false;
  for (size_t i = 0; i + 1 < strings.size(); i += 2) {
    const std::wstring& source = strings[i].text;
    if (strings[i].offset < first_new) continue;
    any = true;
    if (!strings[i + 1].text.empty() || source.size() < 4 + prefix.size()) return false;
    if (!wide_iequals(std::wstring_view(source).substr(4, prefix.size()), prefix)) return false;
  }
  return any;
}

std::vector<std::wstring> progress_fields(std::wstring_view message) {
  std::vector<std::wstring> out;
  size_t at = message.find(L"1: ");
  for (int n = 1; at != std::wstring_view::npos; ++n) {
    size_t start = at + std::to_wstring(n).size() + 2;
    size_t next = message.find(std::to_wstring(n + 1) + L": ", start);
    size_t end = next == std::wstring_view::npos ? message.size() : next;
    out.emplace_back(trim(message.substr(start, end - start), L"\n\t "));
    at = next;
  }
  return out;
}

std::wstring action_text(std::wstring_view message) {
  size_t dot = message.find(L'.');
  if (dot == std::wstring_view::npos || dot + 2 > message.size()) return std::wstring();
  return std::wstring(message.substr(dot + 2));
}

std::wstring digest_text(const uint8_t (&digest)[16]) {
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  std::wstring out;
  for (uint8_t b : digest) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  return out;
}

bool checksum_matches(const uint8_t (&digest)[16], std::wstring_view checksum) {
  return wide_iequals(digest_text(digest), checksum);
}

}  // namespace prq
