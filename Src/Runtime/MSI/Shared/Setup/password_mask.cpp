// portable
#include "password_mask.h"

#include <vector>

namespace {

enum class Rules {
  kArgvPairs,   // argument splitter: backslashes escape quotes, "" inside quotes is a quote
  kArgvToggle,  // older splitter rule: every unescaped quote toggles
  kSwitchList,  // switch tokenizer: only blanks separate, every quote toggles
};

bool is_gap(wchar_t c, Rules r) { return c == L' ' || (r != Rules::kSwitchList && c == L'\t'); }

// Marks in `masked` the characters of every argument value that follows a
// switch character and p under the given splitting rules.
void mark(const std::wstring& s, Rules rules, std::vector<bool>& masked) {
  const size_t n = s.size();
  size_t i = 0;
  while (i < n) {
    while (i < n && is_gap(s[i], rules)) ++i;
    if (i >= n) break;
    // Walk one argument, keeping the raw position after each produced character.
    bool quoted = false;
    size_t produced = 0;
    bool is_switch = false, is_password = false;
    size_t value_start = 0;
    auto produce = [&](wchar_t c, size_t raw_next) {
      if (produced == 0) is_switch = (c == L'/' || c == L'-');
      if (produced == 1 && is_switch && (c == L'p' || c == L'P')) {
        is_password = true;
        value_start = raw_next;
      }
      ++produced;
    };
    while (i < n && (quoted || !is_gap(s[i], rules))) {
      wchar_t c = s[i];
      if (rules != Rules::kSwitchList && c == L'\\') {
        size_t j = i;
        while (j < n && s[j] == L'\\') ++j;
        size_t count = j - i;
        if (j < n && s[j] == L'"') {
          for (size_t k = 0; k < count / 2; ++k) produce(L'\\', i + k + 1);
          if (count % 2) {
            produce(L'"', j + 1);
            i = j + 1;
          } else {
            i = j;  // the quote is handled below
          }
        } else {
          for (size_t k = 0; k < count; ++k) produce(L'\\', i + k + 1);
          i = j;
        }
        continue;
      }
      if (c == L'"') {
        if (rules == Rules::kArgvPairs && quoted && i + 1 < n && s[i + 1] == L'"') {
          produce(L'"', i + 2);
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      produce(c, i + 1);
      ++i;
    }
    if (is_password)
      for (size_t k = value_start; k < i; ++k) masked[k] = true;
  }
}

}  // namespace

std::wstring mask_password_in_command_line(const std::wstring& text) {
  std::vector<bool> masked(text.size(), false);
  for (Rules r : {Rules::kArgvPairs, Rules::kArgvToggle, Rules::kSwitchList}) mark(text, r, masked);
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (!masked[i]) {
      out.push_back(text[i]);
    } else if (i == 0 || !masked[i - 1]) {
      out += L"***";
    }
  }
  return out;
}
