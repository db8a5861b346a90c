// The path rules that keep writes and deletions inside the launcher's folders: the
// package cache (CacheFolder, Cab%d entries, cabinet and cached package names) and
// the clean-up's judgement of what lies within a folder and which folders lie on
// the way to a path, with the keys of its deletion list.
// Line 1 is a folder, line 2 a path, cabinet entry or package name, line 3 a second
// folder (or CacheFolder), line 4 a package code or list key.
#include <algorithm>

#include "cleanup_rules.h"
#include "fuzz_input.h"
#include "package/IniProfile.h"
#include "package_cache_rules.h"

using namespace package_cache_rules;
using cleanup_rules::lies_below;
using cleanup_rules::lies_within;

namespace {

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The folder a path names once the system has read it: components split at either
// separator, trailing dots and blanks dropped, "." and ".." resolved, empty ones
// skipped, ASCII letters folded.
std::vector<std::wstring> resolved(std::wstring_view path) {
  std::vector<std::wstring> out;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = i;
    while (j < path.size() && !is_separator(path[j])) ++j;
    std::wstring c(path.substr(i, j - i));
    const bool dots = !c.empty() && c.find_first_not_of(L". ") == std::wstring::npos;
    const size_t dot_count = std::count(c.begin(), c.end(), L'.');
    if (dots && dot_count >= 2) {
      if (!out.empty()) out.pop_back();
    } else if (!dots) {
      while (!c.empty() && (c.back() == L'.' || c.back() == L' ')) c.pop_back();
      for (wchar_t& ch : c)
        if (ch >= L'A' && ch <= L'Z') ch = static_cast<wchar_t>(ch + 32);
      if (!c.empty()) out.push_back(c);
    }
    i = j + 1;
  }
  return out;
}

bool resolves_within(std::wstring_view path, std::wstring_view folder) {
  std::vector<std::wstring> p = resolved(path), f = resolved(folder);
  return p.size() >= f.size() && std::equal(f.begin(), f.end(), p.begin());
}

void check_within(const std::wstring& path, const std::wstring& folder) {
  const bool within = lies_within(path, folder), below = lies_below(path, folder);
  if (below) FUZZ_CHECK(within);
  // Nothing the system would place outside the folder is ever judged inside it.
  if (within) FUZZ_CHECK(!folder.empty() && resolves_within(path, folder));
  // However it is spelt, a climb out of a path is never within anything.
  for (const wchar_t* climb : {L"\\..", L"/..", L"\\.. ", L"\\. .", L"\\...", L"\\..\\x"})
    FUZZ_CHECK(!lies_within(path + climb, folder));
  // Within each other: the same folder, so neither lies below the other.
  if (within && lies_within(folder, path)) FUZZ_CHECK(!below && !lies_below(folder, path));
}

// The folders the clean-up inspects for links on the way from a folder to a path:
// parts of that very path, none outside the folder, none on the way left out.
void check_between(const std::wstring& path, const std::wstring& folder) {
  const std::vector<std::wstring> between = cleanup_rules::folders_between(path, folder);
  if (!lies_below(path, folder)) FUZZ_CHECK(between.empty());
  for (const std::wstring& f : between) {
    FUZZ_CHECK(f.size() < path.size() && path.compare(0, f.size(), f) == 0 && is_separator(path[f.size()]));
    FUZZ_CHECK(lies_within(f, folder) && lies_below(path, f));
  }
  for (size_t i = 0; i < path.size(); ++i) {
    if (!is_separator(path[i])) continue;
    const std::wstring prefix = path.substr(0, i);
    if (lies_below(prefix, folder) && lies_below(path, prefix))
      FUZZ_CHECK(std::find(between.begin(), between.end(), prefix) != between.end());
  }
}

// The cached package's name is a plain file name, whatever folders or drive the
// package name spells: joined to the cache folder, the system reads it as one
// file directly inside that folder.
void check_cached_name(const std::wstring& folder, const std::wstring& package) {
  const std::wstring name = cached_file_name(package);
  if (name.empty()) return;
  FUZZ_CHECK(name.find_first_of(L"\\/:") == std::wstring::npos);
  FUZZ_CHECK(package.size() >= name.size() && package.compare(package.size() - name.size(), name.size(), name) == 0);
  const std::vector<std::wstring> inside = resolved(folder), at = resolved(join_path(folder, name));
  FUZZ_CHECK(at.size() == inside.size() + 1 && std::equal(inside.begin(), inside.end(), at.begin()));
}

void check_cache(const std::wstring& folder, const std::wstring& entry, const std::wstring& cache_folder,
                 const std::wstring& code) {
  // A cabinet's name is a plain file name, as its fetch named it: joined to the
  // cache folder it names a file directly inside it.
  const std::wstring name = cabinet_file_name(entry);
  if (!name.empty()) {
    FUZZ_CHECK(name.find_first_of(L"\\/?#") == std::wstring::npos);
    const std::wstring target = join_path(folder, name);
    FUZZ_CHECK(leaf_of(target) == name);
    if (lies_within(folder, folder)) FUZZ_CHECK(lies_below(target, folder));
  }
  // Joining never rewrites the folder, and what is joined stays below it.
  const std::wstring joined = join_path(folder, entry);
  FUZZ_CHECK(joined.compare(0, folder.size(), folder) == 0);
  const std::wstring shell = shell_cache_folder(folder, cache_folder, code);
  FUZZ_CHECK(shell.compare(0, folder.size(), folder) == 0);
  if (lies_within(folder, folder) && lies_within(shell, shell)) FUZZ_CHECK(lies_within(shell, folder));

  for (int root : {kNoCacheRoot, kWholePathRoot, 26}) {
    for (bool has_b : {false, true}) {
      CachePlan plan = plan_cache(has_b, entry, root, cache_folder);
      FUZZ_CHECK((plan.kind == CacheKind::kExplicit) == (has_b || root == kWholePathRoot));
      if (plan.kind == CacheKind::kExplicit) FUZZ_CHECK(plan.folder == (has_b ? entry : cache_folder));
    }
  }
}

// A key the deletion list holds reads back as the same key: two files' keys never
// meet, so no entry of the list is lost.
void check_list_key(const std::wstring& wanted, const std::wstring& path) {
  const std::wstring key = cleanup_rules::list_key(wanted);
  FUZZ_CHECK(key.size() == wanted.size());
  // File names and paths hold neither zeros nor line breaks.
  if (key.empty() || key.find(L'\0') != std::wstring::npos || path.find_first_of(std::wstring(L"\r\n\0", 3)) != std::wstring::npos)
    return;
  qz::IniProfile list;
  FUZZ_CHECK(list.write_string(L"Files", key.c_str(), path.c_str()));
  qz::IniProfile again;
  again.load_bytes(list.to_bytes(), qz::latin1_decode);
  std::wstring keys;
  FUZZ_CHECK(again.get_key_list(L"Files", keys, L'\0'));
  FUZZ_CHECK(keys == key + L'\0');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::wstring> lines = fuzz_lines(data, size);
  lines.resize(std::max<size_t>(lines.size(), 4));
  check_within(lines[1], lines[0]);
  check_within(lines[0], lines[1]);
  check_within(lines[1], lines[2]);
  FUZZ_CHECK(cleanup_rules::made_by_run(lines[1], {lines[0], lines[2]}) ==
             (lies_within(lines[1], lines[0]) || lies_within(lines[1], lines[2])));
  check_between(lines[1], lines[0]);
  check_between(lines[1], lines[2]);
  check_cache(lines[0], lines[1], lines[2], lines[3]);
  check_cached_name(lines[0], lines[1]);
  check_list_key(lines[3], lines[1]);
  return 0;
}
