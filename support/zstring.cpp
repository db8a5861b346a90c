// portable
#include "support/zstring.h"

#include <cwchar>
#include <vector>

#ifdef _WIN32
extern "C" __declspec(dllimport) unsigned long __stdcall GetLastError(void);
extern "C" __declspec(dllimport) void __stdcall SetLastError(unsigned long);
#endif

namespace qz {
#ifdef _WIN32
LastErrorKeeper::LastErrorKeeper() : saved_(GetLastError()) {}
LastErrorKeeper::~LastErrorKeeper() { SetLastError(saved_); }
#else
LastErrorKeeper::LastErrorKeeper() : saved_(0) {}
LastErrorKeeper::~LastErrorKeeper() {}
#endif
}  // namespace qz

zString zString::format(const wchar_t* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  zString s = vformat(fmt, ap);
  va_end(ap);
  return s;
}

zString zString::vformat(const wchar_t* fmt, va_list args) {
  qz::LastErrorKeeper keep;
  std::vector<wchar_t> buf(256);
  for (;;) {
    va_list ap;
    va_copy(ap, args);
#ifdef _WIN32
    // mingw's C99 vswprintf: %s is a wide string for the wide functions.
    int n = _vsnwprintf(buf.data(), buf.size(), fmt, ap);
#else
    int n = vswprintf(buf.data(), buf.size(), fmt, ap);
#endif
    va_end(ap);
    if (n >= 0 && static_cast<size_t>(n) < buf.size()) return zString(buf.data(), static_cast<size_t>(n));
    if (buf.size() > (64u << 20)) return zString();  // refuse absurd sizes rather than loop
    buf.resize(buf.size() * 2);
  }
}

wchar_t wide_lower(wchar_t c) {
  if (c >= L'A' && c <= L'Z') return static_cast<wchar_t>(c - L'A' + L'a');
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<wchar_t>(c + 0x20);
  return c;
}

bool wide_iequals(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (wide_lower(a[i]) != wide_lower(b[i])) return false;
  return true;
}

bool zString::iequals(std::wstring_view other) const { return wide_iequals(*this, other); }

bool zString::istarts_with(std::wstring_view prefix) const {
  return size() >= prefix.size() && wide_iequals(std::wstring_view(*this).substr(0, prefix.size()), prefix);
}

zString zString::trimmed() const {
  auto is_blank = [](wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; };
  size_t b = 0, e = size();
  while (b < e && is_blank((*this)[b])) ++b;
  while (e > b && is_blank((*this)[e - 1])) --e;
  return zString(substr(b, e - b));
}

std::wstring unquote_text(std::wstring_view s) {
  if (s.empty() || s.front() != L'"') return std::wstring(s);
  if (s.size() >= 2 && s.back() == L'"') return std::wstring(s.substr(1, s.size() - 2));
  return std::wstring(s.substr(1));
}

zpath zpath::folder() const {
  size_t p = rfind(L'\\');
  return p == npos ? zpath() : zpath(substr(0, p));
}

zString zpath::leaf() const {
  size_t p = rfind(L'\\');
  return p == npos ? zString(*this) : zString(substr(p + 1));
}

zpath zpath::join(std::wstring_view name) const {
  qz::LastErrorKeeper keep;
  zpath r(*this);
  while (!name.empty() && name.front() == L'\\') name.remove_prefix(1);
  if (!r.empty() && r.back() != L'\\') r.push_back(L'\\');
  r.append(name);
  return r;
}

zpath& zpath::add_backslash() {
  if (empty() || back() != L'\\') push_back(L'\\');
  return *this;
}

zpath& zpath::remove_backslash() {
  if (!empty() && back() == L'\\') pop_back();
  return *this;
}

zpath& zpath::unquote() {
  assign(unquote_text(*this));
  return *this;
}

bool zpath::is_absolute() const {
  return (size() >= 2 && (*this)[1] == L':') || (size() >= 2 && (*this)[0] == L'\\' && (*this)[1] == L'\\');
}

zpath zpath::root() const {
  if (size() >= 2 && (*this)[1] == L':') return zpath(substr(0, 2) + L"\\");
  if (size() >= 2 && (*this)[0] == L'\\' && (*this)[1] == L'\\') {
    size_t server_end = find(L'\\', 2);
    if (server_end == npos) return zpath();
    size_t share_end = find(L'\\', server_end + 1);
    return zpath(share_end == npos ? *this + L"\\" : substr(0, share_end + 1));
  }
  return zpath();
}
