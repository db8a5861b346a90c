// portable
#include <gtest/gtest.h>

#include "SetupPreRequisite.h"
#include "fake_system.h"
#include "package/stream_format.h"
#include "prereq_conditions.h"
#include "prereq_rules.h"

using namespace prq;
using qzstream::utf8_encode;

// The registry itself is exercised under Wine; here what a 64-bit x86 prefix cannot
// show: which view was asked for (the own view and the 64-bit one hold the same
// there), and other processors.
TEST(PrqConditions, RegistryPathsAndViews) {
  FakeSystem s;
  OsFacts os = s.os_facts;
  ArchFacts arm;
  arm.arm64 = true;
  PrqConditions on_x64(s, os, s.arch), on_arm(s, os, arm);
  const std::wstring key = L"HKEY_LOCAL_MACHINE\\Software\\Vendor";
  s.set_dword(FakeSystem::kMachine, L"Software\\Vendor", L"Level", 1);
  s.set_dword(FakeSystem::kMachine, L"Software\\Vendor", L"Level", 2, RegView::k32);
  s.set_dword(FakeSystem::kMachine, L"Software\\Vendor", L"Level", 3, RegView::k64);
  s.set_value(FakeSystem::kMachine, L"Software\\Vendor", L"Short", 4, {1, 0});
  struct Row {
    bool arm;
    const wchar_t* bits;
    const wchar_t* level;
  } rows[] = {{false, L"", L"1"}, {false, L"1", L"2"}, {false, L"2", L"3"}, {false, L"3", L"2"},
              {false, L"4", L"1"}, {true, L"1", L"1"},  {true, L"2", L"1"}};  // views are chosen on x86 only
  for (const Row& r : rows)
    EXPECT_TRUE((r.arm ? on_arm : on_x64).registry({2, 1, key, L"Level", r.bits, r.level}))
        << r.arm << " " << utf8_encode(r.bits);
  EXPECT_TRUE(on_arm.registry({2, 1, key, L"Short", L"", L""}));    // a short DWORD reads as empty text
  for (const wchar_t* bad : {L"", L"HKEY_LOCAL_MACHINE\\", L"hkey_local_machine\\Software", L"HKLM\\Software"})
    EXPECT_FALSE(on_arm.registry({1, 2, bad, L"", L"", L""})) << utf8_encode(bad);
}

TEST(PrqConditions, OperatingSystem) {
  struct Case {
    std::vector<std::pair<const wchar_t*, const wchar_t*>> attributes;
    void (*facts)(OsFacts&, ArchFacts&);
    bool expected;
  };
  auto win10 = [](OsFacts&, ArchFacts&) {};
  auto me = [](OsFacts& o, ArchFacts& a) { o = {4, 90, (4u << 24) | (90u << 16) | 3000, 1, L" A ", 0, 0}, a = {}; };
  auto win98 = [](OsFacts& o, ArchFacts& a) { o = {4, 0, (4u << 24) | (10u << 16) | 2222, 1, L"", 0, 0}, a = {}; };
  auto sp2 = [](OsFacts& o, ArchFacts&) { o = {6, 1, 7601, 2, L"Service Pack 2\t", 2, 3}; };
  auto arm64 = [](OsFacts&, ArchFacts& a) { a = {false, false, false, true}; };
  const Case cases[] = {
      {{}, win10, true},
      {{{L"MajorVersion", L"10"}, {L"MinorVersion", L"0"}, {L"PlatformId", L"2"}}, win10, true},
      {{{L"MajorVersion", L"6"}}, win10, false},
      {{{L"BuildNumber", L"19045"}, {L"MaxBuildNumber", L"19045"}}, win10, true},
      {{{L"MaxBuildNumber", L"19044"}}, win10, false},
      {{{L"ServicePackMajorMin", L"2"}, {L"ServicePackMajorMax", L"2"}}, sp2, true},
      {{{L"ServicePackMajorMin", L"3"}}, sp2, false},
      {{{L"CSDVersion", L" Service Pack 1"}}, sp2, true},
      {{{L"CSDVersion", L"Service Pack 2"}}, sp2, true},
      {{{L"CSDVersion", L"Service Pack 3"}}, sp2, false},
      {{{L"ProductType", L"1|3"}}, sp2, true},
      {{{L"ProductType", L"1|2"}}, sp2, false},
      {{{L"Language", L"1033"}}, win10, true},
      {{{L"Language", L"1031"}}, win10, false},
      // The Windows 9x family: the minor version from the build number, and ME wants 90.
      {{{L"MinorVersion", L"10"}}, win98, true},
      {{{L"MinorVersion", L"0"}}, win98, true},
      {{{L"MinorVersion", L"90"}}, me, true},
      {{{L"MinorVersion", L"0"}}, me, false},
      // Bits: only the lowest of its bits counts.
      {{{L"Bits", L"1"}}, win10, false},
      {{{L"Bits", L"3"}}, win10, false},
      {{{L"Bits", L"2"}}, win10, true},
      {{{L"Bits", L"4"}}, arm64, false},
      {{{L"Bits", L"32"}}, arm64, true},
      {{{L"Bits", L"2"}}, arm64, true},
      {{{L"Bits", L"8"}}, win10, false},
      {{{L"Bits", L"1"}}, win98, true},
  };
  for (const Case& c : cases) {
    FakeSystem s;
    OsFacts os = s.os_facts;
    ArchFacts arch = s.arch;
    c.facts(os, arch);
    sax::AttributeList a;
    std::string shown;
    for (auto [n, v] : c.attributes) {
      a.add(n, v);
      shown += utf8_encode(n) + "=" + utf8_encode(v) + " ";
    }
    std::wstring trace;
    EXPECT_EQ(os_condition_matches(a, os, arch, 1033, trace), c.expected) << shown << os.major << "." << os.minor;
  }
}

TEST(PrqConditions, PathTokens) {
  FakeSystem s;
  OsFacts os = s.os_facts;
  PrqConditions conditions(s, os, s.arch);
  const std::wstring cv = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
  // Each view holds its own text, so a row shows which view its token read.
  s.set_string(FakeSystem::kMachine, cv, L"ProgramFilesDir", L"C:\\Program Files");
  s.set_string(FakeSystem::kMachine, cv, L"ProgramFilesDir", L"C:\\Program Files (x86)", RegView::k32);
  s.set_string(FakeSystem::kMachine, cv, L"ProgramFilesDir", L"C:\\Program Files (64)", RegView::k64);
  s.set_string(FakeSystem::kMachine, cv, L"CommonFilesDir", L"C:\\Common Files");
  s.set_string(FakeSystem::kMachine, cv, L"CommonFilesDir", L"C:\\Common Files (x86)", RegView::k32);
  s.set_string(FakeSystem::kMachine, cv, L"CommonFilesDir", L"C:\\Common Files (64)", RegView::k64);
  s.set_string(FakeSystem::kUser, L"Software\\Vendor\\App", L"Dir", L"D:\\App");
  s.set_string(FakeSystem::kUser, L"Software\\Vendor\\App", L"Dir", L"D:\\App (x86)", RegView::k32);
  struct Case {
    const wchar_t* path;
    const wchar_t* expanded;
    bool redirection_off;
  };
  const Case cases[] = {
      {L"[ProgramFilesFolder]Vendor\\a.exe", L"C:\\Program Files\\Vendor\\a.exe", false},
      {L"[ProgramFiles64Folder]Vendor", L"C:\\Program Files (64)\\Vendor", true},
      {L"[CommonFilesFolder]x", L"C:\\Common Files\\x", false},
      {L"[CommonFiles64Folder]x", L"C:\\Common Files (64)\\x", true},
      {L"[WindowsFolder]\\notepad.exe", L"C:\\Windows\\notepad.exe", false},
      {L"[WindowsFolder]system32", L"C:\\Windows\\system32", false},
      {L"[SystemFolder]msvcr100.dll", L"C:\\Windows\\System32\\msvcr100.dll", false},
      {L"[System64Folder]\\msvcr100.dll", L"C:\\Windows\\System32\\msvcr100.dll", true},
      {L"[LocalAppDataFolder]Microsoft\\WindowsApps", L"C:\\Users\\u\\AppData\\Local\\Microsoft\\WindowsApps", false},
      {L"[HKEY_CURRENT_USER\\Software\\Vendor\\App\\Dir]bin\\a.dll", L"D:\\App\\bin\\a.dll", false},
      {L"[\tHKEY_CURRENT_USER\\Software\\Vendor\\App\\Dir\n]", L"D:\\App", false},
      {L"[HKEY_CURRENT_USER\\Software\\Vendor\\App\\Missing]\\x.dll", L"\\x.dll", false},  // empty: token removed
      {L"[windowsfolder]x", L"[windowsfolder]x", false},
      {L"[Unknown]x", L"[Unknown]x", false},
      {L"C:\\[WindowsFolder]x", L"C:\\[WindowsFolder]x", false},
      {L"[WindowsFolder", L"[WindowsFolder", false},
  };
  for (const Case& c : cases) {
    int before = s.redirection_offs;
    {
      RedirectionGuard guard(s);
      EXPECT_EQ(conditions.expand_path(c.path, guard), c.expanded) << utf8_encode(c.path);
    }
    EXPECT_EQ(s.redirection_offs - before, c.redirection_off ? 1 : 0) << utf8_encode(c.path);
    EXPECT_EQ(s.redirection_offs, s.redirection_restores);
  }
}

TEST(PrqConditions, Files) {
  FakeSystem s;
  OsFacts os = s.os_facts;
  PrqConditions conditions(s, os, s.arch);
  s.environment[L"systemroot"] = L"C:\\Windows";
  s.set_string(FakeSystem::kMachine, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", L"PATH",
               L";C:\\Tools;;%SystemRoot%\\System32");
  const uint64_t time = (uint64_t{0x01D5A000} << 32) | 0x80000000u;
  s.add_file(L"C:\\Windows\\System32\\tool.dll", pack_version(L"2.5.0.1"), time);
  s.add_file(L"C:\\Work\\local.dll", pack_version(L"1.0"));
  s.add_file(L"C:\\Tools\\local.dll", pack_version(L"9.0"));
  s.add_file(L"C:\\Windows\\System32\\loaded.dll", pack_version(L"3.0"), 0, 0x100000);
  s.modules.insert(L"c:\\windows\\system32\\loaded.dll");
  auto test = [&](int type, int comparison, const std::wstring& path, const std::wstring& name,
                  const std::wstring& value) { return conditions.file({type, comparison, path, name, L"", value}); };
  EXPECT_TRUE(test(4, 1, L"", L"tool.dll", L""));  // through the machine PATH, its entries expanded
  EXPECT_TRUE(test(16, 1, L"", L"local.dll", L"1.0.0.0"));  // the current folder comes first
  EXPECT_TRUE(test(16, 2, L"[System64Folder]", L"tool.dll", L"2.5.0.2"));
  EXPECT_FALSE(test(16, 8, L"", L"tool.dll", L"2.5.0.1"));
  EXPECT_TRUE(test(8, 2, L"", L"tool.dll", L"30777344.2147483648"));
  EXPECT_FALSE(test(8, 2, L"", L"tool.dll", L"30777344.1"));
  EXPECT_FALSE(test(8, 4, L"", L"tool.dll", L"1.0"));  // no "later than" test exists
  // A missing file is older and not later: only Comparison 2 holds.
  for (int type : {4, 8, 16}) {
    EXPECT_TRUE(test(type, 2, L"C:\\None", L"x.dll", L"1.0")) << type;
    EXPECT_FALSE(test(type, 4, L"C:\\None", L"x.dll", L"1.0")) << type;
    EXPECT_FALSE(test(type, 1, L"", L"C:\\Windows\\System32", L"")) << type;  // a folder is no file
  }
  // A loaded module is examined through a copy that is deleted afterwards.
  EXPECT_TRUE(test(16, 1, L"C:\\Windows\\System32", L"loaded.dll", L"3.0"));
  EXPECT_EQ(s.deleted, std::vector<std::wstring>{L"C:\\Temp\\_qzcopy.tmp"});
  EXPECT_EQ(s.redirection_offs, 1);
  EXPECT_EQ(s.redirection_restores, 1);
}

TEST(PrqConditions, AppPackagesAndThePackageManagerClient) {
  FakeSystem s;
  LaunchSettings* no_settings = nullptr;
  CSetupPreRequisite bundle(nullptr, nullptr, nullptr, no_settings, kKindAppBundle, s);
  s.helper_answer.exit_code = 1605;
  EXPECT_TRUE(bundle.EvaluateCondition(64, 0, L"CN=Vendor, O=Vendor", L"Vendor.App", L"x64", L"1.2.3.4"));
  EXPECT_EQ(s.launches.back(), L"|-prqmsix:query -QZ_temp -pkgname:Vendor.App -publisher:\"CN=Vendor, O=Vendor\" "
                               L"-version:1.2.3.4 -arch:x64 -bundle:1");
  EXPECT_EQ(s.lines.back(), L"AppxHelper process exited with return code 1605");
  s.helper_answer.exit_code = 0;
  EXPECT_FALSE(bundle.EvaluateCondition(64, 0, L"p", L"n", L"", L""));
  s.helper_answer = {true, false, 0, 0, 42};
  EXPECT_FALSE(bundle.EvaluateCondition(64, 0, L"p", L"n", L"", L""));
  EXPECT_EQ(s.lines.back(), L"AppxHelper - No process created by successful prerequisite launch");
  s.helper_answer = {false, false, 0, 2, 2};
  EXPECT_FALSE(bundle.EvaluateCondition(64, 0, L"p", L"n", L"", L""));
  EXPECT_EQ(s.lines.back(), L"Could not launch prerequisite, last error: 2, ShellExecute: 2");

  FakeSystem old;
  old.os_facts = {6, 1, 7601, 2, L"", 1, 1};
  CSetupPreRequisite on_win7(nullptr, nullptr, nullptr, no_settings, kKindOrdinary, old);
  EXPECT_FALSE(on_win7.EvaluateCondition(64, 0, L"p", L"n", L"", L""));
  EXPECT_EQ(old.lines.back(), L"App package installation is not supported on this platform (601)");
  EXPECT_TRUE(old.launches.empty());

  old.add_file(L"C:\\Users\\u\\AppData\\Local\\Microsoft\\WindowsApps\\winget.exe");
  EXPECT_TRUE(on_win7.EvaluateCondition(4, 1, L"[LocalAppDataFolder]Microsoft\\WindowsApps", L"winget.exe", L"", L""));
}
