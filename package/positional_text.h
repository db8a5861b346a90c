// Multi-value texts of the string table: "%1".."%9" and "%A".."%Z" name the
// arguments 1 to 35, so a translation can put them in any order.
#pragma once
#include <string>
#include <vector>

namespace lang {

// `pattern` with each placeholder replaced by its argument (an empty argument by
// nothing) and each placeholder beyond `args` by "?". A "%" before any other
// character, and a "%" at the end, is copied unchanged.
std::wstring fill_positional(const std::wstring& pattern, const std::vector<std::wstring>& args);

// `pattern` with its printf-style markers (%s, %ls, %d, %i, %u, %lu, %ld) taken in
// order by `args` and "%%" made one "%". Nothing else is interpreted, so a
// translated text with stray or extra markers never reads an argument that was not
// passed: missing ones become empty.
std::wstring fill_printf_style(const std::wstring& pattern, const std::vector<std::wstring>& args);

}  // namespace lang
