// portable
#include "package/IniProfile.h"

#include <algorithm>
#include <climits>
#include <cwchar>

#include "package/qzfile.h"

namespace qz {
namespace {

constexpr size_t kUtf16Probe = 1024;

bool is_trim(wchar_t c) { return c == L'\n' || c == L'\t' || c == L' '; }

std::wstring_view trim(std::wstring_view s) {
  size_t b = 0, e = s.size();
  while (b < e && is_trim(s[b])) ++b;
  while (e > b && is_trim(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool has_line_break(std::wstring_view s) { return s.find_first_of(L"\r\n") != std::wstring_view::npos; }

// Copies text (cut to capacity-1) and a terminator.
void copy_out(std::wstring_view text, wchar_t* buffer, size_t capacity) {
  if (!buffer || capacity == 0) return;
  size_t n = std::min(text.size(), capacity - 1);
  std::copy_n(text.data(), n, buffer);
  buffer[n] = L'\0';
}

}  // namespace

int profile_atoi(std::wstring_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == L' ' || (s[i] >= L'\t' && s[i] <= L'\r'))) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == L'+' || s[i] == L'-')) negative = s[i++] == L'-';
  long long value = 0;
  const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
  for (; i < s.size() && s[i] >= L'0' && s[i] <= L'9'; ++i) {
    value = value * 10 + (s[i] - L'0');
    if (value > limit) return negative ? INT_MIN : INT_MAX;
  }
  return static_cast<int>(negative ? -value : value);
}

bool IniProfile::load() {
  Bytes bytes;
  try {
    file f;
    if (f.open(path_, kFileRead, kShareRead, kOpenExisting)) return false;
    bytes = f.read_all();
    f.close();
  } catch (const std::bad_alloc&) {
    return false;
  } catch (...) {
    if (!caught_file_error()) throw;
    return false;
  }
  sections_.clear();
  load_bytes(bytes, system_ansi_decode);
  return true;
}

void IniProfile::load_bytes(ByteView bytes, AnsiDecoder ansi) {
  std::wstring text;
  ByteView probe = bytes.first(std::min(bytes.size(), kUtf16Probe));
  if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    // The mark many editors write: read as ANSI it would glue itself to the first section's name.
    text = decode_utf8(bytes.subspan(3));
  } else if (std::find(probe.begin(), probe.end(), uint8_t{0}) != probe.end()) {
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) bytes = bytes.subspan(2);
    text = decode_utf16(bytes, false);
  } else {
    text = decode_text(bytes, kCodePageThreadAnsi, ansi);
  }

  Keys* current = nullptr;
  std::wstring_view all(text);
  size_t pos = 0;
  while (pos < all.size()) {
    // Each line ends at its own LF (with the CR before it when there is one); a final
    // line without a line end counts as well. Ending lines only at CR LF while one
    // remains would glue the lone-LF lines of a mixed file into one value and lose keys.
    size_t lf = all.find(L'\n', pos);
    size_t end = lf == std::wstring_view::npos ? all.size() : lf;
    size_t line_end = (lf != std::wstring_view::npos && end > pos && all[end - 1] == L'\r') ? end - 1 : end;
    std::wstring_view line = trim(all.substr(pos, line_end - pos));
    pos = lf == std::wstring_view::npos ? all.size() : lf + 1;

    if (line.empty() || line[0] == L';') continue;
    if (line[0] == L'[') {
      size_t close = line.find(L']', 1);
      if (close != std::wstring_view::npos) {
        current = &sections_[std::wstring(line.substr(1, close - 1))];
        continue;
      }
    }
    size_t eq = line.find(L'=');
    if (eq == std::wstring_view::npos || !current) continue;
    (*current)[std::wstring(trim(line.substr(0, eq)))] = std::wstring(line.substr(eq + 1));  // the last value wins
  }
}

bool IniProfile::get_string(const wchar_t* section, const wchar_t* key, const wchar_t* default_value,
                            wchar_t* buffer, size_t capacity) const {
  if (!buffer) capacity = 0;
  auto s = section ? sections_.find(section) : sections_.end();
  if (s == sections_.end()) {
    copy_out(default_value ? default_value : L"", buffer, capacity);
    return false;
  }
  if (key) {
    auto k = s->second.find(key);
    copy_out(k == s->second.end() ? std::wstring_view() : std::wstring_view(k->second), buffer, capacity);
    return true;
  }
  // Names with their zeros and a final zero; cut so that it still ends in two zeros.
  if (capacity == 0) return true;
  std::wstring list;
  for (const auto& [name, value] : s->second) {
    list += name;
    list.push_back(L'\0');
  }
  if (list.empty()) list.push_back(L'\0');
  list.push_back(L'\0');
  if (list.size() <= capacity) {
    std::copy(list.begin(), list.end(), buffer);
  } else if (capacity == 1) {
    buffer[0] = L'\0';
  } else {
    std::copy_n(list.begin(), capacity - 2, buffer);
    buffer[capacity - 2] = L'\0';
    buffer[capacity - 1] = L'\0';
  }
  return true;
}

int IniProfile::get_int(const wchar_t* section, const wchar_t* key, int default_value, wchar_t* buffer,
                        size_t capacity) const {
  if (!buffer || capacity == 0) return default_value;
  if (!get_string(section, key, L"", buffer, capacity) || buffer[0] == L'\0') return default_value;
  return profile_atoi(std::wstring_view(buffer, std::wcslen(buffer)));
}

bool IniProfile::get_key_list(const wchar_t* section, std::wstring& out, wchar_t separator) const {
  auto s = section ? sections_.find(section) : sections_.end();
  if (s == sections_.end()) return false;
  for (const auto& [name, value] : s->second) {
    out += name;
    out.push_back(separator);
  }
  return true;
}

bool IniProfile::write_string(const wchar_t* section, const wchar_t* key, const wchar_t* value) {
  if (!section) return false;
  std::wstring_view sec(section);
  if (has_line_break(sec) || sec.find(L']') != std::wstring_view::npos) return false;
  if (!key) {
    sections_.erase(std::wstring(sec));  // nothing changes when it is absent
    return true;
  }
  std::wstring_view k(key);
  if (has_line_break(k) || k.find(L'=') != std::wstring_view::npos || (!k.empty() && (k[0] == L';' || k[0] == L'[')))
    return false;
  if (!value) {
    auto s = sections_.find(std::wstring(sec));
    if (s != sections_.end()) s->second.erase(std::wstring(k));
    return true;
  }
  std::wstring_view v(value);
  if (has_line_break(v)) return false;
  sections_[std::wstring(sec)][std::wstring(k)] = std::wstring(v);
  return true;
}

Bytes IniProfile::to_bytes() const {
  std::wstring text;
  bool first = true;
  for (const auto& [name, keys] : sections_) {
    if (!first) text += L"\r\n";
    first = false;
    text += L"[" + name + L"]\r\n";
    for (const auto& [key, value] : keys) text += key + L"=" + value + L"\r\n";
  }
  Bytes out{0xFF, 0xFE};
  append_utf16(text, false, out);
  return out;
}

bool IniProfile::save(const std::wstring& path) {
  const std::wstring& target = path.empty() ? path_ : path;
  if (target.empty()) return false;
  try {
    Bytes bytes = to_bytes();
    file f;
    if (f.open(target, kFileWrite, kShareRead, kCreateAlways)) return false;
    f.write(bytes.data(), bytes.size());
    f.close();
  } catch (...) {
    if (!caught_file_error()) throw;
    return false;
  }
  if (target != path_) path_ = target;
  return true;
}

std::optional<std::wstring> IniProfile::find(std::wstring_view section, std::wstring_view key) const {
  auto s = sections_.find(std::wstring(section));
  if (s == sections_.end()) return std::nullopt;
  auto k = s->second.find(std::wstring(key));
  if (k == s->second.end()) return std::nullopt;
  return k->second;
}

}  // namespace qz
