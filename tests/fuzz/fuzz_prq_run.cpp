// The rules of running a prerequisite over texts a .prq, the registry or the
// installer hand over: the in-process installer options, the installer's progress
// fields, new pending renames, the TRANSFORMS value, the resume index and the
// resume command line. Line 1 is an installer command line, line 2 a progress
// message, line 3 a command line with TRANSFORMS, line 4 a resume index, line 5 a
// launcher path, line 6 a temporary folder; the raw bytes are also read as a
// PendingFileRenameOperations value, the first byte as where its new part begins.
#include "fuzz_input.h"
#include "prereq_command_rules.h"
#include "prereq_manager_rules.h"

using namespace prq;

namespace {

bool is_blank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n'; }

std::wstring line(const std::vector<std::wstring>& lines, size_t i) { return i < lines.size() ? lines[i] : L""; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::wstring> lines = fuzz_lines(data, size);

  const std::wstring command = line(lines, 0);
  InstallerOptions o = installer_options(command);
  FUZZ_CHECK(o.command_line.size() <= command.size() + 15);  // " REBOOTPROMPT=S" at most once
  FUZZ_CHECK(!o.logging || !o.log_file.empty());
  FUZZ_CHECK((o.ui_level & 7) >= kUiNone && (o.ui_level & 7) <= kUiFull);
  FUZZ_CHECK(o.command_line.empty() || (o.command_line.front() != L' ' && o.command_line.back() != L' '));
  FUZZ_CHECK(installer_options(command).command_line == o.command_line);

  for (const std::wstring& field : progress_fields(line(lines, 1)))
    FUZZ_CHECK(field.empty() || (!is_blank(field.front()) && !is_blank(field.back())));

  const std::wstring transforms_line = line(lines, 2);
  std::wstring list = transform_list(transforms_line);
  FUZZ_CHECK(transforms_line.find(list) != std::wstring::npos);
  FUZZ_CHECK(list.empty() || (!is_blank(list.front()) && !is_blank(list.back())));

  int index = parse_resume_index(line(lines, 3));
  FUZZ_CHECK(parse_resume_index(std::to_wstring(index)) == index);

  const std::wstring launcher = line(lines, 4);
  std::wstring quoted = quote_program_path(command, launcher);
  FUZZ_CHECK(!quoted.empty() && quoted.front() == L'"');
  FUZZ_CHECK(quoted.size() >= command.size() + (command.empty() || command[0] != L'"' ? 2 : 0));

  std::vector<uint8_t> value(data, data + size);
  uint32_t from = size ? data[0] : 0;
  bool only = renames_only_under(value, from, line(lines, 5));
  FUZZ_CHECK(!only || size >= 4);
  return 0;
}
