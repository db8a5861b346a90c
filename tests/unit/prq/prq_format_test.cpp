// portable
#include <gtest/gtest.h>

#include <functional>

#include "SetupPreRequisite.h"
#include "fake_system.h"
#include "package/stream_format.h"
#include "prereq_rules.h"
#include "prereq_section.h"

using qzstream::utf8_encode;

namespace {

const std::wstring kPath = L"C:\\media\\vc.prq";

struct Loaded {
  FakeSystem system;
  CSetupPreRequisite prq;
  // `setup` runs before the object reads the system's facts.
  explicit Loaded(int kind = prq::kKindOrdinary, const std::function<void(FakeSystem&)>& setup = nullptr)
      : system(make(setup)), prq(nullptr, nullptr, nullptr, nullptr, kind, system) {}
  static FakeSystem make(const std::function<void(FakeSystem&)>& setup) {
    FakeSystem s;
    if (setup) setup(s);
    return s;
  }
  void load(const std::string& text, bool evaluate = false, const std::wstring& path = kPath,
            const std::wstring& override_line = L"") {
    system.add_text_file(path, utf8_bytes(text));
    prq.LoadPrq(path, evaluate, override_line);
  }
};

}  // namespace

TEST(PrqFormat, ElementsFillTheFields) {
  struct Case {
    const char* text;
    std::function<void(PrerequisiteFields&)> expect;
  };
  const Case cases[] = {
      {"<?xml version=\"1.0\"?><prq><properties Id=\"VC\" AltPrqURL=\"http://h/alt.prq\"/></prq>",
       [](PrerequisiteFields& f) { f.id = L"VC", f.alt_prq_url = L"http://h/alt.prq"; }},
      // A later properties element replaces both values, a missing one with empty.
      {"<properties Id=\"A\" AltPrqURL=\"u\"/><properties Id=\"B\"/>", [](PrerequisiteFields& f) { f.id = L"B"; }},
      // Files in document order; names compare with case, nesting means nothing.
      {"<r><g><file LocalFile=\"a.exe\" URL=\"http://h/a.exe\" CheckSum=\"AB\"/></g><File LocalFile=\"x\"/>"
       "<file LocalFile=\"b.cab\"></file></r>",
       [](PrerequisiteFields& f) { f.files = {{L"a.exe", L"http://h/a.exe", L"AB"}, {L"b.cab", L"", L""}}; }},
      // The first non-empty command line wins (expanded); the rest comes from the last execute.
      {"<execute file=\"a.exe\" cmdline=\"\" cmdlinesilent=\"/q\" returncodetoreboot=\"3010\" forcesilent=\"1\" "
       "requiresmsiengine=\"1\"/><execute file=\"b.exe\" cmdline=\"/i %WHO%\" cmdlinesilent=\"/other\"/>",
       [](PrerequisiteFields& f) { f.execute_file = L"b.exe", f.cmdline = L"/i me", f.cmdline_silent = L"/q"; }},
      {"<execute file=\"a.exe\" returncodetoreboot=\"1641,3010\" forcesilent=\"true\" requiresmsiengine=\"1\"/>",
       [](PrerequisiteFields& f) {
         f.execute_file = L"a.exe", f.reboot_codes = L"1641,3010", f.force_silent = L"true", f.requires_msi_engine = true;
       }},
      // Zero, missing or unparsable behaviour values change nothing.
      {"<behavior Optional=\"1\" Reboot=\"0\" Failure=\"2\" Lua=\"1\" Hidden=\"x\" MsiProgress=\"3\" "
       "IgnoreTmpRename=\"-1\"/><behavior Failure=\"0\" Reboot=\" 32\"/>",
       [](PrerequisiteFields& f) {
         f.optional = f.limited_user = f.msi_progress = f.ignore_tmp_rename = true;
         f.failure_action = 2, f.reboot_action = 32;
       }},
      // Once a package-manager prerequisite, later files, executes and dependencies are ignored.
      {"<dependency File=\"d1\"/><dependency/><wpmpackage InstallWPMPackage=\"1\" versiontype=\"1\" name=\"Vendor.App\" "
       "specificversion=\"1.2\" parameters=\"--scope machine\"/><execute file=\"x.exe\"/><file LocalFile=\"f\"/>"
       "<dependency File=\"d2\"/>",
       [](PrerequisiteFields& f) {
         f.dependencies = {L"d1", L""}, f.package_manager = f.pinned_version = true;
         f.package_name = L"Vendor.App", f.specific_version = L"1.2", f.parameters = L"--scope machine";
       }},
      {"<wpmpackage InstallWPMPackage=\"0\" specificversion=\"2\"/><execute file=\"x.exe\"/>",
       [](PrerequisiteFields& f) { f.specific_version = L"2", f.execute_file = L"x.exe"; }},
      // Evaluated elements are skipped without evaluation.
      {"<operatingsystemcondition MajorVersion=\"99\"/><condition Type=\"1\" Comparison=\"1\" Path=\"HKEY_USERS\\x\"/>",
       [](PrerequisiteFields&) {}},
      // Malformed text is read as far as it goes.
      {"<properties Id=\"ok\"/><file LocalFile=\"unterminated><file LocalFile=\"b\"/>",
       [](PrerequisiteFields& f) { f.id = L"ok"; }},
  };
  for (const Case& c : cases) {
    Loaded l;
    l.system.environment[L"who"] = L"me";
    l.load(c.text);
    PrerequisiteFields expected;
    expected.prq_path = kPath;
    c.expect(expected);
    EXPECT_EQ(l.prq.fields(), expected) << c.text;
    EXPECT_TRUE(l.prq.IsNeeded()) << c.text;
  }
}

TEST(PrqFormat, EncodingsReadTheSame) {
  const std::string text = "<properties Id=\"Caf\xC3\xA9\"/><file LocalFile=\"a.exe\"/>";
  std::vector<std::vector<uint8_t>> forms = {utf8_bytes(text), utf8_bytes("\xEF\xBB\xBF" + text)};
  std::wstring wide = qzstream::utf8_decode(text);
  for (bool big : {false, true}) {
    std::vector<uint8_t> b = big ? std::vector<uint8_t>{0xFE, 0xFF} : std::vector<uint8_t>{0xFF, 0xFE};
    for (wchar_t c : wide) {
      uint8_t hi = static_cast<uint8_t>(c >> 8), lo = static_cast<uint8_t>(c);
      b.push_back(big ? hi : lo);
      b.push_back(big ? lo : hi);
    }
    forms.push_back(b);
  }
  for (const auto& bytes : forms) {
    Loaded l;
    l.system.add_text_file(kPath, bytes);
    l.prq.LoadPrq(kPath, false, L"");
    EXPECT_EQ(l.prq.fields().id, L"Caf\u00E9");
    EXPECT_EQ(l.prq.file_count(), 1u);
  }
}

TEST(PrqFormat, ReloadingResetsOnlyWhatALoadOwns) {
  Loaded l;
  l.load("<properties Id=\"one\" AltPrqURL=\"http://h/new/VC.PRQ\"/><file LocalFile=\"a\"/><dependency File=\"d\"/>"
         "<execute file=\"a.exe\" cmdline=\"/i\" cmdlinesilent=\"/q\" forcesilent=\"1\"/><behavior Hidden=\"1\"/>"
         "<condition Type=\"0\"/>",
         true);
  // A missing file changes nothing but the path.
  l.prq.LoadPrq(L"C:\\gone\\vc.prq", true, L"/override");
  EXPECT_EQ(l.prq.fields().id, L"one");
  EXPECT_EQ(l.prq.fields().cmdline, L"/i");
  // A replacement of the same file name (any case) keeps the command lines.
  l.load("<execute file=\"b.exe\" cmdline=\"/other\"/>", true, L"C:\\temp\\vc.prq");
  const PrerequisiteFields& f = l.prq.fields();
  EXPECT_EQ(f.cmdline, L"/i");
  EXPECT_EQ(f.cmdline_silent, L"/q");
  EXPECT_EQ(f.execute_file, L"b.exe");
  EXPECT_TRUE(f.id.empty() && f.alt_prq_url.empty() && f.files.empty() && f.dependencies.empty() &&
              f.force_silent.empty());
  EXPECT_TRUE(f.hidden && f.has_condition);  // behaviour and the condition flag stay
  EXPECT_TRUE(l.prq.HasFailed());
  // Without AltPrqURL the command lines go; an override sets both.
  l.load("<execute cmdline=\"/x\"/>", false, L"C:\\temp\\vc.prq", L"/resolved");
  EXPECT_EQ(f.cmdline, L"/resolved");
  EXPECT_EQ(f.cmdline_silent, L"/resolved");
  l.load("<execute cmdline=\"/x\"/>", false, L"C:\\temp\\vc.prq");
  EXPECT_EQ(f.cmdline, L"/x");
  EXPECT_EQ(f.cmdline_silent, L"");
  // An unreadable file reads as empty: nothing from it, no conditions.
  l.system.unreadable = true;
  l.load("<properties Id=\"never\"/>", true, L"C:\\temp\\other.prq");
  EXPECT_EQ(f.id, L"");
  EXPECT_EQ(f.prq_path, L"C:\\temp\\other.prq");
  EXPECT_TRUE(l.prq.IsNeeded());
  EXPECT_EQ(l.system.lines.back(), L"Prerequisite file C:\\temp\\other.prq could not be read, error 5");
}

TEST(PrqFormat, TraceLines) {
  Loaded l;
  l.system.add_key(FakeSystem::kUser, L"Software\\X");
  l.load("<operatingsystemcondition MajorVersion=\"6\"/><operatingsystemcondition MajorVersion=\"10\" "
         "MinorVersion=\"0\"/><operatingsystemcondition MajorVersion=\"5\"/>"
         "<condition Type=\"1\" Comparison=\"1\" Path=\"HKEY_CURRENT_USER\\Software\\X\" ReturnValue=\"v\"/>"
         "<file LocalFile=\"a.exe\" URL=\"http://h/a.exe\" CheckSum=\"AB\"/>"
         "<execute file=\"a.exe\" cmdline=\"/i %WHO%\" returncodetoreboot=\"3010\"/><properties Id=\"i\"/>",
         true);
  const std::vector<std::wstring> expected = {
      L"PrereqEngine: operatingsystemcondition,6 -- Failed!",
      L"PrereqEngine: operatingsystemcondition,10,0 -- Successful",
      // The third is not evaluated once one matched.
      L"PrereqEngine: condition,1,1,HKEY_CURRENT_USER\\Software\\X,,,v -- Successful",
      L"PrereqEngine: file,AB,a.exe,http://h/a.exe,,, -- Successful",
      L"PrereqEngine: execute,a.exe,/i %WHO%,,3010,, -- Successful",
      L"PrereqEngine: properties,i, -- Successful",
  };
  EXPECT_EQ(l.system.lines, expected);
  EXPECT_TRUE(l.prq.IsNeeded());
  EXPECT_TRUE(l.prq.HasFailed());
}

TEST(PrqFormat, NeededDecisions) {
  struct Case {
    const char* text;
    uint32_t product_type;
    bool needed;
    bool failed;
  };
  const char* kHolds = "<condition Type=\"7\"/>";  // unknown types always hold
  const char* kFails = "<condition Type=\"1\" Comparison=\"1\" Path=\"HKEY_USERS\\missing\"/>";
  const std::string mixed = std::string(kHolds) + kFails + kHolds;
  const Case cases[] = {
      {"", 1, true, false},
      {"<operatingsystemcondition MajorVersion=\"6\"/><operatingsystemcondition MajorVersion=\"10\"/>", 1, true, false},
      {"<operatingsystemcondition MajorVersion=\"6\"/>", 1, false, false},
      {kHolds, 1, true, true},
      {mixed.c_str(), 1, false, false},
      {"<wpmpackage InstallWPMPackage=\"1\"/>", 1, true, false},
      {"<wpmpackage InstallWPMPackage=\"1\"/>", 3, false, false},  // a server has no package manager
      {"<operatingsystemcondition MajorVersion=\"10\"/><wpmpackage/>", 3, true, false},
  };
  for (const Case& c : cases) {
    Loaded l(prq::kKindOrdinary, [&](FakeSystem& s) { s.os_facts.product_type = c.product_type; });
    l.load(c.text, true);
    EXPECT_EQ(l.prq.IsNeeded(), c.needed) << c.text;
    EXPECT_EQ(l.prq.HasFailed(), c.failed) << c.text;
  }
}

TEST(PrqFormat, KindsFromTheSettings) {
  Loaded wpm(prq::kKindPackageManager);
  wpm.load("<execute file=\"x.exe\"/><file LocalFile=\"a\"/>");
  EXPECT_TRUE(wpm.prq.fields().package_manager);
  EXPECT_EQ(wpm.prq.fields().execute_file, L"");
  EXPECT_EQ(wpm.prq.file_count(), 0u);

  std::map<std::wstring, std::wstring> ini = {
      {L"PreReq0", L"vc.prq"},           {L"PreReqFeatures0", L"Main,,Extra"}, {L"PreReqAppPackage0", L"Bundle"},
      {L"PreReq1", L"app.prq"},          {L"PreReqAppPackage1", L"bundle"},    {L"PreReq2", L"..\\up.prq"},
      {L"PreReqAppPackage2", L"Bundle"}, {L"PreReqWPMPackage2", L"WPM"},       {L"PreReq4", L"after-gap.prq"},
  };
  auto listed = prq::listed_prerequisites([&](const std::wstring& key) { return ini[key]; });
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_EQ(listed[0].features, (std::vector<std::wstring>{L"Main", L"Extra"}));
  EXPECT_EQ(listed[0].kind, prq::kKindAppBundle);
  EXPECT_TRUE(listed[1].app_package);
  EXPECT_EQ(listed[1].kind, prq::kKindOrdinary);
  EXPECT_EQ(listed[2].kind, prq::kKindPackageManager);
  EXPECT_TRUE(listed[0].name_is_safe);
  EXPECT_FALSE(listed[2].name_is_safe);
}

TEST(PrqFormat, NamesThatBecomePaths) {
  struct Case {
    const wchar_t* id;
    const wchar_t* local_file;
    const wchar_t* folder;
    const wchar_t* placed;
    const wchar_t* member;
  };
  const Case cases[] = {
      {L"VC2019", L"redist\\vc_redist.x64.exe", L"VC2019", L"vc_redist.x64.exe", L"VC2019.vc_redist.x64.exe"},
      {L"VC", L"http://h/a/b.msi", L"VC", L"b.msi", L"VC.b.msi"},
      {L"..", L"x.exe", L"", L"x.exe", L""},
      {L"..\\..\\Windows", L"..", L"", L"", L""},
      {L"", L"C:\\Windows\\x.dll", L"", L"x.dll", L""},
      {L"C:", L"sub\\", L"", L"", L""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(prq::folder_name(c.id), c.folder) << utf8_encode(c.id);
    EXPECT_EQ(prq::placed_file_name(c.local_file), c.placed) << utf8_encode(c.local_file);
    EXPECT_EQ(prq::member_name(c.id, c.local_file), c.member) << utf8_encode(c.id);
  }
  EXPECT_EQ(prq::member_name(std::wstring(200, L'i'), std::wstring(60, L'f')), L"");  // too long as one name
  EXPECT_EQ(prq::alternative_prq_name(L"http://h/dir/alt.prq"), L"alt.prq");
  EXPECT_EQ(prq::alternative_prq_name(L"http://h/dir/"), L"Default.prq");
  EXPECT_EQ(prq::alternative_prq_name(L"http://h/dir/.."), L"Default.prq");
  EXPECT_EQ(prq::alternative_prq_name(L"http://h/x\\..\\..\\evil.prq"), L"Default.prq");
  EXPECT_EQ(prq::alternative_prq_name(L"\\\\server\\share\\alt.prq"), L"Default.prq");
}

TEST(PrqFormat, LargeAndDeepInputIsReadWhole) {
  std::string text;
  for (int i = 0; i < 100000; ++i) text += "<n>";
  text += "<properties Id=\"deep\" AltPrqURL=\"" + std::string(1 << 20, 'u') + "\"/>";
  Loaded l;
  l.load(text);
  EXPECT_EQ(l.prq.fields().id, L"deep");
  EXPECT_EQ(l.prq.fields().alt_prq_url.size(), 1u << 20);
}
