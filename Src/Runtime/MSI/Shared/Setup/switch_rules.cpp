// portable
#include "switch_rules.h"

#include <climits>
#include <cstdint>

#include "support/SwitchList.h"
#include "support/number_text.h"
#include "support/zstring.h"

namespace switch_rules {
namespace {

bool needs_quotes(std::wstring_view text) {
  return text.find(L' ') != std::wstring_view::npos || text.find(L'"') != std::wstring_view::npos;
}

bool is_switch_char(wchar_t c) { return c == L'/' || c == L'-'; }

// "/name" or "-name" exactly, or with a value when `prefix` is set.
bool token_is(const std::wstring& token, std::wstring_view name, bool prefix, std::wstring* value = nullptr) {
  if (token.size() < 1 + name.size() || !is_switch_char(token[0])) return false;
  if (!wide_iequals(std::wstring_view(token).substr(1, name.size()), name)) return false;
  if (!prefix && token.size() != 1 + name.size()) return false;
  if (value) *value = token.substr(1 + name.size());
  return true;
}

}  // namespace

int parse_int_text(std::wstring_view text) {
  qz::NumberRules r;
  r.base = 0;
  r.blanks = qz::NumberRules::kSpacesAndTabs;
  // Hexadecimal covers the full 32 bits, so exit codes such as 0xCCCCCCCC can be written.
  r.overflow = qz::NumberRules::kUnsigned32;
  return qz::read_integer(text, r);
}

int parse_decimal_text(std::wstring_view text) {
  qz::NumberRules r;
  r.blanks = qz::NumberRules::kSpacesAndTabs;
  return qz::read_integer(text, r);
}

int parse_instance_choice(std::wstring_view value) {
  if (wide_iequals(value, L"default")) return kInstanceDefault;
  if (value.empty()) return kInstanceInvalid;
  int64_t v = 0;
  for (wchar_t c : value) {
    if (c < L'0' || c > L'9') return kInstanceInvalid;
    v = v * 10 + (c - L'0');
    if (v > INT_MAX) return kInstanceInvalid;
  }
  return static_cast<int>(v);
}

bool setting_is_true(std::wstring_view text) {
  return wide_iequals(text, L"yes") || wide_iequals(text, L"y") || text == L"1" || wide_iequals(text, L"true");
}

std::wstring quote_value(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size() + 2);
  out.push_back(L'"');
  for (wchar_t c : text) {
    if (c == L'"') out.push_back(L'\\');
    out.push_back(c);
  }
  out.push_back(L'"');
  return out;
}

std::wstring relaunch_switch_text(std::wstring_view sw, std::wstring_view text, bool force_quotes) {
  std::wstring out = L" ";
  out.append(sw);
  if (text.empty()) return out;
  bool quote = force_quotes || needs_quotes(text) || (sw == L"/z" && text.find(L'=') != std::wstring_view::npos);
  out += quote ? quote_value(text) : std::wstring(text);
  return out;
}

std::wstring engine_switch_text(std::wstring_view sw, std::wstring_view text, bool force_quotes) {
  std::wstring out = L" ";
  out.append(sw);
  if (text.empty()) return out;
  out += (force_quotes || needs_quotes(text)) ? quote_value(text) : std::wstring(text);
  return out;
}

bool switch_goes_to_engine(std::wstring_view sw, const std::function<bool()>& script_driven_is_3) {
  if (sw.find(L"no_engine") != std::wstring_view::npos) return false;
  if (sw == L"-d" || sw == L"/d") return false;
  if (sw.find(L"auto") != std::wstring_view::npos) return true;
  return sw != L"/v" && script_driven_is_3 && script_driven_is_3();
}

bool is_absolute_folder(std::wstring_view folder) {
  if (folder.size() >= 2 && folder[1] == L':' &&
      ((folder[0] >= L'A' && folder[0] <= L'Z') || (folder[0] >= L'a' && folder[0] <= L'z')))
    return true;
  return folder.size() >= 2 && folder[0] == L'\\' && folder[1] == L'\\';
}

std::wstring strip_relaunch_switches(const std::wstring& command_line, const std::wstring& launcher_path) {
  std::vector<std::wstring> tokens = tokenize_command_line(command_line);
  bool relaunched = false;
  for (const auto& t : tokens)
    if (token_is(t, L"QZ_temp", false)) relaunched = true;
  if (!relaunched) return command_line;

  std::wstring first_launcher;
  bool have_first = false;
  std::wstring out;
  for (const auto& t : tokens) {
    std::wstring value;
    if (token_is(t, L"QZ_temp", false) || token_is(t, L"tempdisk1folder", true) || token_is(t, L"runfromtemp", false) ||
        token_is(t, L"eprq", false))
      continue;
    if (token_is(t, L"q", true, &value)) {
      if (!have_first) first_launcher = unquote_text(value);
      have_first = true;
      continue;
    }
    if (!out.empty()) out.push_back(L' ');
    out += t;
  }
  if (!have_first || launcher_path.empty()) return out;
  std::wstring replaced;
  size_t pos = 0;
  for (;;) {
    size_t hit = out.find(launcher_path, pos);
    if (hit == std::wstring::npos) break;
    replaced.append(out, pos, hit - pos);
    replaced += first_launcher;
    pos = hit + launcher_path.size();
  }
  replaced.append(out, pos, std::wstring::npos);
  return replaced;
}

std::wstring relaunch_switches_text(const RelaunchSwitches& s) {
  std::wstring out;
  if (s.remove_as_major_upgrade) {
    out += L" /Q" + quote_value(s.launcher_path);
    if (!s.unc_path.empty()) out += L" /unc" + quote_value(s.unc_path);
  }
  if (s.language != 0) out += L" /l" + std::to_wstring(s.language);
  if (!s.password.empty()) out += L" /p" + quote_value(s.password);
  return out;
}

}  // namespace switch_rules
