// Small readers of untrusted texts and bytes: a string-table resource block (the
// whole input), language identifiers and profile integers from registry and
// profile texts (lines 1 and 2), the folder rules over a path (line 3), and the
// installation password's digest (the whole input).
#include <zlib.h>

#include <cerrno>
#include <climits>
#include <cwchar>

#include "fuzz_input.h"
#include "support/support_rules.h"
#include "ui/password_digest.h"

using namespace qz::rules;

namespace {

// The block's entries, while complete, are the block itself again: each a length
// and that many units, nothing skipped and nothing read twice.
void check_string_block(const uint8_t* data, size_t size) {
  std::vector<uint8_t> again;
  bool complete = true;
  for (unsigned i = 0; i < 16; ++i) {
    std::u16string entry;
    const bool found = string_block_entry(data, size, i, &entry);
    if (!complete) FUZZ_CHECK(!found);  // a later entry never stands without the earlier ones
    if (!found) {
      complete = false;
      continue;
    }
    again.push_back(static_cast<uint8_t>(entry.size()));
    again.push_back(static_cast<uint8_t>(entry.size() >> 8));
    for (char16_t c : entry) again.insert(again.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
  }
  FUZZ_CHECK(again.size() <= size && std::equal(again.begin(), again.end(), data));
  FUZZ_CHECK(!string_block_entry(data, size, 16, nullptr));
}

bool is_letter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool is_hex_digit(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }

void check_language(const std::wstring& text) {
  const uint16_t id = parse_hex_language(text);
  size_t b = text.find_first_not_of(L" \t"), e = text.find_last_not_of(L" \t");
  std::wstring core = b == std::wstring::npos ? std::wstring() : text.substr(b, e - b + 1);
  bool digits = !core.empty() && core.size() <= 8;
  for (wchar_t c : core) digits = digits && is_hex_digit(c);
  const unsigned long value = digits ? std::wcstoul(core.c_str(), nullptr, 16) : 0;
  FUZZ_CHECK(id == (value <= 0xFFFF ? value : 0));
  const uint16_t fallback = fallback_ui_language(text, L"");
  FUZZ_CHECK(fallback == (id ? id : 1033));
}

// The profile integer against the C library's reader: blanks and tabs, a sign, then
// decimal digits, saturated at the int range.
void check_profile_int(const std::wstring& text) {
  const int kDefault = -7;
  const int got = parse_profile_int(text, kDefault);
  std::wstring rest = text.substr(std::min(text.size(), text.find_first_not_of(L" \t")));
  size_t digit = (!rest.empty() && (rest[0] == L'+' || rest[0] == L'-')) ? 1 : 0;
  if (digit >= rest.size() || rest[digit] < L'0' || rest[digit] > L'9') {
    FUZZ_CHECK(got == kDefault);
    return;
  }
  errno = 0;
  long long value = std::wcstoll(rest.c_str(), nullptr, 10);
  value = std::max<long long>(INT_MIN, std::min<long long>(INT_MAX, value));
  FUZZ_CHECK(got == value);
}

void check_folder_rules(const std::wstring& path) {
  // Each folder created is a prefix of the path ending at a separator or at its
  // end, shortest first, never a bare drive.
  std::vector<std::wstring> prefixes = folder_prefixes(path);
  for (size_t i = 0; i < prefixes.size(); ++i) {
    const std::wstring& p = prefixes[i];
    FUZZ_CHECK(!p.empty() && path.compare(0, p.size(), p) == 0);
    FUZZ_CHECK(p.size() == path.size() || path[p.size()] == L'\\');
    FUZZ_CHECK(p.back() != L'\\');
    if (i) FUZZ_CHECK(p.size() > prefixes[i - 1].size());
    FUZZ_CHECK(!(p.size() == 2 && p[1] == L':' && is_letter(p[0])));
  }
  // A drive root is never removed, however it is written.
  if (!path.empty() && is_letter(path[0])) {
    const std::wstring drive = path.substr(0, 1) + L":";
    for (const std::wstring& root : {drive, drive + L"\\", drive + L"/\\/", L"\\\\?\\" + drive + L"\\", L"\\\\.\\" + drive})
      FUZZ_CHECK(refuses_folder_removal(root));
  }

  // The temporary-name extension changes only the last component.
  const std::wstring with = apply_temp_extension(path, L"tmp"), without = apply_temp_extension(path, L"");
  const size_t leaf = path.find_last_of(L"\\/") == std::wstring::npos ? 0 : path.find_last_of(L"\\/") + 1;
  FUZZ_CHECK(with.compare(0, leaf, path, 0, leaf) == 0 && without.compare(0, leaf, path, 0, leaf) == 0);
  FUZZ_CHECK(with.size() >= 4 && with.compare(with.size() - 4, 4, L".tmp") == 0);
}

void check_digest(const uint8_t* data, size_t size) {
  const uint32_t crc = ui::crc32(data, size);
  FUZZ_CHECK(crc == static_cast<uint32_t>(::crc32(0L, data, static_cast<uInt>(size))));
  const uint32_t digest = ui::password_digest(data, size);
  const std::wstring text = ui::digest_text(digest);
  FUZZ_CHECK(ui::digest_matches(text, digest));
  FUZZ_CHECK(!ui::digest_matches(text + L" ", digest) && !ui::digest_matches(L"0" + text, digest));
  FUZZ_CHECK(std::wcstoul(text.c_str(), nullptr, 10) == digest);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check_string_block(data, size);
  std::vector<std::wstring> lines = fuzz_lines(data, size);
  lines.resize(std::max<size_t>(lines.size(), 3));
  check_language(lines[0]);
  check_profile_int(lines[1]);
  check_folder_rules(lines[2]);
  check_digest(data, size);
  return 0;
}
