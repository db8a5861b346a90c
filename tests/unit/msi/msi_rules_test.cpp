// portable
#include "msi_rules.h"

#include <gtest/gtest.h>

#include <vector>

using namespace msi_rules;

// A system folder with a blank: the program must stay one argument.
static const std::wstring kMsiexec = L"C:\\Win dows\\system32\\MSIEXEC.EXE";

TEST(MsiVersions, CompareAsFourUnsignedNumbers) {
  struct Case {
    const wchar_t* a;
    const wchar_t* b;
    int expected;
  };
  const Case cases[] = {
      {L"4.5.0.0", L"4.05.0.0", 0},
      {L"4,70,0,1300", L"4.70.0.1300", 0},
      {L"4.70.0.1300", L"4.70", -1},       // b lower
      {L"4.70", L"4.70.0.1300", 1},        // b higher
      {L"4.99.99.99", L"5", 1},
      {L"5", L"4.99.99.99", -1},
      {L"1.2.3.4", L"1.2.3.4.9", 0},       // a fifth number is ignored
      {L"3000000000", L"4000000000", 1},   // compared unsigned, not as int
      {L"4294967295", L"99999999999", 0},  // too large saturates
      {L"", L"0.0.0.0", 0},
      {L"4.05.0.0", L"4.5.6001", 1},       // the engine this Wine reports
      {L"1..5", L"1", 0},                  // an empty number ends the text
      {L"v2.1", L"0", 0},                  // no leading number: all zero
      {nullptr, L"1", 0},
      {L"1", nullptr, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(compare_versions(c.a, c.b), c.expected) << (c.a ? c.a : L"null") << " vs " << (c.b ? c.b : L"null");
}

TEST(MsiPropertyList, MinorUpgradeAdditions) {
  struct Case {
    const wchar_t* list;
    const wchar_t* additions;
  };
  const Case cases[] = {
      {L"", L"REINSTALL=ALL REINSTALLMODE=vomus QZ_MINOR_UPGRADE=1"},
      {L"REINSTALLMODE=omus", L"QZ_MINOR_UPGRADE=1"},
      {L"REINSTALL=Main", L"REINSTALLMODE=vomus QZ_MINOR_UPGRADE=1"},
      {L"reinstall=all", L"REINSTALL=ALL REINSTALLMODE=vomus QZ_MINOR_UPGRADE=1"},  // case-sensitive search
      {L"REINSTALLMODE=a QZ_MINOR_UPGRADE=0", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(minor_upgrade_additions(c.list), c.additions) << c.list;
  std::wstring list = L"/qn";
  append_properties(list, L"A=1");
  EXPECT_EQ(list, L"/qn A=1");
  list.clear();
  append_properties(list, L"A=1");
  EXPECT_EQ(list, L"A=1");
}

TEST(MsiPropertyList, SilentAndBillboardTests) {
  EXPECT_TRUE(asks_for_silent_install(L"/qn"));
  EXPECT_TRUE(asks_for_silent_install(L"FOO=1 /qb-"));
  EXPECT_TRUE(asks_for_silent_install(L"X=1 /quiet"));
  EXPECT_FALSE(asks_for_silent_install(L"NAME=a/qn"));
  EXPECT_FALSE(asks_for_silent_install(L"/passive"));
  EXPECT_TRUE(suppresses_billboards(L"/qb-"));
  EXPECT_TRUE(suppresses_billboards(L"A=1 /passive"));
  EXPECT_TRUE(suppresses_billboards(L"X=/qn"));
  EXPECT_FALSE(suppresses_billboards(L"/QN"));  // case-sensitive
  EXPECT_FALSE(suppresses_billboards(L"FOO=1"));
}

TEST(MsiPropertyList, MergeLanguageTransform) {
  const std::wstring t = L"C:\\Temp\\{G}\\1033.mst";
  struct Case {
    std::wstring list;
    std::wstring transform;
    std::wstring expected;
  };
  const std::vector<Case> cases = {
      {L"", t, L" TRANSFORMS=\"" + t + L"\""},
      {L"/qn", t, L"/qn TRANSFORMS=\"" + t + L"\""},
      {L"TRANSFORMS=a.mst", t, L"TRANSFORMS=a.mst;" + t},
      {L"TRANSFORMS=\"a.mst\" X=1", t, L"TRANSFORMS=\"a.mst;" + t + L"\" X=1"},
      // Already listed by its file name: unchanged.
      {L"TRANSFORMS=\"a.mst;C:\\Other\\1033.mst\"", t, L"TRANSFORMS=\"a.mst;C:\\Other\\1033.mst\""},
      {L"TRANSFORMS=\"\"", t, L"TRANSFORMS=\"" + t + L"\""},
      {L"TRANSFORMS= A=1", t, L"TRANSFORMS=" + t + L" A=1"},
      // A value without a transform keeps its place behind a separator.
      {L"TRANSFORMS=:inst", t, L"TRANSFORMS=" + t + L";:inst"},
      // A .mst of another property before TRANSFORMS is not TRANSFORMS' value.
      {L"LOG=x.mst TRANSFORMS=", t, L"LOG=x.mst TRANSFORMS=" + t},
      // An unquoted value that would gain a blank is quoted as a whole.
      {L"TRANSFORMS=a.mst X=1", L"C:\\My Temp\\1031.mst", L"TRANSFORMS=\"a.mst;C:\\My Temp\\1031.mst\" X=1"},
      {L"X=1", L"", L"X=1"},
      // Only TRANSFORMS' own value is searched for its last transform (found by fuzzing:
      // the new one was glued to a later property's ".mst").
      {L"TRANSFORMS=a.mst X=b.mst", t, L"TRANSFORMS=a.mst;" + t + L" X=b.mst"},
      {L"TRANSFORMS=a/passive.mst X=NSFORMS=a.mst X=1", L"C:\\My Tem1",
       L"TRANSFORMS=\"a/passive.mst;C:\\My Tem1\" X=NSFORMS=a.mst X=1"},
      {L"TRANSFORMS=\"\" LOG=\"x.mst\"", t, L"TRANSFORMS=\"" + t + L"\" LOG=\"x.mst\""},
      // The launcher's own transforms are named in capitals.
      {L"TRANSFORMS=\"a.MST\"", t, L"TRANSFORMS=\"a.MST;" + t + L"\""},
      {L"TRANSFORMS=\"C:\\x\\1031.MST\"", L"C:\\t\\1031.MST", L"TRANSFORMS=\"C:\\x\\1031.MST\""},
  };
  for (const Case& c : cases) {
    std::wstring list = c.list;
    merge_language_transform(list, c.transform);
    EXPECT_EQ(list, c.expected) << c.list;
  }
}

namespace {

PropertyListInput base_input() {
  PropertyListInput in;
  in.properties = L"/qn";
  in.launcher_folder = L"C:\\Setup Files";
  in.launcher_name = L"setup.exe";
  return in;
}

}  // namespace

TEST(MsiPropertyList, ComposedInItsSevenSteps) {
  const std::wstring tail = L" SETUPEXEDIR=\"C:\\Setup Files\" SETUPEXENAME=\"setup.exe\"";
  {
    PropertyList p = compose_property_list(base_input());
    EXPECT_EQ(p.properties, L"/qn" + tail);
    EXPECT_EQ(p.setup_exe_values, tail.substr(1));
  }
  {
    PropertyListInput in = base_input();
    in.saved_properties = L"PRQ=1";
    in.launcher_folder += L"\\";  // one trailing backslash is dropped
    EXPECT_EQ(compose_property_list(in).properties, L"/qn PRQ=1" + tail);
  }
  {
    PropertyListInput in = base_input();
    in.multiple_languages = true;
    in.language_transform = L"C:\\T\\1031.mst";
    EXPECT_EQ(compose_property_list(in).properties, L"/qn TRANSFORMS=\"C:\\T\\1031.mst\"" + tail);
    in.started_after_restart = true;  // /c or /e: merged before the restart already
    EXPECT_EQ(compose_property_list(in).properties, L"/qn" + tail);
    in.started_after_restart = false;
    in.launch_mode = 5;
    EXPECT_EQ(compose_property_list(in).properties, L"/qn" + tail);
  }
  {
    PropertyListInput in = base_input();
    in.uses_script = true;
    in.script_command_line = L"/z1";
    EXPECT_EQ(compose_property_list(in).properties, L"/qn QZSCRIPTCMDLINE=\"/z1\"" + tail);
    in.properties = L"A=\"has QZSCRIPTCMDLINE inside\"";
    EXPECT_EQ(compose_property_list(in).properties, in.properties + tail);
    in.properties.clear();
    EXPECT_EQ(compose_property_list(in).properties, L"QZSCRIPTCMDLINE=\"/z1\"" + tail);
  }
  {
    PropertyListInput in = base_input();
    in.launch_mode = 3;
    in.properties = L"TRANSFORMS=\"x.mst\" FOO=1";
    EXPECT_EQ(compose_property_list(in).properties, L"/t \"x.mst\" FOO=1" + tail);
  }
}

TEST(MsiCommandLine, EveryLaunchMode) {
  struct Case {
    int mode;
    const wchar_t* letters;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {0, L"", L"\"C:\\Win dows\\system32\\MSIEXEC.EXE\" /i \"C:\\p.msi\" A=1"},
      {1, L"", L"\"C:\\Win dows\\system32\\MSIEXEC.EXE\" /a \"C:\\p.msi\" A=1"},
      {2, L"omus", L"\"C:\\Win dows\\system32\\MSIEXEC.EXE\" /fomus \"C:\\p.msi\" A=1"},
      {3, L"m", L"\"C:\\Win dows\\system32\\MSIEXEC.EXE\" /jm \"C:\\p.msi\" A=1"},
      {4, L"", L"\"C:\\Win dows\\system32\\MSIEXEC.EXE\" /x \"C:\\p.msi\" A=1"},
      {5, L"", L"\"C:\\Win dows\\system32\\MSIEXEC.EXE\" /p \"C:\\p.msi\" A=1"},
      {9, L"", L"\"C:\\Win dows\\system32\\MSIEXEC.EXE\" /i \"C:\\p.msi\" A=1"},
      {-1, L"", L"\"C:\\Win dows\\system32\\MSIEXEC.EXE\" /i \"C:\\p.msi\" A=1"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(msiexec_command_line(kMsiexec, c.mode, c.letters, L"C:\\p.msi", L"A=1"), c.expected);
  EXPECT_EQ(patch_forward_value(L"C:\\a b.msp", L"X=1"), L"/p \"C:\\a b.msp\" X=1");
}

// Splits a command line the way the C runtime (and msiexec) does, for the
// arguments-are-not-split checks below.
namespace {

std::vector<std::wstring> split_arguments(const std::wstring& s) {
  std::vector<std::wstring> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && s[i] == L' ') ++i;
    if (i >= s.size()) break;
    std::wstring arg;
    bool quoted = false;
    for (; i < s.size() && (quoted || s[i] != L' '); ++i) {
      if (s[i] == L'"')
        quoted = !quoted;
      else
        arg += s[i];
    }
    out.push_back(arg);
  }
  return out;
}

}  // namespace

TEST(MsiCommandLine, OddPackagePathsAndPropertiesPassUnchanged) {
  const std::wstring long_value(20000, L'x');
  struct Case {
    std::wstring package;
    std::wstring properties;
  };
  const std::vector<Case> cases = {
      {L"C:\\My Setup\\Product 1.0.msi", L"/qn"},
      {L"C:\\100% sure\\%TEMP%.msi", L"PCT=\"50%\" /qn"},
      {L"C:\\x\\p.msi", L"NAME=\"a b  c\" OTHER=\"\" /l*v \"C:\\log file.txt\""},
      {L"C:\\x\\p.msi", L"LONG=" + long_value},
  };
  for (const Case& c : cases) {
    PropertyListInput in;
    in.properties = c.properties;
    in.launcher_folder = L"C:\\Setup 100%";
    in.launcher_name = L"my setup.exe";
    PropertyList p = compose_property_list(in);
    std::wstring line = msiexec_command_line(kMsiexec, 0, L"", c.package, p.properties);
    // The exact composition: nothing cut, nothing re-quoted.
    EXPECT_EQ(line, L"\"C:\\Win dows\\system32\\MSIEXEC.EXE\" /i \"" + c.package + L"\" " + c.properties +
                        L" SETUPEXEDIR=\"C:\\Setup 100%\" SETUPEXENAME=\"my setup.exe\"");
    std::vector<std::wstring> args = split_arguments(line);
    ASSERT_GE(args.size(), 3u);
    EXPECT_EQ(args[0], kMsiexec);
    EXPECT_EQ(args[1], L"/i");
    EXPECT_EQ(args[2], c.package);  // one argument however many blanks it holds
    EXPECT_EQ(args.back(), L"SETUPEXENAME=my setup.exe");
  }
  EXPECT_LE(msiexec_command_line(kMsiexec, 0, L"", L"p", L"LONG=" + long_value).size(), kMaxCommandLine);
}

TEST(MsiScriptMode, Table) {
  struct Case {
    int value;
    bool uses;
    bool engine;
    bool logged;
  };
  const Case cases[] = {{0, false, false, true}, {1, true, true, true}, {2, true, false, true},
                        {3, true, false, true},  {4, false, false, false}, {-1, false, false, false}};
  for (const Case& c : cases) {
    ScriptMode m = script_mode(c.value);
    EXPECT_EQ(m.uses_script, c.uses) << c.value;
    EXPECT_EQ(m.engine_runs_install, c.engine) << c.value;
    EXPECT_EQ(m.log_text != nullptr, c.logged) << c.value;
  }
}

TEST(MsiPlatform, TemplateNamesThePlatform) {
  EXPECT_TRUE(template_is_64bit(L"Intel64;1033"));
  EXPECT_TRUE(template_is_64bit(L"x64;1033"));
  EXPECT_TRUE(template_is_64bit(L"amd64;1033"));
  EXPECT_FALSE(template_is_64bit(L"Intel;1033"));
  EXPECT_FALSE(template_is_64bit(L";1033"));
  EXPECT_FALSE(template_is_64bit(L""));
}

namespace {

struct FakeInstaller {
  unsigned package_status = 0;
  std::wstring package_code = L"{AAAA}";
  std::wstring version = L"1.0.0";
  bool answer_yes = true;
  int asked = 0, told = 0;
  UpgradeHooks hooks() {
    UpgradeHooks h;
    h.product_info = [this](const std::wstring& property, std::wstring* value) -> unsigned {
      if (property == L"PackageCode") {
        *value = package_code;
        return package_status;
      }
      *value = property == L"VersionString" ? version : L"Demo Product";
      return 0;
    };
    h.ask_upgrade = [this](const std::wstring& name) {
      ++asked;
      return answer_yes;
    };
    h.tell_later_version = [this](const std::wstring&) { ++told; };
    return h;
  }
};

}  // namespace

TEST(MsiUpgrade, Decisions) {
  struct Case {
    const char* what;
    int policy;
    int mode;
    unsigned status;
    const wchar_t* installed_code;
    const wchar_t* installed_version;
    bool yes;
    bool go_on;
    bool minor;
    int asked;
    int told;
    int policy_after;
    int result;
  };
  const Case cases[] = {
      {"skip policy", kPolicySkip, 0, 0, L"{B}", L"1.0", true, true, false, 0, 0, kPolicySkip, 0},
      {"patch never checks", kPolicyAsk, 5, 0, L"{B}", L"1.0", true, true, false, 0, 0, kPolicyAsk, 0},
      {"admin never checks", kPolicyAsk, 1, 0, L"{B}", L"1.0", true, true, false, 0, 0, kPolicyAsk, 0},
      {"repair never checks", kPolicyAsk, 2, 0, L"{B}", L"0.9", true, true, false, 0, 0, kPolicyAsk, 0},
      {"uninstall never checks", kPolicyDoNotAsk, 4, 0, L"{B}", L"2.0", true, true, false, 0, 0, kPolicyDoNotAsk, 0},
      {"not installed", kPolicyAsk, 0, 1605, L"", L"", true, true, false, 0, 0, kPolicyAsk, 0},
      {"msi.dll missing", kPolicyAsk, 0, 126, L"", L"", true, true, false, 0, 0, kPolicySkip, 0},
      {"same package other case", kPolicyAsk, 0, 0, L"{aaaa}", L"1.0", true, true, false, 0, 0, kPolicySkip, 0},
      {"older installed, yes", kPolicyAsk, 0, 0, L"{B}", L"0.9", true, true, true, 1, 0, kPolicyAsk, 0},
      {"older installed, no", kPolicyAsk, 0, 0, L"{B}", L"0.9", false, false, false, 1, 0, kPolicyAsk, 1602},
      {"later installed, yes", kPolicyAsk, 0, 0, L"{B}", L"2.0", true, false, false, 1, 1, kPolicyAsk, 1638},
      {"later installed, no", kPolicyAsk, 0, 0, L"{B}", L"2.0", false, false, false, 1, 0, kPolicyAsk, 1602},
      {"do not ask, older", kPolicyDoNotAsk, 0, 0, L"{B}", L"0.9", true, true, true, 0, 0, kPolicyDoNotAsk, 0},
      {"do not ask, later", kPolicyDoNotAsk, 0, 0, L"{B}", L"2.0", true, false, false, 0, 0, kPolicyDoNotAsk, 1638},
      {"do not ask, equal version", kPolicyDoNotAsk, 0, 0, L"{B}", L"1.0.0", true, true, true, 0, 0, kPolicyDoNotAsk,
       0},
  };
  for (const Case& c : cases) {
    FakeInstaller fake;
    fake.package_status = c.status;
    fake.package_code = c.installed_code;
    fake.version = c.installed_version;
    fake.answer_yes = c.yes;
    UpgradeFacts facts;
    facts.policy = c.policy;
    facts.launch_mode = c.mode;
    facts.product_code = L"{P}";
    facts.package_code = L"{AAAA}";
    facts.product_version = L"1.0.0";
    UpgradeOutcome out = decide_upgrade(facts, fake.hooks());
    EXPECT_EQ(out.go_on, c.go_on) << c.what;
    EXPECT_EQ(out.apply_minor_upgrade, c.minor) << c.what;
    EXPECT_EQ(fake.asked, c.asked) << c.what;
    EXPECT_EQ(fake.told, c.told) << c.what;
    EXPECT_EQ(facts.policy, c.policy_after) << c.what;
    EXPECT_EQ(out.result, c.result) << c.what;
  }
  EXPECT_EQ(upgrade_policy(1, false), kPolicyAsk);
  EXPECT_EQ(upgrade_policy(1, true), kPolicyDoNotAsk);
  EXPECT_EQ(upgrade_policy(2, false), kPolicyDoNotAsk);
  EXPECT_EQ(upgrade_policy(0, false), kPolicySkip);
  EXPECT_EQ(upgrade_policy(7, true), kPolicySkip);
}

TEST(MsiRestart, RebootCommandAndPlaceholders) {
  RebootCommandInput in;
  in.launcher_path = L"C:\\Temp\\{G}\\setup.exe";
  in.language = 1033;
  in.source_folder = L"D:\\Media";
  in.temp_folder = L"C:\\Temp\\{G}";
  in.properties = L"/qn NAME=\"a b\"";
  RebootCommand plain = compose_reboot_command(in);
  EXPECT_EQ(plain.properties, L"/qn NAME=\"a b\" AFTERREBOOT=1");
  EXPECT_EQ(plain.command,
            L"\"C:\\Temp\\{G}\\setup.exe\"  /l1033 /t\"D:\\Media\" /e\"C:\\Temp\\{G}\" /v\"/qn NAME=\"a b\" "
            L"AFTERREBOOT=1\" ");
  in.compressed = true;
  in.launch_mode = 2;
  in.letters = L"omus";
  in.debug_log_path = L"C:\\log.txt";
  RebootCommand packed = compose_reboot_command(in);
  EXPECT_EQ(packed.command,
            L"\"C:\\Temp\\{G}\\setup.exe\" /k /fomus /l1033 /t\"D:\\Media\" /e\"C:\\Temp\\{G}\" /w /v\"/qn NAME=\"a b\" "
            L"AFTERREBOOT=1\" /c /debuglog\"C:\\log.txt\"");
  // The launcher's path lies inside the temporary folder and keeps it: the
  // placeholders replace the switch values the command-line parser reads back.
  EXPECT_EQ(apply_reboot_placeholders(plain.command, in.source_folder, in.temp_folder, plain.properties),
            L"\"C:\\Temp\\{G}\\setup.exe\"  /l1033 /t\"%QZ_T%\" /e\"%QZ_E%\" /v\"%QZ_V%\" ");
  EXPECT_EQ(apply_reboot_placeholders(packed.command, in.source_folder, in.temp_folder, packed.properties),
            L"\"C:\\Temp\\{G}\\setup.exe\" /k /fomus /l1033 /t\"%QZ_T%\" /e\"%QZ_E%\" /w /v\"%QZ_V%\" /c "
            L"/debuglog\"C:\\log.txt\"");
  EXPECT_EQ(reboot_mode_part(0, L""), L"");
  EXPECT_EQ(reboot_mode_part(3, L"m"), L"/jm");
  EXPECT_EQ(reboot_mode_part(4, L""), L"/x");
  EXPECT_NE(reboot_entry_key(0), nullptr);
  EXPECT_NE(reboot_entry_key(2), nullptr);
  EXPECT_EQ(reboot_entry_key(3), nullptr);
  EXPECT_EQ(reboot_entry_key(4), nullptr);
}

TEST(MsiRestart, ResumeEntryRewrite) {
  std::wstring out;
  ASSERT_TRUE(rewrite_resume_entry(L"C:\\Windows\\system32\\msiexec.exe /i {X} AFTERREBOOT=1", L"C:\\T\\setup.exe",
                                   &out));
  EXPECT_EQ(out, L"\"C:\\T\\setup.exe\" /% /i {X} AFTERREBOOT=1");
  EXPECT_FALSE(rewrite_resume_entry(L"msiexec.exe", L"C:\\T\\setup.exe", &out));
  EXPECT_FALSE(rewrite_resume_entry(L"", L"C:\\T\\setup.exe", &out));
}
