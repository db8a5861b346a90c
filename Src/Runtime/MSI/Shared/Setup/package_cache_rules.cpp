// portable
#include "package_cache_rules.h"

#include <cwchar>

#include "support/zstring.h"
#include "switch_rules.h"

namespace package_cache_rules {

namespace {
bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The system drops a name's trailing dots and blanks, so ". ." or ".. " name the
// folder or its parent just as "." and ".." do; an empty name names the folder.
bool names_no_file(std::wstring_view name) {
  return name.find_first_not_of(L". ") == std::wstring_view::npos;
}
}  // namespace

CachePlan plan_cache(bool has_b, std::wstring_view b_value, int cache_root, std::wstring_view cache_folder) {
  CachePlan plan;
  if (has_b) {
    plan.kind = CacheKind::kExplicit;
    plan.folder = std::wstring(b_value);
  } else if (cache_root < kWholePathRoot) {
    plan.kind = CacheKind::kNone;
  } else if (cache_root == kWholePathRoot) {
    plan.kind = CacheKind::kExplicit;
    plan.folder = std::wstring(cache_folder);
  } else {
    plan.kind = CacheKind::kShellRoot;
  }
  return plan;
}

std::wstring join_path(std::wstring_view folder, std::wstring_view name) {
  while (!name.empty() && is_separator(name.front())) name.remove_prefix(1);
  std::wstring out(folder);
  if (name.empty()) return out;
  if (out.empty()) return std::wstring(name);
  if (!is_separator(out.back())) out.push_back(L'\\');
  out.append(name);
  return out;
}

std::wstring source_location_path(std::wstring_view source_folder, std::wstring_view location) {
  if (switch_rules::is_absolute_folder(location)) return std::wstring(location);
  return join_path(source_folder, location);
}

std::wstring shell_cache_folder(std::wstring_view root, std::wstring_view cache_folder,
                                std::wstring_view package_code) {
  return join_path(join_path(root, cache_folder), package_code);
}

std::wstring cabinet_file_name(std::wstring_view entry) {
  // The fetch named the file without the address's query or fragment
  // ("data1.cab?token=a/b"): so does the move, or it would miss the file.
  entry = entry.substr(0, entry.find_first_of(L"?#"));
  size_t at = entry.rfind(L'/');
  if (at == std::wstring_view::npos) at = entry.rfind(L'\\');
  std::wstring_view name = at == std::wstring_view::npos ? entry : entry.substr(at + 1);
  // A backslash after the last slash ("http://h/x\y.cab") still separates folders.
  size_t back = name.rfind(L'\\');
  if (back != std::wstring_view::npos) name = name.substr(back + 1);
  if (names_no_file(name)) return std::wstring();
  return std::wstring(name);
}

std::wstring cached_file_name(std::wstring_view package_name) {
  std::wstring name = leaf_of(package_name);
  if (names_no_file(name) || name.find(L':') != std::wstring::npos) return std::wstring();
  return name;
}

std::wstring string_file_name(unsigned language) {
  wchar_t text[16];
  swprintf(text, 16, L"0x%04x.ini", language & 0xFFFFu);
  return text;
}

bool replace_needs_question(bool existing_code_read, std::wstring_view existing_code, bool own_code_read,
                            std::wstring_view own_code) {
  if (!existing_code_read || !own_code_read) return true;
  return !wide_iequals(existing_code, own_code);
}

std::wstring folder_of(std::wstring_view path) {
  size_t at = path.find_last_of(L"\\/");
  return at == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, at));
}

std::wstring leaf_of(std::wstring_view path) {
  size_t at = path.find_last_of(L"\\/");
  return std::wstring(at == std::wstring_view::npos ? path : path.substr(at + 1));
}

}  // namespace package_cache_rules
