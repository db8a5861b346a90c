// portable
#include "entry_rules.h"

#include "support/number_text.h"
#include "support/zstring.h"

namespace entry {
namespace {

bool is_switch_char(wchar_t c) { return c == L'/' || c == L'-'; }

std::wstring trim_blanks(const std::wstring& s) {
  size_t b = s.find_first_not_of(L" \t");
  if (b == std::wstring::npos) return {};
  size_t e = s.find_last_not_of(L" \t");
  return s.substr(b, e - b + 1);
}

// Digits in the given base from the start of s (after optional blanks and sign);
// the low 32 bits of the value.
int32_t read_number(const std::wstring& s, int base) {
  qz::NumberRules r;
  r.base = base;
  r.blanks = qz::NumberRules::kSpaces;
  r.overflow = qz::NumberRules::kLow32Bits;
  return qz::read_integer(s, r);
}

}  // namespace

OneShotCommand one_shot_command(const std::wstring& text, bool has_arguments, const std::wstring& msiexec) {
  OneShotCommand out;
  if (!has_arguments || text.size() < 2 || !is_switch_char(text[0])) return out;
  wchar_t c = text[1];
  if (c == L'%') {
    out.kind = OneShot::kMsiexec;
    size_t slash = text.find(L'/', 2);
    out.text = L"\"" + msiexec + L"\"";
    if (slash != std::wstring::npos) out.text += L" " + text.substr(slash);
  } else if (c == L'K' || c == L'k') {
    out.kind = OneShot::kRestart;
    out.text = text.substr(2);
  } else if (c == L'G' || c == L'g') {
    out.kind = OneShot::kSignature;
    out.text = text;
  }
  return out;
}

bool names_first_launcher(const std::wstring& text) {
  return text.size() >= 2 && is_switch_char(text[0]) && (text[1] == L'Q' || text[1] == L'q');
}

LeadingArgument leading_argument(const std::wstring& command_line) {
  LeadingArgument out;
  size_t i = 0;
  const size_t n = command_line.size();
  if (n && command_line[0] == L'"') {
    size_t close = command_line.find(L'"', 1);
    out.program = command_line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    i = close == std::wstring::npos ? n : close + 1;
  } else {
    i = command_line.find_first_of(L" \t");
    if (i == std::wstring::npos) i = n;
    out.program = command_line.substr(0, i);
  }
  out.more = command_line.find_first_not_of(L" \t", i) != std::wstring::npos;
  return out;
}

std::wstring program_token(const std::wstring& path) {
  if (path.find_first_of(L" \t") == std::wstring::npos) return path;
  return L"\"" + path + L"\"";
}

std::wstring clone_command_line(const CloneCommand& c) {
  std::wstring s = program_token(c.program) + L" /q\"" + c.first_launcher + L"\" /tempdisk1folder\"" + c.temp_folder +
                   L"\"";
  if (c.eprq) s += L" /eprq";
  if (c.qz_temp) s += L" /QZ_temp";
  if (!c.unc.empty()) s += L" /unc\"" + c.unc + L"\"";
  if (!c.debug_log.empty()) s += L" /debuglog\"" + c.debug_log + L"\"";
  return s;
}

std::wstring wait_tail(const std::wstring& rest) { return L" /waitingforchildprocess " + rest; }

std::wstring no_wait_tail(const std::wstring& rest) { return L" " + rest; }

bool is_yes(const std::wstring& text) { return text == L"Y" || text == L"y"; }

int32_t return_code_setting(const std::wstring& text) {
  if (text.empty()) return -1;
  if (qz::has_hex_prefix(text))
    return read_number(text.substr(2), 16);
  return read_number(text, 10);
}

bool split_removal_value(const std::wstring& value, std::vector<std::wstring>* parts) {
  std::vector<std::wstring> p;
  size_t start = 0;
  for (;;) {
    size_t semi = value.find(L';', start);
    p.push_back(value.substr(start, semi == std::wstring::npos ? std::wstring::npos : semi - start));
    if (semi == std::wstring::npos) break;
    start = semi + 1;
  }
  if (p.size() == 3) p.emplace_back();
  if (p.size() != 4) return false;
  if (parts) *parts = std::move(p);
  return true;
}

int32_t leading_decimal(const std::wstring& text) { return read_number(text, 10); }

std::wstring copy_name(const std::wstring& argv0) {
  std::wstring name = argv0;
  size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name = name.substr(slash + 1);
  if (name.find(L'.') == std::wstring::npos) name += L".exe";
  return name;
}

bool is_plain_file_name(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  return name.find_first_of(L"\\/:") == std::wstring::npos;
}

std::vector<LanguageFile> language_files(const std::wstring& supported) {
  std::vector<LanguageFile> out;
  size_t start = 0;
  for (;;) {
    size_t comma = supported.find(L',', start);
    std::wstring entry = trim_blanks(supported.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start));
    if (!entry.empty() && is_plain_file_name(entry + L".ini")) {
      std::wstring hex = entry;
      if (qz::has_hex_prefix(hex)) hex = hex.substr(2);
      uint32_t id = static_cast<uint32_t>(read_number(hex, 16));
      out.push_back({entry + L".ini", zString::format(L"%.04ld.mst", static_cast<long>(id))});
    }
    if (comma == std::wstring::npos) break;
    start = comma + 1;
  }
  return out;
}

}  // namespace entry
