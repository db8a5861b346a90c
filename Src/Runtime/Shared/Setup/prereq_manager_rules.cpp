// portable
#include "prereq_manager_rules.h"

#include <algorithm>
#include <climits>
#include <iterator>

#include "prereq_rules.h"
#include "support/zstring.h"

namespace prq {
namespace {

constexpr uint32_t kChildRequestsRestart = 7003;

bool starts_with_ci(std::wstring_view text, std::wstring_view prefix) {
  return !prefix.empty() && text.size() >= prefix.size() && wide_iequals(text.substr(0, prefix.size()), prefix);
}

size_t find_ci(std::wstring_view text, std::wstring_view part) {
  if (part.empty() || text.size() < part.size()) return std::wstring_view::npos;
  for (size_t i = 0; i + part.size() <= text.size(); ++i)
    if (wide_iequals(text.substr(i, part.size()), part)) return i;
  return std::wstring_view::npos;
}

}  // namespace

bool features_match(std::vector<std::wstring> listed, std::vector<std::wstring> requested) {
  std::sort(listed.begin(), listed.end());
  std::sort(requested.begin(), requested.end());
  std::vector<std::wstring> common;
  std::set_intersection(listed.begin(), listed.end(), requested.begin(), requested.end(), std::back_inserter(common));
  return !common.empty();
}

int parse_resume_index(std::wstring_view text) {
  text = trim(text, L" \t");
  bool negative = !text.empty() && text[0] == L'-';
  std::wstring_view digits = negative ? text.substr(1) : text;
  if (digits.empty() || digits.find_first_not_of(L"0123456789") != std::wstring_view::npos) return -1;
  long long value = 0;
  for (wchar_t c : digits) value = std::min<long long>(value * 10 + (c - L'0'), static_cast<long long>(INT_MAX) + 1);
  if (negative) return value > static_cast<long long>(INT_MAX) ? INT_MIN : static_cast<int>(-value);
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

std::wstring quote_program_path(std::wstring_view line, std::wstring_view launcher_path) {
  std::wstring_view name = leaf_after_backslash(launcher_path);
  std::wstring_view folder = launcher_path.substr(0, launcher_path.size() - name.size());
  std::wstring out(line);
  if (!out.empty() && out[0] == L'"') {
    if (starts_with_ci(std::wstring_view(out).substr(1), name)) out.insert(1, folder);
    return out;
  }
  size_t end;
  bool bare = false;
  if (starts_with_ci(out, launcher_path)) {
    end = launcher_path.size();
  } else if (size_t at = find_ci(out, name); at != std::wstring::npos) {
    end = at + name.size();
    bare = at == 0;
  } else if (size_t exe = find_ci(out, L".exe"); exe != std::wstring::npos) {
    end = exe + 4;
  } else {
    end = out.size();
  }
  out.insert(end, 1, L'"');
  if (bare) out.insert(0, folder);
  out.insert(0, 1, L'"');
  return out;
}

std::wstring resume_command_line(const ResumeLineInput& in) {
  if (!in.saved.empty()) return std::wstring(trim(in.saved, L" "));
  std::wstring line(trim(in.process_line, L" "));
  std::wstring stripped(trim(in.stripped, L" "));
  if (!stripped.empty() && stripped != line) return quote_program_path(stripped, in.first_launcher_path);
  return quote_program_path(line, in.launcher_path);
}

std::wstring elevated_parameters(std::wstring_view relaunch_switches, std::wstring_view features,
                                 std::wstring_view debug_log) {
  std::wstring out(relaunch_switches);
  out += L" /runprerequisites\"" + std::wstring(features) + L"\"";
  if (!debug_log.empty()) out += L" /debuglog\"" + std::wstring(debug_log) + L"\"";
  return out;
}

int elevated_result(uint32_t exit_code) {
  if (exit_code == 0) return kSequenceCarryOn;
  if (exit_code == 7 || exit_code == kChildRequestsRestart) return kSequenceRestart;
  return kSequenceStop;
}

RestartStep restart_step(int action, bool restart_needed) {
  if (restart_needed) {
    switch (action) {
      case 1: return RestartStep::kEndForRestart;
      case 2:
      case 8: return RestartStep::kAskThenEnd;
      case 16: return RestartStep::kRestartNowThenEnd;
      case 32: return RestartStep::kLaterThenCarryOn;
    }
    return RestartStep::kCarryOn;
  }
  return (action & (8 | 16)) ? RestartStep::kAskThenEnd : RestartStep::kCarryOn;
}

std::wstring transform_list(std::wstring_view line) {
  size_t at = line.find(L"TRANSFORMS=");
  if (at == std::wstring_view::npos) return std::wstring();
  std::wstring_view rest = trim(line.substr(at + 11), L"\n\t ");
  std::wstring_view value;
  if (!rest.empty() && rest[0] == L'"') {
    size_t close = rest.find(L'"', 1);
    value = rest.substr(1, close == std::wstring_view::npos ? std::wstring_view::npos : close - 1);
  } else {
    value = rest.substr(0, rest.find(L' '));
  }
  return std::wstring(trim(value, L"\n\t "));
}

}  // namespace prq
