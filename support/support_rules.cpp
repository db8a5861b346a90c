// portable
#include "support/support_rules.h"

#include <climits>

#include "support/number_text.h"

namespace qz::rules {
namespace {

bool is_sep(wchar_t c) { return c == L'\\' || c == L'/'; }

wchar_t ascii_lower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool istarts_with(std::wstring_view s, std::wstring_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (ascii_lower(s[i]) != ascii_lower(prefix[i])) return false;
  return true;
}

bool is_drive(std::wstring_view component) {
  return component.size() == 2 && component[1] == L':' &&
         ((component[0] >= L'A' && component[0] <= L'Z') || (component[0] >= L'a' && component[0] <= L'z'));
}

size_t leaf_start(std::wstring_view path) {
  size_t pos = path.find_last_of(L"\\/");
  return pos == std::wstring_view::npos ? 0 : pos + 1;
}

}  // namespace

std::vector<std::wstring> folder_prefixes(std::wstring_view path) {
  // Component boundaries: [begin, end) of each backslash-separated piece.
  std::vector<std::pair<size_t, size_t>> parts;
  size_t begin = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == L'\\') {
      parts.emplace_back(begin, i);
      begin = i + 1;
    }
  }
  size_t fixed = 0;  // leading components that name a drive or share and are never created
  auto part = [&](size_t k) { return path.substr(parts[k].first, parts[k].second - parts[k].first); };
  if (path.substr(0, 2) == L"\\\\") {
    fixed = 4;  // "", "", server, share
    // "\\?\UNC\server\share" and "\\?\C:" are device-path spellings of the same roots.
    if (parts.size() > 3 && (part(2) == L"?" || part(2) == L".") && istarts_with(part(3), L"UNC")) fixed = 6;
  } else if (!parts.empty() && (is_drive(part(0)) || part(0).empty())) {
    fixed = 1;
  }
  std::vector<std::wstring> out;
  for (size_t k = fixed; k < parts.size(); ++k) {
    if (parts[k].first == parts[k].second) continue;
    out.emplace_back(path.substr(0, parts[k].second));
  }
  return out;
}

bool refuses_folder_removal(std::wstring_view path) {
  if (path.empty()) return true;
  bool absolute = is_sep(path[0]) || (path.size() >= 2 && path[1] == L':');
  if (absolute && path.size() <= 3) return true;
  std::wstring_view s = path;
  if (s.size() >= 4 && is_sep(s[0]) && is_sep(s[1]) && (s[2] == L'?' || s[2] == L'.') && is_sep(s[3])) s.remove_prefix(4);
  while (!s.empty() && is_sep(s.back())) s.remove_suffix(1);
  return is_drive(s) || s.empty();
}

bool is_internet_address(std::wstring_view source) {
  return istarts_with(source, L"http://") || istarts_with(source, L"https://") || istarts_with(source, L"ftp://");
}

std::wstring apply_temp_extension(std::wstring_view path, std::wstring_view extension) {
  size_t leaf = leaf_start(path);
  std::wstring out(path);
  if (!extension.empty()) {
    if (extension[0] == L'.') extension.remove_prefix(1);
    size_t dot = out.find_last_of(L'.');
    if (dot != std::wstring::npos && dot >= leaf) out.resize(dot);
    out += L'.';
    out.append(extension);
    return out;
  }
  std::wstring_view name = path.substr(leaf);
  if (name.size() >= 4 && istarts_with(name.substr(name.size() - 4), L".tmp")) out.resize(out.size() - 4);
  return out;
}

bool string_block_entry(const unsigned char* data, size_t size, unsigned index, std::u16string* out) {
  if (index > 15 || (!data && size)) return false;
  size_t pos = 0;
  for (unsigned i = 0;; ++i) {
    if (size - pos < 2) return false;
    size_t len = static_cast<size_t>(data[pos]) | (static_cast<size_t>(data[pos + 1]) << 8);
    pos += 2;
    if ((size - pos) / 2 < len) return false;
    if (i == index) {
      if (out) {
        out->resize(len);
        for (size_t k = 0; k < len; ++k)
          (*out)[k] = static_cast<char16_t>(data[pos + 2 * k] | (data[pos + 2 * k + 1] << 8));
      }
      return true;
    }
    pos += 2 * len;
  }
}

std::vector<uint16_t> string_block_languages(uint16_t language) {
  const uint16_t candidates[] = {language, static_cast<uint16_t>((1u << 10) | (language & 0x3FFu)), 0x0400, 0};
  std::vector<uint16_t> out;
  for (uint16_t c : candidates) {
    bool seen = false;
    for (uint16_t o : out) seen = seen || o == c;
    if (!seen) out.push_back(c);
  }
  return out;
}

uint16_t parse_hex_language(std::wstring_view text) {
  while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == L' ' || text.back() == L'\t')) text.remove_suffix(1);
  if (text.empty() || text.size() > 8) return 0;
  uint32_t value = 0;
  for (wchar_t c : text) {
    unsigned digit;
    if (c >= L'0' && c <= L'9') digit = static_cast<unsigned>(c - L'0');
    else if (c >= L'a' && c <= L'f') digit = static_cast<unsigned>(c - L'a' + 10);
    else if (c >= L'A' && c <= L'F') digit = static_cast<unsigned>(c - L'A' + 10);
    else return 0;
    value = (value << 4) | digit;
  }
  return value <= 0xFFFF ? static_cast<uint16_t>(value) : 0;
}

uint16_t fallback_ui_language(std::wstring_view resource_locale, std::wstring_view locale) {
  if (uint16_t l = parse_hex_language(resource_locale)) return l;
  if (uint16_t l = parse_hex_language(locale)) return l;
  return 1033;
}

int parse_profile_int(std::wstring_view text, int default_value) {
  NumberRules r;
  r.blanks = NumberRules::kSpacesAndTabs;
  bool digits = false;
  int value = read_integer(text, r, &digits);
  return digits ? value : default_value;
}

// PROCESSOR_ARCHITECTURE_* and IMAGE_FILE_MACHINE_* values.
constexpr unsigned kArchArm = 5, kArchIa64 = 6, kArchAmd64 = 9, kArchArm64 = 12;
constexpr unsigned kMachineArm = 0x01C0, kMachineArmNt = 0x01C4, kMachineArm64 = 0xAA64;

bool arch_is_x64(const Architecture& a) { return a.processor == kArchAmd64; }
bool arch_is_itanium(const Architecture& a) { return a.processor == kArchIa64; }
bool arch_is_x86_family64(const Architecture& a) { return arch_is_x64(a) || arch_is_itanium(a); }
bool arch_is_arm64(const Architecture& a) { return a.processor == kArchArm64 || a.native_machine == kMachineArm64; }
bool arch_is_arm32(const Architecture& a) {
  return a.processor == kArchArm || a.native_machine == kMachineArm || a.native_machine == kMachineArmNt;
}
bool arch_is_64bit(const Architecture& a) { return arch_is_x86_family64(a) || arch_is_arm64(a); }

}  // namespace qz::rules
