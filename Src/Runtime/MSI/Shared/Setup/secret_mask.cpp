// portable
#include "secret_mask.h"

namespace secret_mask {
namespace {

enum class Rules {
  kArgvPairs,   // argument splitter: backslashes escape quotes, "" inside quotes is a quote
  kArgvToggle,  // older splitter rule: every unescaped quote toggles
  kSwitchList,  // switch tokenizer: only blanks separate, every quote toggles
};

// A character an argument holds and the raw text [begin, end) it came from.
struct Char {
  wchar_t c;
  size_t begin, end;
};

struct Arg {
  std::vector<Char> chars;
  size_t end = 0;  // raw end of the argument, a closing quote included
};

bool is_gap(wchar_t c, Rules r) { return c == L' ' || (r != Rules::kSwitchList && c == L'\t'); }

std::vector<Arg> split(const std::wstring& s, Rules rules) {
  std::vector<Arg> args;
  const size_t n = s.size();
  size_t i = 0;
  while (i < n) {
    while (i < n && is_gap(s[i], rules)) ++i;
    if (i >= n) break;
    Arg arg;
    auto produce = [&arg](wchar_t c, size_t begin, size_t end) { arg.chars.push_back({c, begin, end}); };
    bool quoted = false;
    while (i < n && (quoted || !is_gap(s[i], rules))) {
      const wchar_t c = s[i];
      if (rules != Rules::kSwitchList && c == L'\\') {
        size_t j = i;
        while (j < n && s[j] == L'\\') ++j;
        const size_t count = j - i;
        if (j < n && s[j] == L'"') {
          for (size_t k = 0; k < count / 2; ++k) produce(L'\\', i + 2 * k, i + 2 * k + 2);
          if (count % 2) {
            produce(L'"', j - 1, j + 1);
            i = j + 1;
          } else {
            i = j;  // the quote is handled below
          }
        } else {
          for (size_t k = 0; k < count; ++k) produce(L'\\', i + k, i + k + 1);
          i = j;
        }
        continue;
      }
      if (c == L'"') {
        if (rules == Rules::kArgvPairs && quoted && i + 1 < n && s[i + 1] == L'"') {
          produce(L'"', i, i + 2);
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      produce(c, i, i + 1);
      ++i;
    }
    arg.end = i;
    args.push_back(std::move(arg));
  }
  return args;
}

wchar_t fold(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - (L'a' - L'A')) : c; }

bool same_name(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

bool contains_word(std::wstring_view name, std::wstring_view word) {
  for (size_t i = 0; i + word.size() <= name.size(); ++i)
    if (same_name(name.substr(i, word.size()), word)) return true;
  return false;
}

bool is_identifier(std::wstring_view name) {
  auto letter = [](wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'_'; };
  if (name.empty() || !letter(name[0])) return false;
  for (wchar_t c : name)
    if (!letter(c) && !(c >= L'0' && c <= L'9') && c != L'.') return false;
  return true;
}

void mark(std::vector<bool>& masked, size_t begin, size_t end) {
  for (size_t k = begin; k < end && k < masked.size(); ++k) masked[k] = true;
}

// The token chars[start, end) when it is NAME=value with a secret name: its
// value's raw text is marked.
void mark_property(const std::vector<Char>& chars, size_t start, size_t end, const Names& names,
                   std::vector<bool>& masked) {
  if (start >= end || chars[start].c == L'/' || chars[start].c == L'-') return;  // a switch
  std::wstring name;
  size_t eq = start;
  for (; eq < end && chars[eq].c != L'='; ++eq) {
    if (chars[eq].c == L'"') return;
    name.push_back(chars[eq].c);
  }
  if (eq == start || eq + 1 >= end || !is_secret(name, names)) return;
  mark(masked, chars[eq + 1].begin, chars[end - 1].end);
}

// A property list as the Windows Installer reads it: blanks and tabs outside
// double quotes separate, each quote toggles.
void mark_property_list(const std::vector<Char>& chars, size_t from, const Names& names, std::vector<bool>& masked) {
  size_t i = from;
  while (i < chars.size()) {
    while (i < chars.size() && (chars[i].c == L' ' || chars[i].c == L'\t')) ++i;
    const size_t start = i;
    bool quoted = false;
    for (; i < chars.size() && (quoted || (chars[i].c != L' ' && chars[i].c != L'\t')); ++i)
      if (chars[i].c == L'"') quoted = !quoted;
    mark_property(chars, start, i, names, masked);
  }
}

bool is_switch(const Arg& arg, wchar_t letter) {
  return arg.chars.size() >= 2 && (arg.chars[0].c == L'/' || arg.chars[0].c == L'-') &&
         fold(arg.chars[1].c) == letter;
}

}  // namespace

std::vector<std::wstring> parse_hidden_list(std::wstring_view value) {
  std::vector<std::wstring> out;
  size_t start = 0;
  while (start <= value.size()) {
    size_t end = value.find(L';', start);
    if (end == std::wstring_view::npos) end = value.size();
    std::wstring_view name = value.substr(start, end - start);
    while (!name.empty() && (name.front() == L' ' || name.front() == L'\t')) name.remove_prefix(1);
    while (!name.empty() && (name.back() == L' ' || name.back() == L'\t')) name.remove_suffix(1);
    if (!name.empty()) out.emplace_back(name);
    start = end + 1;
  }
  return out;
}

bool is_secret(std::wstring_view name, const Names& names) {
  if (contains_word(name, L"PASSWORD") || contains_word(name, L"PWD")) return true;
  if (!names.known) return is_identifier(name);
  for (const std::wstring& hidden : names.hidden)
    if (same_name(name, hidden)) return true;
  return false;
}

std::wstring mask(const std::wstring& text, const Names& names) {
  std::vector<bool> masked(text.size(), false);
  // The text as the Windows Installer reads a command line or a property list.
  std::vector<Char> raw;
  raw.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) raw.push_back({text[i], i, i + 1});
  mark_property_list(raw, 0, names, masked);

  for (Rules r : {Rules::kArgvPairs, Rules::kArgvToggle, Rules::kSwitchList}) {
    for (const Arg& arg : split(text, r)) {
      if (is_switch(arg, L'P')) mark(masked, arg.chars[1].end, arg.end);
      if (r == Rules::kSwitchList) continue;  // no property reaches the installer through it
      if (is_switch(arg, L'V'))
        mark_property_list(arg.chars, 2, names, masked);
      else
        mark_property(arg.chars, 0, arg.chars.size(), names, masked);
    }
  }

  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (!masked[i])
      out.push_back(text[i]);
    else if (i == 0 || !masked[i - 1])
      out += L"***";
  }
  return out;
}

namespace {
Names& process_names() {
  static Names names;
  return names;
}
}  // namespace

const Names& log_names() { return process_names(); }

void set_hidden_properties(std::wstring_view value) {
  process_names().known = true;
  process_names().hidden = parse_hidden_list(value);
}

void reset_for_tests() { process_names() = Names(); }

std::wstring for_log(const std::wstring& text) { return mask(text, log_names()); }

}  // namespace secret_mask
