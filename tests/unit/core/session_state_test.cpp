// portable
#include "session_state.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "package/LaunchSettings.h"

namespace {

// The switch rules over fake system hooks.
class FakeSession : public SessionState {
 public:
  explicit FakeSession(LaunchSettings& s) : SessionState(s) {}

  // Applies every switch; false at the first invalid one.
  bool apply(std::initializer_list<const wchar_t*> switches) {
    for (auto* s : switches)
      if (!apply_switch(s)) return false;
    return true;
  }

  std::map<std::wstring, std::wstring> ini;
  std::map<std::wstring, std::wstring> registry;
  bool key_openable = true;
  bool folder_creatable = true;
  bool writable = true;
  bool prerequisites = false;
  int resume_deletions = 0;
  int ini_reads = 0;
  std::vector<std::wstring> folders_checked;
  std::wstring temp_folder;

 protected:
  std::wstring packaged_setting(const std::wstring& section, const std::wstring& key) override {
    ++ini_reads;
    auto it = ini.find(section + L"/" + key);
    return it == ini.end() ? std::wstring() : it->second;
  }
  bool take_placeholder(const std::wstring& name, std::wstring* value) override {
    if (!key_openable) return false;
    auto it = registry.find(name);
    *value = it == registry.end() ? std::wstring() : it->second;
    if (it != registry.end()) registry.erase(it);
    return true;
  }
  void delete_resume_entry() override { ++resume_deletions; }
  bool ensure_folder(const std::wstring& folder) override {
    folders_checked.push_back(folder);
    return folder_creatable;
  }
  bool can_write_in_folder(const std::wstring&) override { return writable; }
  bool temp_folder_given(const std::wstring& folder) override {
    temp_folder = folder;
    return true;
  }
  bool recognises_prerequisite_switches() const override { return prerequisites; }
};

struct SessionTest : ::testing::Test {
  LaunchSettings settings;
  FakeSession session{settings};
};

}  // namespace

TEST_F(SessionTest, ValueTableRemovesEmptyUnlessKept) {
  session.set_value(kValuePackageName, L"a.msi");
  EXPECT_TRUE(session.has_value(kValuePackageName));
  session.set_value(kValuePackageName, L"");
  EXPECT_FALSE(session.has_value(kValuePackageName));
  EXPECT_EQ(session.get_value(kValuePackageName), L"");
  session.set_value(kValueEmbed, L"", true);
  EXPECT_TRUE(session.has_value(kValueEmbed));
}

TEST_F(SessionTest, SilentVersusSms) {
  EXPECT_TRUE(session.apply({L"SMS"}));
  EXPECT_FALSE(settings.silent);
  EXPECT_TRUE(session.apply({L"silent"}));
  EXPECT_TRUE(settings.silent);
  EXPECT_EQ(session.relaunch_command_line(), L" /SMS /s");

  LaunchSettings other;
  FakeSession s2(other);
  EXPECT_TRUE(s2.apply({L"S"}));
  EXPECT_TRUE(other.silent);
  EXPECT_TRUE(s2.apply({L"show_reboot_msg", L"skip_clone_wait"}));
  EXPECT_TRUE(other.show_reboot_msg);
  EXPECT_EQ(s2.relaunch_command_line(), L" /s");
}

TEST_F(SessionTest, LaunchModeConflicts) {
  EXPECT_TRUE(session.apply({L"x"}));
  EXPECT_EQ(session.launch_mode(), kModeUninstall);
  EXPECT_TRUE(session.apply({L"auto"}));  // not a launch mode
  EXPECT_TRUE(settings.auto_);
  EXPECT_FALSE(session.apply({L"a"}));
  EXPECT_FALSE(session.apply({L"jm"}));
  EXPECT_FALSE(session.apply({L"x"}));
  EXPECT_EQ(session.launch_mode(), kModeUninstall);

  LaunchSettings s2;
  FakeSession admin(s2);
  EXPECT_TRUE(admin.apply({L"aC:\\image"}));
  EXPECT_EQ(admin.launch_mode(), kModeAdmin);
  EXPECT_EQ(admin.get_value(kValueAdminImageFolder), L"C:\\image");
  EXPECT_FALSE(admin.apply({L"x"}));

  LaunchSettings s3;
  FakeSession adv(s3);
  EXPECT_TRUE(adv.apply({L"Jm"}));
  EXPECT_EQ(adv.launch_mode(), kModeAdvertise);
  EXPECT_EQ(adv.get_value(kValueModeLetters), L"m");
  EXPECT_EQ(adv.relaunch_command_line(), L" /jm");
}

TEST_F(SessionTest, VSwitchesAccumulate) {
  EXPECT_TRUE(session.apply({L"v/qn", L"VREBOOT=R"}));
  EXPECT_EQ(session.get_value(kValueInstallerCommandLine), L"/qn REBOOT=R");
  EXPECT_EQ(session.relaunch_command_line(), L" /v\"/qn\" /v\"REBOOT=R\"");
  EXPECT_EQ(session.resume_deletions, 2);
  EXPECT_EQ(session.engine_command_line(), L"");  // /v never goes to the script engine
}

TEST_F(SessionTest, VerboseAndRegistryPlaceholderV) {
  session.registry[L"%QZ_V%"] = L"/qb PROP=\"a b\"";
  EXPECT_TRUE(session.apply({L"v/qn", L"v%QZ_V%", L"VERBOSEC:\\log.txt"}));
  EXPECT_EQ(session.get_value(kValueInstallerCommandLine), L"/qb PROP=\"a b\"");  // replaces, not appends
  EXPECT_TRUE(session.registry.empty());
  EXPECT_EQ(session.relaunch_command_line(),
            L" /v\"/qn\" /v\"/qb PROP=\\\"a b\\\"\" /verbose\"C:\\log.txt\"");
  EXPECT_EQ(session.resume_deletions, 3);
  // A missing value reads as empty; an unopenable key makes the switch invalid.
  EXPECT_TRUE(session.apply({L"v%QZ_V%"}));
  EXPECT_EQ(session.get_value(kValueInstallerCommandLine), L"");
  session.key_openable = false;
  EXPECT_FALSE(session.apply({L"v%QZ_V%"}));
}

TEST_F(SessionTest, TemporaryFolderSwitch) {
  session.ini[L"Startup/PackageName"] = L"product.msi";
  EXPECT_TRUE(session.apply({L"e\"C:\\Tmp X\""}));
  EXPECT_EQ(session.temp_folder, L"C:\\Tmp X");
  EXPECT_EQ(session.temp_folder_override(), L"C:\\Tmp X");
  EXPECT_EQ(settings.temp_folder, L"C:\\Tmp X");
  EXPECT_EQ(settings.setup_ini_path, L"C:\\Tmp X\\Setup.INI");
  EXPECT_EQ(session.get_value(kValuePackageName), L"product.msi");
  EXPECT_EQ(session.extraction_mode(), kExtractInstallerOnly);
  EXPECT_TRUE(session.quiet());

  session.registry[L"%QZ_E%"] = L"D:\\T";
  EXPECT_TRUE(session.apply({L"e%qz_e%"}));
  EXPECT_EQ(session.temp_folder, L"D:\\T");
  // Too long or missing folders are refused, not cut.
  EXPECT_FALSE(session.apply({L"e"}));
  std::wstring long_folder = L"e" + std::wstring(1024, L'x');
  EXPECT_FALSE(session.apply_switch(long_folder));
  EXPECT_TRUE(session.apply_switch(L"e" + std::wstring(1023, L'x')));
  session.key_openable = false;
  EXPECT_FALSE(session.apply({L"e%QZ_E%"}));
}

TEST_F(SessionTest, EmbedAndEprq) {
  EXPECT_TRUE(session.apply({L"embed{Prq Window}", L"eprq"}));
  EXPECT_EQ(session.get_value(kValueEmbed), L"{Prq Window}");
  EXPECT_EQ(session.temp_folder, L"");
}

TEST_F(SessionTest, SourceFolderAndSetupIniFolder) {
  settings.first_launcher_path = L"D:\\media\\setup.exe";
  EXPECT_TRUE(session.apply({L"f3cfg"}));
  EXPECT_EQ(session.setup_ini_folder(), L"D:\\media\\cfg");
  session.registry[L"%QZ_T%"] = L"\"\\\\srv\\share\\pkg\"";
  EXPECT_TRUE(session.apply({L"T%QZ_T%", L"f3cfg"}));
  EXPECT_EQ(session.source_folder(), L"\\\\srv\\share\\pkg");
  EXPECT_EQ(session.setup_ini_folder(), L"\\\\srv\\share\\pkg\\cfg");
  EXPECT_EQ(session.extraction_mode(), kExtractNone);
  EXPECT_TRUE(session.quiet());
  EXPECT_TRUE(session.apply({L"f3E:\\abs", L"tempdisk1folder\"C:\\x\"", L"tempextractpathC:\\y"}));
  EXPECT_EQ(session.setup_ini_folder(), L"E:\\abs");
  EXPECT_EQ(session.source_folder(), L"\\\\srv\\share\\pkg");
}

TEST_F(SessionTest, ResponseFile) {
  session.writable = false;
  EXPECT_TRUE(session.apply({L"f1C:\\answers\\setup.iss"}));
  EXPECT_EQ(session.folders_checked, std::vector<std::wstring>{L"C:\\answers"});
  EXPECT_TRUE(session.response_file_given());
  EXPECT_FALSE(session.response_folder_writable());
  EXPECT_EQ(session.relaunch_command_line(), L" /f1C:\\answers\\setup.iss");
  session.folder_creatable = false;
  EXPECT_FALSE(session.apply({L"f1X:\\no\\setup.iss"}));
  EXPECT_TRUE(session.apply({L"f2C:\\l og.txt", L"fomus"}));
  EXPECT_EQ(session.relaunch_command_line(), L" /f1C:\\answers\\setup.iss /f2\"C:\\l og.txt\" /fomus");
  EXPECT_EQ(session.launch_mode(), kModeRepair);
  EXPECT_EQ(session.get_value(kValueModeLetters), L"omus");
  EXPECT_FALSE(session.apply({L"x"}));  // one launch mode per run
  EXPECT_FALSE(session.apply({L"fa"}));
}

TEST_F(SessionTest, LettersAndIgnoredForms) {
  struct Row { const wchar_t* sw; bool valid; } rows[] = {
      {L"g", false}, {L"Kx", false}, {L"o", false}, {L"y", false}, {L"1", false}, {L"", false},
      {L"?", false}, {L"\u00e9", false}, {L"q\"C:\\x\"", true}, {L"w", true}, {L"debuglog", true},
      {L"DEBUGLOGC:\\x.log", true}, {L"runas", true}, {L"runfromtemp", true}, {L"reboot123", true},
      {L"removeasmajorupgrade{A};1;2", true}, {L"hide_whatever", true}, {L"iother", true},
      {L"US http://x", true}, {L"uother", true}, {L"Cx", true},
  };
  for (auto& r : rows) EXPECT_EQ(session.apply_switch(r.sw), r.valid) << r.sw;
  EXPECT_EQ(session.relaunch_command_line(), L"");
  EXPECT_EQ(session.package_mode(), kPackageBesideLauncher);  // "Cx" is not "c"
}

TEST_F(SessionTest, RecordedSwitches) {
  EXPECT_TRUE(session.apply({L"dX=\"1\"", L"m1a", L"m2b", L"mc", L"noscript_uninst", L"removeonly", L"rx",
                             L"uninst", L"zA=1"}));
  EXPECT_EQ(session.relaunch_command_line(),
            L" /d\"X=\\\"1\\\"\" /m1a /m2b /mc /noscript_uninst /removeonly /r /uninst /z\"A=1\"");
  EXPECT_EQ(session.ini_reads, 1);  // ScriptDriven read once, only when needed
  EXPECT_EQ(session.engine_command_line(), L"");
}

TEST_F(SessionTest, ScriptDrivenThreeFeedsTheEngine) {
  session.ini[L"Startup/ScriptDriven"] = L"3";
  EXPECT_TRUE(session.apply({L"s", L"v/qn", L"dX", L"auto", L"f2C:\\a b.log"}));
  EXPECT_EQ(session.engine_command_line(), L" /s /auto /f2\"C:\\a b.log\"");
}

TEST_F(SessionTest, RunprerequisitesOnlyInThePrerequisiteBuild) {
  EXPECT_TRUE(session.apply({L"runprerequisites:x"}));
  EXPECT_EQ(session.relaunch_command_line(), L" /r");
  session.prerequisites = true;
  EXPECT_TRUE(session.apply({L"RunPrerequisites:x"}));
  EXPECT_EQ(session.relaunch_command_line(), L" /r");
}

TEST_F(SessionTest, LanguageInstanceLocationsAndNames) {
  EXPECT_TRUE(session.apply({L"l0x0407"}));
  EXPECT_EQ(session.requested_language(), 1031);
  EXPECT_TRUE(session.apply({L"L1031"}));
  EXPECT_EQ(settings.requested_language, 1031);
  EXPECT_TRUE(session.apply({L"lxyz"}));
  EXPECT_EQ(settings.requested_language, 0);

  EXPECT_EQ(session.instance_choice(), -4);
  EXPECT_TRUE(session.apply({L"instance=default"}));
  EXPECT_EQ(session.instance_choice(), -1);
  EXPECT_TRUE(session.apply({L"INSTANCE=12"}));
  EXPECT_EQ(session.instance_choice(), 12);
  EXPECT_TRUE(session.apply({L"instance=two"}));
  EXPECT_EQ(session.instance_choice(), -3);

  EXPECT_TRUE(session.apply({L"uahttp://a", L"UWhttp://w", L"uMhttp://m", L"bC:\\cache"}));
  EXPECT_EQ(session.get_value(kValueEngineLocationA), L"http://a");
  EXPECT_EQ(session.get_value(kValueEngineLocationW), L"http://w");
  EXPECT_EQ(session.get_value(kValuePackageLocation), L"http://m");
  EXPECT_EQ(session.get_value(kValueCacheFolder), L"C:\\cache");

  EXPECT_TRUE(session.apply({L"nother.msi", L"hide_progress", L"HIDE_SPLASH"}));
  EXPECT_EQ(session.get_value(kValuePackageName), L"other.msi");
  EXPECT_EQ(session.extraction_mode(), kExtractInstallerOnly);
  EXPECT_TRUE(session.quiet());
  EXPECT_TRUE(session.hide_progress());
  EXPECT_TRUE(session.hide_splash());
}

TEST_F(SessionTest, PackageFromStream) {
  EXPECT_TRUE(session.apply({L"c"}));
  EXPECT_EQ(session.package_mode(), kPackageFromStream);
  EXPECT_TRUE(session.quiet());
}

// /t and /n make a run quiet too, yet only /c and /e mark a run after a restart
// (whose property list already holds the language transform).
TEST_F(SessionTest, RunAfterRestartAndWhereLooseFilesLie) {
  session.set_launcher_path(L"D:\\media\\setup.exe");
  session.set_source_folder(L"C:\\Temp\\{X}");  // where setup.ini was extracted
  EXPECT_EQ(session.package_source_folder(), L"D:\\media");
  EXPECT_TRUE(session.apply({L"tE:\\pkg", L"nother.msi", L"cleanuptempfolderC:\\x"}));
  EXPECT_TRUE(session.quiet());
  EXPECT_FALSE(session.started_with_c_or_e());
  EXPECT_EQ(session.package_source_folder(), L"E:\\pkg");

  for (const wchar_t* sw : {L"c", L"eC:\\Temp\\{X}"}) {
    LaunchSettings s;
    FakeSession resumed(s);
    EXPECT_TRUE(resumed.apply({sw}));
    EXPECT_TRUE(resumed.started_with_c_or_e()) << sw;
  }
}

TEST_F(SessionTest, PasswordIsCutToItsBuffer) {
  EXPECT_TRUE(session.apply_switch(L"p" + std::wstring(150, L'k')));
  EXPECT_EQ(session.setup_password(), std::wstring(99, L'k'));
  EXPECT_TRUE(session.apply({L"pshort"}));
  EXPECT_EQ(session.setup_password(), L"short");
  EXPECT_EQ(session.relaunch_command_line(), L"");  // never recorded as a switch
  session.clear_setup_password();
  EXPECT_EQ(session.setup_password(), L"");
}

TEST_F(SessionTest, RelaunchSwitchesUseSessionState) {
  settings.ui_language = 1033;
  session.set_launcher_path(L"C:\\t\\setup.exe");
  EXPECT_EQ(session.launcher_folder(), L"C:\\t");
  EXPECT_TRUE(session.apply({L"pabc"}));
  std::wstring cmd = L"/s";
  session.append_relaunch_switches(cmd);
  EXPECT_EQ(cmd, L"/s /l1033 /p\"abc\"");
  // A launcher running for a major-upgrade removal names itself and its UNC folder.
  EXPECT_TRUE(session.apply({L"RemoveAsMajorUpgrade{A};1;2"}));
  EXPECT_EQ(session.relaunch_command_line(), L"");  // not a repair ("/r")
  settings.unc_path = L"\\\\srv\\share\\m";
  cmd.clear();
  session.append_relaunch_switches(cmd);
  EXPECT_EQ(cmd, L" /Q\"C:\\t\\setup.exe\" /unc\"\\\\srv\\share\\m\" /l1033 /p\"abc\"");

  settings.launcher_path = L"C:\\t\\setup.exe";
  EXPECT_EQ(session.strip_relaunch_switches(L"/q\"D:\\m\\setup.exe\" /QZ_temp /f1\"C:\\t\\setup.exe.qzs\""),
            L"/f1\"D:\\m\\setup.exe.qzs\"");
}
