// portable
#include <gtest/gtest.h>

#include <climits>

#include "prereq_command_rules.h"
#include "prereq_manager_rules.h"

using namespace prq;

namespace {

std::vector<uint8_t> multi_string(std::initializer_list<std::wstring> items) {
  std::vector<uint8_t> out;
  auto put = [&out](wchar_t c) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  };
  for (const std::wstring& s : items) {
    for (wchar_t c : s) put(c);
    put(0);
  }
  put(0);
  return out;
}

}  // namespace

TEST(PrqRunRules, InstallerOptionsAreTakenOutOfTheCommandLine) {
  struct Row {
    const wchar_t* line;
    uint32_t level;
    bool logging;
    uint32_t mode, attributes;
    const wchar_t* file;
    const wchar_t* rest;
  } rows[] = {
      {L"/l*v log.txt /qb!", kUiBasic | kUiHideCancel, true, kLogAll | 4096, 0, L"log.txt", L""},
      {L"/passive X=1", kUiBasic | kUiHideCancel, false, 0, 0, L"", L"X=1 REBOOTPROMPT=S"},
      // /q replaces the level of /passive; its modifiers count wherever they stand.
      {L"/passive /qn+ A=1", kUiNone | kUiEndDialog, false, 0, 0, L"", L"A=1 REBOOTPROMPT=S"},
      {L"/qr- /quietly", kUiReduced | kUiProgressOnly, false, 0, 0, L"", L"/quietly"},
      {L"P=1 /lOg \"C:\\a b.log\" Q=2", kUiNone, true, kLogAll, 0, L"C:\\a b.log", L"P=1  Q=2"},
      {L"/l+!IWE f.log", kUiNone, true, 16 | 4 | 2, kLogAppend | kLogFlushEachLine, L"f.log", L""},
      // Case-sensitive, and only at the start or after a blank; a stray "/l" ends the log search.
      {L"/Q /PASSIVE", kUiNone, false, 0, 0, L"", L"/Q /PASSIVE"},
      {L"DIR=c:/lv /l* x.log", kUiNone, false, 0, 0, L"", L"DIR=c:/lv /l* x.log"},
      {L"/passived", kUiNone, false, 0, 0, L"", L"/passived"},
  };
  for (const Row& r : rows) {
    InstallerOptions o = installer_options(r.line);
    EXPECT_EQ(o.ui_level, r.level) << r.line;
    EXPECT_EQ(o.logging, r.logging) << r.line;
    EXPECT_EQ(o.log_mode, r.mode) << r.line;
    EXPECT_EQ(o.log_attributes, r.attributes) << r.line;
    EXPECT_EQ(o.log_file, r.file) << r.line;
    EXPECT_EQ(o.command_line, r.rest) << r.line;
  }
}

TEST(PrqRunRules, RunDecisions) {
  EXPECT_TRUE(is_reboot_exit_code(L"3010,1641", 1641, false));
  EXPECT_TRUE(is_reboot_exit_code(L"5, 7", 7, false));
  EXPECT_TRUE(is_reboot_exit_code(L"-1073741819", 0xC0000005u, false));
  EXPECT_FALSE(is_reboot_exit_code(L"3010", 1641, true));
  EXPECT_TRUE(is_reboot_exit_code(L"", 3010, true));
  EXPECT_FALSE(is_reboot_exit_code(L"", 3010, false));

  EXPECT_EQ(file_kind(L"a.msixbundle"), FileKind::kAppPackage);
  EXPECT_EQ(file_kind(L"sub\\a.msi"), FileKind::kInstallerPackage);
  EXPECT_EQ(file_kind(L"a.MSI"), FileKind::kOther);
  EXPECT_EQ(file_kind(L"a.exe"), FileKind::kProgram);

  LauncherNames names{1031, L"setup.exe", L"D:\\media"};
  EXPECT_EQ(resolve_command_line(L"[SETUPEXEDIR]\\a [SETUPEXEDIR]\\b /l[ProductLanguage] [QZPREREQDIR]x [SETUPEXENAME]",
                                 names, L"C:\\t\\vc"),
            L"D:\\media\\a D:\\media\\b /l1031 C:\\t\\vc\\x setup.exe");
  EXPECT_EQ(package_manager_parameters(L"Vendor.Tool", L"1.2", false, L""),
            L"install --id Vendor.Tool --exact --silent");
  EXPECT_EQ(package_manager_parameters(L"Vendor.Tool", L"1.2", true, L"--scope machine"),
            L"install --id Vendor.Tool --exact --version 1.2 --scope machine --silent");

  EXPECT_EQ(restart_step(1, true), RestartStep::kEndForRestart);
  EXPECT_EQ(restart_step(8, true), RestartStep::kAskThenEnd);
  EXPECT_EQ(restart_step(16, true), RestartStep::kRestartNowThenEnd);
  EXPECT_EQ(restart_step(32, true), RestartStep::kLaterThenCarryOn);
  EXPECT_EQ(restart_step(4, true), RestartStep::kCarryOn);
  EXPECT_EQ(restart_step(16, false), RestartStep::kAskThenEnd);
  EXPECT_EQ(restart_step(1, false), RestartStep::kCarryOn);

  EXPECT_EQ(elevated_result(0), kSequenceCarryOn);
  EXPECT_EQ(elevated_result(7003), kSequenceRestart);
  EXPECT_EQ(elevated_result(2), kSequenceStop);
  EXPECT_EQ(elevated_result(0xC0000005u), kSequenceStop);
}

TEST(PrqRunRules, RestartEvidence) {
  RebootCounters before{1, 0, 0, 100, 0};
  RebootCounters more_renames = before;
  more_renames.pending_rename_bytes = 180;
  EXPECT_EQ(pending_reboot_message(before, before, false), L"");
  EXPECT_EQ(pending_reboot_message(before, more_renames, false),
            L"Reboot required - PendingFileRenameOperations value added");
  EXPECT_EQ(pending_reboot_message(before, more_renames, true), L"");
  RebootCounters run_once = more_renames;
  run_once.run_once = 2;
  EXPECT_EQ(pending_reboot_message(before, run_once, false), L"Reboot required - RunOnce key added");

  // The old value's terminator is where the new entries begin.
  std::vector<uint8_t> old_value = multi_string({L"\\??\\C:\\other\\x.dll", L"\\??\\C:\\other\\y.dll"});
  std::vector<uint8_t> tmp_added =
      multi_string({L"\\??\\C:\\other\\x.dll", L"\\??\\C:\\other\\y.dll", L"\\??\\C:\\T\\{G}\\a.tmp", L""});
  std::vector<uint8_t> other_added =
      multi_string({L"\\??\\C:\\other\\x.dll", L"\\??\\C:\\other\\y.dll", L"\\??\\C:\\T\\{G}x\\a.tmp", L""});
  const uint32_t from = static_cast<uint32_t>(old_value.size());
  EXPECT_TRUE(renames_only_under(tmp_added, from, L"c:\\t\\{g}"));
  EXPECT_FALSE(renames_only_under(other_added, from, L"C:\\T\\{G}"));
  EXPECT_FALSE(renames_only_under(old_value, from, L"C:\\T\\{G}"));
  // A rename (non-empty target) under the folder is no deletion.
  EXPECT_FALSE(renames_only_under(multi_string({L"\\??\\C:\\T\\{G}\\a", L"C:\\b"}), 0, L"C:\\T\\{G}"));
}

TEST(PrqRunRules, InstallerMessagesAndChecksum) {
  EXPECT_EQ(progress_fields(L"1: 0 2: 1200 3: 0 4: 1 "), (std::vector<std::wstring>{L"0", L"1200", L"0", L"1"}));
  EXPECT_EQ(progress_fields(L"1: 2 2: 25\t"), (std::vector<std::wstring>{L"2", L"25"}));
  EXPECT_TRUE(progress_fields(L"nothing").empty());
  EXPECT_EQ(action_text(L"Action 12:00:01: InstallFiles. Copying new files"), L"Copying new files");
  EXPECT_EQ(action_text(L"no dot"), L"");

  const uint8_t digest[16] = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                              0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};
  EXPECT_EQ(digest_text(digest), L"D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_TRUE(checksum_matches(digest, L"d41d8cd98f00b204e9800998ecf8427e"));
  EXPECT_FALSE(checksum_matches(digest, L"d41d8cd98f00b204e9800998ecf8427f"));
  EXPECT_FALSE(checksum_matches(digest, L""));
}

TEST(PrqManagerRules, FeaturesResumeAndTransforms) {
  EXPECT_TRUE(features_match({L"B", L"Core"}, {L"Core", L"Docs"}));
  EXPECT_FALSE(features_match({L"core"}, {L"Core"}));
  EXPECT_FALSE(features_match({}, {L"Core"}));

  struct Index {
    const wchar_t* text;
    int index;
  } indexes[] = {{L"1", 1}, {L" -1 ", -1}, {L"abc", -1}, {L"3x", -1}, {L"", -1}, {L"99999999999", INT_MAX}};
  for (const Index& r : indexes) EXPECT_EQ(parse_resume_index(r.text), r.index) << r.text;

  struct Transform {
    const wchar_t* line;
    const wchar_t* list;
  } transforms[] = {
      {L"/qn TRANSFORMS=a.mst;b.mst FOO=1", L"a.mst;b.mst"},
      {L"TRANSFORMS=\" :x.mst;1033.mst \" FOO=1", L":x.mst;1033.mst"},
      {L"TRANSFORMS=\"open", L"open"},
      {L"/qn FOO=1", L""},
  };
  for (const Transform& r : transforms) EXPECT_EQ(transform_list(r.line), r.list) << r.line;
}

TEST(PrqManagerRules, ResumeCommandLine) {
  const std::wstring launcher = L"C:\\My Setup\\chainsetup.exe";
  struct Row {
    const wchar_t* line;
    const wchar_t* quoted;
  } rows[] = {
      {L"C:\\My Setup\\chainsetup.exe /s", L"\"C:\\My Setup\\chainsetup.exe\" /s"},
      {L"chainsetup.exe /s", L"\"C:\\My Setup\\chainsetup.exe\" /s"},
      {L"\"chainsetup.exe\" /s", L"\"C:\\My Setup\\chainsetup.exe\" /s"},
      {L"\"C:\\My Setup\\chainsetup.exe\" /s", L"\"C:\\My Setup\\chainsetup.exe\" /s"},
      {L"D:\\copy\\other.exe /s", L"\"D:\\copy\\other.exe\" /s"},
  };
  for (const Row& r : rows) EXPECT_EQ(quote_program_path(r.line, launcher), r.quoted) << r.line;

  ResumeLineInput in{L"", L"  C:\\My Setup\\chainsetup.exe /s ", L"C:\\My Setup\\chainsetup.exe /s", launcher,
                     L"D:\\my media\\setup.exe"};
  EXPECT_EQ(resume_command_line(in), L"\"C:\\My Setup\\chainsetup.exe\" /s");
  in.stripped = L"D:\\my media\\setup.exe /s";  // the relaunched copy's first launcher
  EXPECT_EQ(resume_command_line(in), L"\"D:\\my media\\setup.exe\" /s");
  in.saved = L" \"E:\\from host.exe\" /x ";
  EXPECT_EQ(resume_command_line(in), L"\"E:\\from host.exe\" /x");

  EXPECT_EQ(elevated_parameters(L" /l1033", L"A,B", L"C:\\l.log"),
            L" /l1033 /runprerequisites\"A,B\" /debuglog\"C:\\l.log\"");
  EXPECT_EQ(elevated_parameters(L"", L"", L""), L" /runprerequisites\"\"");
}
