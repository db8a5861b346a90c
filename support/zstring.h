// portable
// Wide text and paths used across the launcher.
//
// zString is std::wstring with the few conveniences the launcher needs. On Windows
// the operations declared here keep the thread's last-error value, so a caller can
// build a message after a failed system call and still read that call's error.
// zpath adds the backslash path operations. Nothing here assumes a 16-bit wchar_t.
#pragma once
#include <cstdarg>
#include <string>
#include <string_view>

namespace qz {

// Saves the thread's last error on construction and restores it on destruction.
// A no-op off Windows.
class LastErrorKeeper {
 public:
  LastErrorKeeper();
  ~LastErrorKeeper();
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

 private:
  unsigned long saved_;
};

}  // namespace qz

class zString : public std::wstring {
 public:
  using std::wstring::wstring;
  zString() = default;
  zString(const std::wstring& s) : std::wstring(s) {}
  zString(std::wstring&& s) : std::wstring(std::move(s)) {}
  zString(std::wstring_view s) : std::wstring(s) {}

  // printf-style wide formatting. On Windows %s takes a wide string (the runtime's
  // wide printf); portable code writes %ls, which means wide everywhere.
  static zString format(const wchar_t* fmt, ...);
  static zString vformat(const wchar_t* fmt, va_list args);

  bool iequals(std::wstring_view other) const;
  bool istarts_with(std::wstring_view prefix) const;
  bool starts_with_text(std::wstring_view prefix) const { return std::wstring_view(*this).substr(0, prefix.size()) == prefix; }
  // Blanks, tabs, CR and LF removed from both ends.
  zString trimmed() const;
};

// Case-insensitive comparison over ASCII and Latin letters (enough for switch and key names).
bool wide_iequals(std::wstring_view a, std::wstring_view b);
wchar_t wide_lower(wchar_t c);

class zpath : public zString {
 public:
  using zString::zString;
  zpath() = default;
  zpath(const zString& s) : zString(s) {}
  zpath(const std::wstring& s) : zString(s) {}

  // Everything before the last backslash ("" when there is none).
  zpath folder() const;
  // The text after the last backslash (the whole text when there is none).
  zString leaf() const;
  // this + "\" + name with exactly one backslash between them.
  zpath join(std::wstring_view name) const;
  zpath& add_backslash();
  zpath& remove_backslash();
  // Removes one pair of enclosing double quotes; a leading quote without a
  // closing one is removed alone.
  zpath& unquote();
  // "C:\" for "C:\x\y", "\\server\share\" for a UNC path, "" otherwise.
  zpath root() const;
  bool is_absolute() const;
};

// Removes one pair of enclosing double quotes (see zpath::unquote).
std::wstring unquote_text(std::wstring_view s);
