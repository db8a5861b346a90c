// IniProfile: the light INI reader and writer of the session and the deletion list.
//
// Sorted maps of section -> key -> value, names compared ignoring case. Unlike
// inifilex, lines are trimmed and a repeated key keeps its last value. Read as
// UTF-8 after its byte order mark, as UTF-16LE when any of the first 1024 bytes is
// zero, else in the thread's ANSI code page; written as UTF-16LE with a byte order
// mark and CR LF line ends.
#pragma once
#include <cstddef>
#include <map>
#include <optional>
#include <string>

#include "package/text_encoding.h"
#include "package/vector_map_i.h"

namespace qz {

struct IniNameLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const { return icompare(a, b) < 0; }
};

class IniProfile {
 public:
  using Keys = std::map<std::wstring, std::wstring, IniNameLess>;
  using Sections = std::map<std::wstring, Keys, IniNameLess>;

  IniProfile() = default;
  explicit IniProfile(std::wstring path) : path_(std::move(path)) {}

  void set_path(std::wstring path) { path_ = std::move(path); }
  const std::wstring& path() const { return path_; }

  // Replaces the profile by the file named by path(). False (profile unchanged) when
  // it cannot be opened or read or is larger than the file object accepts.
  bool load();
  // Adds what the bytes hold to the profile; ANSI text goes through `ansi` with the
  // thread's code page (3).
  void load_bytes(ByteView bytes, AnsiDecoder ansi);

  // Copies at most capacity-1 characters and a terminator. Missing section: the
  // default, false. With a key: its value, or empty text when the key is absent,
  // true. Without a key: the key names, each ended by a zero, the list by another.
  bool get_string(const wchar_t* section, const wchar_t* key, const wchar_t* default_value, wchar_t* buffer,
                  size_t capacity) const;
  // get_string with an empty default, then the decimal value; the default when the
  // section is missing or the text is empty.
  int get_int(const wchar_t* section, const wchar_t* key, int default_value, wchar_t* buffer, size_t capacity) const;
  // Every key name followed by the separator; false when the section is absent.
  bool get_key_list(const wchar_t* section, std::wstring& out, wchar_t separator) const;
  // In memory only. Null key: deletes the section. Null value: deletes the key.
  // Refuses (false) a null section and names or values that could not be read back
  // as written: line breaks anywhere, "]" in a section name, "=" in a key or a key
  // beginning with ";" or "[".
  bool write_string(const wchar_t* section, const wchar_t* key, const wchar_t* value);
  // Writes the whole profile; an empty path means path(). On success the path
  // becomes the profile's path.
  bool save(const std::wstring& path);
  Bytes to_bytes() const;

  std::optional<std::wstring> find(std::wstring_view section, std::wstring_view key) const;
  const Sections& sections() const { return sections_; }

 private:
  Sections sections_;
  std::wstring path_;
};

// The decimal value of text: leading blanks and a sign allowed, stops at the first
// non-digit, saturates at the int limits.
int profile_atoi(std::wstring_view text);

}  // namespace qz
