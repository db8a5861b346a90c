// portable
#include "package/inifilex.h"

#include <climits>

#include "package/qzfile.h"
#include "support/number_text.h"

namespace qz {
namespace {

bool is_space(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

// Case-insensitive search; an empty needle never matches.
size_t ifind(std::wstring_view hay, std::wstring_view needle) {
  if (needle.empty() || needle.size() > hay.size()) return std::wstring_view::npos;
  for (size_t i = 0; i + needle.size() <= hay.size(); ++i)
    if (char_traitsi::compare(hay.data() + i, needle.data(), needle.size()) == 0) return i;
  return std::wstring_view::npos;
}

std::wstring format_two(std::wstring_view format, std::wstring_view first, std::wstring_view second) {
  std::wstring out;
  int used = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    wchar_t c = format[i];
    if (c == L'%' && i + 1 < format.size()) {
      if (format[i + 1] == L'%') {
        out.push_back(L'%');
        ++i;
        continue;
      }
      size_t len = format[i + 1] == L's' ? 2 : (format.substr(i + 1, 2) == L"ls" ? 3 : 0);
      if (len && used < 2) {
        out.append(used++ == 0 ? first : second);
        i += len - 1;
        continue;
      }
    }
    out.push_back(c);
  }
  return out;
}

}  // namespace

std::wstring format_number_key(std::wstring_view format, int number, bool* had_number) {
  if (had_number) *had_number = false;
  std::wstring out;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != L'%' || i + 1 >= format.size()) {
      out.push_back(format[i]);
      continue;
    }
    if (format[i + 1] == L'%') {
      out.push_back(L'%');
      ++i;
      continue;
    }
    size_t j = i + 1;
    bool left = false, zero = false, plus = false, space = false;
    for (; j < format.size(); ++j) {
      wchar_t f = format[j];
      if (f == L'-') left = true;
      else if (f == L'0') zero = true;
      else if (f == L'+') plus = true;
      else if (f == L' ') space = true;
      else break;
    }
    size_t width = 0;
    for (; j < format.size() && format[j] >= L'0' && format[j] <= L'9'; ++j)
      width = width < 1000 ? width * 10 + static_cast<size_t>(format[j] - L'0') : width;
    if (j >= format.size() || (format[j] != L'd' && format[j] != L'i' && format[j] != L'u') || width > 32) {
      out.push_back(format[i]);  // not a number placeholder: taken literally
      continue;
    }
    if (had_number) *had_number = true;
    std::wstring digits;
    unsigned long long magnitude;
    bool negative = false;
    if (format[j] == L'u') {
      magnitude = static_cast<unsigned int>(number);
    } else {
      negative = number < 0;
      magnitude = negative ? 0ull - static_cast<unsigned long long>(static_cast<long long>(number))
                           : static_cast<unsigned long long>(number);
    }
    do {
      digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + magnitude % 10));
      magnitude /= 10;
    } while (magnitude);
    std::wstring sign = negative ? L"-" : (format[j] != L'u' && plus ? L"+" : (format[j] != L'u' && space ? L" " : L""));
    size_t len = sign.size() + digits.size();
    std::wstring pad = width > len ? std::wstring(width - len, zero && !left ? L'0' : L' ') : std::wstring();
    if (left) out += sign + digits + pad;
    else if (zero) out += sign + pad + digits;
    else out += pad + sign + digits;
    i = j;
  }
  return out;
}

void inifilex::attach(std::wstring path, std::wstring separator) {
  path_ = std::move(path);
  separator_ = std::move(separator);
}

void inifilex::begin_load(std::wstring path, std::wstring separator, bool keys_without_values) {
  clear();
  path_ = std::move(path);
  separator_ = std::move(separator);
  keys_without_values_ = keys_without_values;
  last_error_ = 0;
}

bool inifilex::load(std::wstring path, std::wstring separator, bool keys_without_values) {
  begin_load(std::move(path), std::move(separator), keys_without_values);
  file f;
  last_error_ = f.open(path_, kFileRead, kShareRead, kOpenExisting);
  if (last_error_) return false;
  if (f.size() > kMaxTextFileBytes) {
    last_error_ = kErrorFileTooLarge;
    return false;
  }
  // A forced code page yields to a byte order mark.
  if (code_page_ != -1 && !f.has_bom()) f.set_code_page(code_page_);
  code_page_ = f.code_page();
  bom_ = f.has_bom();
  std::wstring text = f.read_text();
  f.close();
  return parse(text);
}

bool inifilex::load_bytes(ByteView bytes, std::wstring separator, bool keys_without_values) {
  begin_load(path_, std::move(separator), keys_without_values);
  if (bytes.size() > kMaxTextFileBytes) {
    last_error_ = kErrorFileTooLarge;
    return false;
  }
  file f;
  f.open_memory(Bytes(bytes.begin(), bytes.end()), path_);
  if (code_page_ != -1 && !f.has_bom()) f.set_code_page(code_page_);
  code_page_ = f.code_page();
  bom_ = f.has_bom();
  return parse(f.read_text());
}

bool inifilex::parse(std::wstring_view text) {
  inifilesectionx* current = nullptr;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = pos;
    while (end < text.size() && text[end] != L'\r' && text[end] != L'\n') ++end;
    std::wstring_view line = text.substr(pos, end - pos);
    pos = end;
    if (pos < text.size()) pos += (text[pos] == L'\r' && pos + 1 < text.size() && text[pos + 1] == L'\n') ? 2 : 1;

    if (line.empty() || line[0] == L';') continue;
    if (line[0] == L'[') {
      size_t close = line.find(L']', 1);
      if (close == std::wstring_view::npos) return false;
      current = &sections_.add(line.substr(1, close - 1));
      continue;
    }
    if (!current) return false;
    // The value starts after the whole separator, so "k::v" with "::" reads "v".
    size_t sep = ifind(line, separator_);
    std::wstring_view key = sep == std::wstring_view::npos ? line : line.substr(0, sep);
    std::wstring_view value =
        sep == std::wstring_view::npos ? std::wstring_view() : line.substr(sep + separator_.size());
    bool added = false;
    inifileentryx& entry = current->entries().add(key, &added);
    if (added) entry.value.assign(value);  // the first value wins
  }
  modified_ = false;
  return true;
}

std::wstring inifilex::to_text() const {
  std::wstring text;
  bool first = true;
  for (const auto& [name, section] : sections_) {
    if (!first) text += L"\r\n";
    first = false;
    text += L"[";
    text.append(name.data(), name.size());
    text += L"]\r\n";
    for (const auto& [key, entry] : section.entries()) {
      text.append(key.data(), key.size());
      // An empty key keeps its separator: alone it would be an empty line, which
      // reads back as nothing.
      if (!(keys_without_values_ && entry.value.empty() && !key.empty())) {
        text += separator_;
        text += entry.value;
      }
      text += L"\r\n";
    }
  }
  return text;
}

uint32_t inifilex::to_bytes(Bytes& out) const {
  int32_t cp = code_page_ == -1 ? kCodePageAnsi : code_page_;
  return encode_text(to_text(), cp, bom_, system_ansi_encode, out);
}

bool inifilex::save(unsigned flags, int32_t code_page, bool bom) { return save_as(path_, flags, code_page, bom); }

bool inifilex::save_as(std::wstring path, unsigned flags, int32_t code_page, bool bom) {
  if ((flags & kIniSaveSkipEmpty) && sections_.empty()) return true;
  saving_ = true;
  if (flags & kIniSaveUseArguments) {
    set_code_page(code_page);
    set_bom(bom);
  }
  if (flags & kIniSaveSortSections) sort_sections();
  if (path.empty()) {
    saving_ = false;
    return false;
  }
  path_ = path;
  // Converted before the file is replaced, so a conversion failure leaves it intact.
  Bytes bytes;
  uint32_t err = to_bytes(bytes);
  if (!err) {
    try {
      file f;
      err = f.open(path, kFileWrite, kShareRead, kCreateAlways);
      if (!err) {
        f.write(bytes.data(), bytes.size());
        f.close();
      }
    } catch (...) {
      err = caught_file_error();
      if (!err) throw;
    }
  }
  saving_ = false;
  if (err) {
    last_error_ = err;
    failed_path_ = path;
    return false;
  }
  modified_ = false;
  return true;
}

void inifilex::set_separator(std::wstring separator) { separator_ = std::move(separator); }
std::wstring inifilex::get_separator() { return separator_; }
std::wstring inifilex::get_path() { return path_; }

void inifilex::copy_section(std::wstring target, const inifilesectionx& source) {
  // The source may be a section of this document: adding the target could move it.
  const inifilesectionx copy = source;
  for (const auto& [key, entry] : copy.entries()) set_string(target, to_wstring(key), entry.value);
}

void inifilex::import_sections(const section_list& sections, std::wstring prefix, std::wstring format) {
  for (const auto& [name, section] : sections) copy_section(format_two(format, prefix, name), section);
}

void inifilex::add_section(std::wstring section) {
  bool added = false;
  sections_.add(section, &added);
  if (added) modified_ = true;
}

bool inifilex::move_key_after(std::wstring section, std::wstring key, std::wstring anchor) {
  inifilesectionx* s = sections_.find(section);
  if (!s || !s->entries().move_after(key, anchor)) return false;
  modified_ = true;
  return true;
}

std::wstring inifilex::get_string(std::wstring section, std::wstring key, std::wstring default_value) {
  const inifilesectionx* s = sections_.find(section);
  const std::wstring* v = s ? s->value(key) : nullptr;
  return v ? *v : default_value;
}

void inifilex::set_string(std::wstring section, std::wstring key, std::wstring value) {
  sections_.add(section).set(key, std::move(value));
  modified_ = true;
}

int32_t inifilex::get_int(std::wstring section, std::wstring key, int32_t default_value) {
  const inifilesectionx* s = sections_.find(section);
  const std::wstring* v = s ? s->value(key) : nullptr;
  if (!v || v->empty()) return default_value;
  std::wstring_view text(*v);
  if (qz::has_hex_prefix(text)) return parse_long32(text.substr(2), 16);
  return parse_long32(text, 10);
}

void inifilex::set_int(std::wstring section, std::wstring key, int32_t value) {
  set_string(std::move(section), std::move(key), std::to_wstring(value));
}

bool inifilex::get_bool(std::wstring section, std::wstring key, bool default_value) {
  const inifilesectionx* s = sections_.find(section);
  const std::wstring* v = s ? s->value(key) : nullptr;
  if (!v || v->empty()) return default_value;
  for (const wchar_t* yes : {L"Yes", L"Y", L"1", L"True"})
    if (iequal(*v, yes)) return true;
  return false;
}

void inifilex::set_bool(std::wstring section, std::wstring key, bool value) {
  set_string(std::move(section), std::move(key), value ? L"Yes" : L"No");
}

bool inifilex::is_modified() { return modified_; }
void inifilex::set_modified(bool modified) { modified_ = modified; }
bool inifilex::section_exists(std::wstring section) { return sections_.contains(section); }

bool inifilex::key_exists(std::wstring section, std::wstring key) {
  const inifilesectionx* s = sections_.find(section);
  return s && s->entries().contains(key);
}

void inifilex::get_key_names(std::wstring section, string_list& out) {
  const inifilesectionx* s = sections_.find(section);
  if (!s) return;
  for (const auto& e : s->entries()) out.push_back(to_wstring(e.first));
}

void inifilex::get_section_names(string_list& out) {
  for (const auto& s : sections_) out.push_back(to_wstring(s.first));
}

size_t inifilex::find_sections(string_list& out, std::wstring prefix) {
  for (const auto& s : sections_)
    if (istarts_with(std::wstring_view(s.first.data(), s.first.size()), prefix)) out.push_back(to_wstring(s.first));
  return out.size();
}

void inifilex::get_numbered_values(std::wstring section, string_list& out, std::wstring key_format) {
  const inifilesectionx* s = sections_.find(section);
  if (!s) return;
  // Distinct numbers give distinct keys, so more steps than keys cannot find more;
  // a format without a number names one key only.
  const size_t steps = s->entries().size() + 1;
  for (size_t i = 0; i <= steps && i <= static_cast<size_t>(INT_MAX); ++i) {
    bool numbered = false;
    std::wstring key = format_number_key(key_format, static_cast<int>(i), &numbered);
    const std::wstring* v = s->value(key);
    if (v) out.push_back(*v);
    else if (i != 0) break;
    if (!numbered) break;
  }
}

bool inifilex::rename_section(std::wstring old_name, std::wstring new_name) {
  if (iequal(old_name, new_name)) return true;
  if (!sections_.rename(old_name, new_name)) return false;
  modified_ = true;
  return true;
}

bool inifilex::rename_key(std::wstring section, std::wstring old_key, std::wstring new_key) {
  if (iequal(old_key, new_key)) return true;
  inifilesectionx* s = sections_.find(section);
  if (!s || !s->entries().rename(old_key, new_key)) return false;
  modified_ = true;
  return true;
}

void inifilex::rename_section_prefix(std::wstring old_prefix, std::wstring new_prefix) {
  string_list names;
  find_sections(names, old_prefix);  // a snapshot: renamed names are not visited again
  for (const std::wstring& name : names) rename_section(name, new_prefix + name.substr(old_prefix.size()));
}

bool inifilex::delete_section(std::wstring section) {
  if (!sections_.erase(section)) return false;
  modified_ = true;
  return true;
}

bool inifilex::delete_key(std::wstring section, std::wstring key) {
  inifilesectionx* s = sections_.find(section);
  if (!s || !s->entries().erase(key)) return false;
  modified_ = true;
  return true;
}

bool inifilex::clear_section(std::wstring section) {
  inifilesectionx* s = sections_.find(section);
  if (!s) return false;
  s->entries().clear();
  modified_ = true;
  return true;
}

void inifilex::clear() { sections_.clear(); }

void inifilex::delete_sections_with_prefix(std::wstring prefix) {
  string_list names;
  find_sections(names, prefix);
  for (const std::wstring& name : names) delete_section(name);
}

void inifilex::sort() {
  sort_sections();
  sort_all_keys();
}

void inifilex::sort_sections() { sections_.sort(); }

void inifilex::sort_all_keys() {
  for (auto& s : sections_) sort_keys(s.second);
}

void inifilex::sort_keys(inifilesectionx& section) { section.entries().sort(); }

void inifilex::sort_section_keys(std::wstring section) { sort_keys(sections_.add(section)); }

void inifilex::set_code_page(int32_t code_page) { code_page_ = code_page; }

bool inifilex::set_bom(bool bom) {
  bom_ = bom;
  return bom_;
}

uint32_t inifilex::last_error() { return last_error_; }
std::wstring inifilex::last_failed_path() { return failed_path_; }

}  // namespace qz
