// The .prq loader over any file (byte 0 sets the scene, the rest is the file):
// bit 0 evaluates the conditions, bits 1-2 give the kind, bit 3 an ARM64 machine,
// bit 4 a populated registry and bit 5 files found, bit 6 a helper that reports
// "not installed", bit 7 an old system. A second load of the same file gives the
// same fields, the trace lines are whole, the decisions agree and every name that
// becomes a path is one plain file name.
#include "SetupPreRequisite.h"
#include "fuzz_input.h"
#include "prereq_rules.h"
#include "tests/unit/prq/fake_system.h"

namespace {

const std::wstring kPath = L"C:\\media\\vc.prq";

void set_scene(FakeSystem& s, uint8_t flags) {
  if (flags & 8) s.arch = {false, false, false, true};
  if (flags & 16) {
    s.set_dword(FakeSystem::kMachine, L"Software\\Vendor", L"Level", 5);
    s.set_string(FakeSystem::kMachine, L"Software\\Vendor", L"Ver", L"10.0.1");
    s.set_string(FakeSystem::kMachine, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"ProgramFilesDir",
                 L"C:\\Program Files (x86)");
  }
  if (flags & 32) {
    s.add_file(L"C:\\Work\\a.dll", prq::pack_version(L"1.2.3.4"), 1);
    s.add_file(L"C:\\Windows\\notepad.exe", {}, 2);
    s.modules.insert(L"c:\\work\\a.dll");
  }
  s.helper_answer.exit_code = flags & 64 ? 1605 : 0;
  if (flags & 128) s.os_facts = {5, 1, 2600, 2, L"Service Pack 3", 3, 1};
}

void check_names(const CSetupPreRequisite& p) {
  std::wstring folder = p.folder_name();
  FUZZ_CHECK(folder.empty() || (folder == p.fields().id && qzstream::is_safe_member_name(folder)));
  for (size_t i = 0; i < p.file_count(); ++i) {
    std::wstring placed = p.placed_file_name(i), member = p.member_name(i);
    FUZZ_CHECK(placed.empty() || qzstream::is_safe_member_name(placed));
    FUZZ_CHECK(member.empty() || qzstream::is_safe_member_name(member));
  }
  FUZZ_CHECK(qzstream::is_safe_member_name(p.alternative_prq_name()));
  FUZZ_CHECK(p.local_file(p.file_count()).empty() && p.url(p.file_count()).empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  const bool evaluate = flags & 1;
  const int kind = (flags >> 1) & 3;
  if (kind > prq::kKindAppBundle) return 0;
  FakeSystem s;
  set_scene(s, flags);
  s.add_text_file(kPath, std::vector<uint8_t>(data + 1, data + size));
  CSetupPreRequisite p(nullptr, nullptr, nullptr, nullptr, kind, s);
  p.LoadPrq(kPath, evaluate, L"");
  const PrerequisiteFields first = p.fields();

  FUZZ_CHECK(!p.HasFailed() || p.IsNeeded());
  if (!evaluate) FUZZ_CHECK(p.IsNeeded() && !p.HasFailed());
  for (const std::wstring& line : s.lines) {
    if (line.rfind(L"PrereqEngine: ", 0) != 0) continue;
    FUZZ_CHECK(line.ends_with(L" -- Successful") || line.ends_with(L" -- Failed!"));
  }
  for (const std::wstring* text : {&first.id, &first.cmdline, &first.cmdline_silent, &first.execute_file})
    FUZZ_CHECK(text->find(L'\0') == std::wstring::npos);
  check_names(p);

  // Only a package-manager element turning up after files and executes makes a
  // second reading differ: from then on those are ignored from the start.
  const size_t lines = s.lines.size();
  p.LoadPrq(kPath, evaluate, L"");
  if (kind == prq::kKindPackageManager || !first.package_manager) {
    FUZZ_CHECK(p.fields() == first);
    FUZZ_CHECK(s.lines.size() == 2 * lines);
  }
  return 0;
}
