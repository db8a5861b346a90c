// portable
#include "cleanup_rules.h"

namespace cleanup_rules {
namespace {

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

wchar_t fold(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + (L'a' - L'A')) : c; }

// The system drops trailing blanks and dots of a component, so ". ." or "..  "
// still climbs. Any other run of dots and blanks (" .. ") is refused as well:
// what it names is not worth guessing where deletions are concerned.
bool is_dot_component(std::wstring_view c) {
  return c.find(L'.') != std::wstring_view::npos && c.find_first_not_of(L". ") == std::wstring_view::npos;
}

std::vector<std::wstring_view> components(std::wstring_view path, bool* dots) {
  std::vector<std::wstring_view> out;
  size_t i = 0;
  while (i < path.size()) {
    size_t j = i;
    while (j < path.size() && !is_separator(path[j])) ++j;
    std::wstring_view c = path.substr(i, j - i);
    // Empty components (a doubled separator) are kept so "\\server" stays apart
    // from "\server"; only the trailing one is dropped below.
    if (is_dot_component(c)) *dots = true;
    out.push_back(c);
    i = j + 1;
  }
  while (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

bool same_component(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

// 1: path below folder, 0: the folder itself, -1: neither (or refused).
int relation(std::wstring_view path, std::wstring_view folder) {
  bool dots = false;
  std::vector<std::wstring_view> f = components(folder, &dots);
  std::vector<std::wstring_view> p = components(path, &dots);
  if (dots || f.empty() || p.size() < f.size()) return -1;
  for (size_t i = 0; i < f.size(); ++i)
    if (!same_component(p[i], f[i])) return -1;
  return p.size() == f.size() ? 0 : 1;
}

}  // namespace

bool lies_within(std::wstring_view path, std::wstring_view folder) { return relation(path, folder) >= 0; }

bool lies_below(std::wstring_view path, std::wstring_view folder) { return relation(path, folder) == 1; }

std::vector<std::wstring> folders_between(std::wstring_view path, std::wstring_view folder) {
  std::vector<std::wstring> out;
  if (relation(path, folder) != 1) return out;
  bool dots = false;
  const size_t first = components(folder, &dots).size();
  const size_t last = components(path, &dots).size() - 1;  // the entry itself
  // Component `index` of the path ends where a separator (or the text) does.
  size_t index = 0;
  for (size_t i = 0; i < path.size() && index < last; ++i) {
    if (!is_separator(path[i])) continue;
    if (index >= first) out.emplace_back(path.substr(0, i));
    ++index;
  }
  return out;
}

bool made_by_run(std::wstring_view path, const std::vector<std::wstring>& made) {
  for (const std::wstring& folder : made)
    if (lies_within(path, folder)) return true;
  return false;
}

std::wstring list_key(std::wstring_view wanted) {
  std::wstring key;
  bool leading = true;
  for (wchar_t c : wanted) {
    leading = leading && (c == L';' || c == L'[' || c == L' ' || c == L'\t');
    key += (leading || c == L'=' || c == L'\r' || c == L'\n') ? L'|' : c;
  }
  for (size_t i = key.size(); i > 0 && (key[i - 1] == L' ' || key[i - 1] == L'\t'); --i) key[i - 1] = L'|';
  return key;
}

// A pass without progress would find the same at once: it waits too, so the
// passes can never spin.
bool must_wait(bool shortened, bool in_use) { return in_use || !shortened; }

int waited_passes(int before, bool shortened, bool in_use) { return before + (must_wait(shortened, in_use) ? 1 : 0); }

}  // namespace cleanup_rules
