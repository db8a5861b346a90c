// portable
#include "package/positional_text.h"

namespace lang {

std::wstring fill_positional(const std::wstring& pattern, const std::vector<std::wstring>& args) {
  std::wstring out;
  out.reserve(pattern.size());
  for (size_t i = 0; i < pattern.size(); ++i) {
    wchar_t c = pattern[i];
    if (c != L'%' || i + 1 >= pattern.size()) {
      out.push_back(c);
      continue;
    }
    wchar_t next = pattern[i + 1];
    size_t index;
    if (next >= L'1' && next <= L'9') {
      index = static_cast<size_t>(next - L'1');
    } else if (next >= L'A' && next <= L'Z') {
      index = static_cast<size_t>(next - L'A') + 9;
    } else {
      out.push_back(c);
      continue;
    }
    if (index < args.size())
      out += args[index];
    else
      out.push_back(L'?');
    ++i;
  }
  return out;
}

std::wstring fill_printf_style(const std::wstring& pattern, const std::vector<std::wstring>& args) {
  static const wchar_t* const kMarkers[] = {L"%ls", L"%lu", L"%ld", L"%s", L"%d", L"%i", L"%u"};
  std::wstring out;
  size_t next_arg = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == L'%') {
      if (pattern.compare(i, 2, L"%%") == 0) {
        out.push_back(L'%');
        ++i;
        continue;
      }
      bool matched = false;
      for (const wchar_t* m : kMarkers) {
        size_t n = std::char_traits<wchar_t>::length(m);
        if (pattern.compare(i, n, m) == 0) {
          if (next_arg < args.size()) out += args[next_arg];
          ++next_arg;
          i += n - 1;
          matched = true;
          break;
        }
      }
      if (matched) continue;
    }
    out.push_back(pattern[i]);
  }
  return out;
}

}  // namespace lang
