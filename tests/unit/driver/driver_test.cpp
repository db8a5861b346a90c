// The setup driver and the first two actions under Wine: the single-instance
// mutex, the custom return codes, the system record, the temporary-location test
// and the reading of setup.ini by DiskAction.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "../support/scratch.h"
#include "QzSetup.h"
#include "diskaction.h"
#include "osaction.h"
#include "package/LaunchSettings.h"
#include "packaged_setting.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"

namespace {

using Ini = std::map<std::wstring, std::wstring>;  // "Section/Key" → value

PackagedSettingReader reader(const Ini& ini) {
  return [ini](const std::wstring& section, const std::wstring& key) {
    for (const auto& [name, value] : ini)
      if (wide_iequals(name, section + L"/" + key)) return value;
    return std::wstring();
  };
}

// Holds a named mutex on another thread (a mutex is recursive for its owner).
class MutexHolder {
 public:
  explicit MutexHolder(const std::wstring& name) {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this, ready, name] {
      HANDLE m = CreateMutexW(nullptr, TRUE, name.c_str());
      SetEvent(ready);
      WaitForSingleObject(release_, 10000);
      ReleaseMutex(m);
      CloseHandle(m);
    });
    WaitForSingleObject(ready, 10000);
    CloseHandle(ready);
  }
  ~MutexHolder() {
    SetEvent(release_);
    thread_.join();
    CloseHandle(release_);
  }

 private:
  HANDLE release_;
  std::thread thread_;
};

class DriverTest : public testing::Test {
 protected:
  void SetUp() override {
    qzproc::set_settings(&settings_);
    qzproc::set_exit_code(0);
  }
  void TearDown() override {
    qzproc::set_settings(nullptr);
    qzproc::set_exit_code(0);
  }
  LaunchSettings settings_;
};

}  // namespace

TEST_F(DriverTest, AnotherInstanceHoldingTheMutexEndsWith2197) {
  settings_.silent = true;  // no message box in a test
  Ini ini = {{L"StartUp/MultipleExeLaunch", L"Y"}, {L"Startup/ProductCode", L"{QZ-TEST-1}"},
             {L"Languages/Default", L"0x409"}};
  MutexHolder other(L"{QZ-TEST-1}MultipleInstance");
  HANDLE mine = reinterpret_cast<HANDLE>(1);
  EXPECT_TRUE(check_single_instance(&mine, reader(ini)));
  EXPECT_EQ(mine, nullptr);
  EXPECT_EQ(qzproc::exit_code(), 2197);
  EXPECT_EQ(settings_.default_language, 0x409);
}

TEST_F(DriverTest, FreeMutexIsTakenAndHandedToTheCaller) {
  Ini ini = {{L"StartUp/MultipleExeLaunch", L"y"}, {L"Startup/ProductCode", L"{QZ-TEST-2}"}};
  HANDLE mine = nullptr;
  ASSERT_FALSE(check_single_instance(&mine, reader(ini)));
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(qzproc::exit_code(), 0);
  // While this process holds it, another holder cannot take it.
  std::thread probe([] {
    HANDLE m = CreateMutexW(nullptr, FALSE, L"{QZ-TEST-2}MultipleInstance");
    EXPECT_EQ(WaitForSingleObject(m, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(m);
  });
  probe.join();
  ReleaseMutex(mine);
  CloseHandle(mine);
}

TEST_F(DriverTest, OnlyExactlyYEnablesTheCheck) {
  settings_.silent = true;
  MutexHolder other(L"{QZ-TEST-3}MultipleInstance");
  for (const wchar_t* value : {L"Yes", L"N", L"", L" Y", L"1", L"true"}) {
    Ini ini = {{L"StartUp/MultipleExeLaunch", value}, {L"Startup/ProductCode", L"{QZ-TEST-3}"}};
    HANDLE mine = reinterpret_cast<HANDLE>(1);
    EXPECT_FALSE(check_single_instance(&mine, reader(ini))) << std::string(value, value + wcslen(value));
    EXPECT_EQ(mine, nullptr);
  }
  EXPECT_EQ(qzproc::exit_code(), 0);
}

TEST_F(DriverTest, ProductCodeTheSystemRefusesAsANameSkipsTheCheck) {
  Ini ini = {{L"StartUp/MultipleExeLaunch", L"Y"}, {L"Startup/ProductCode", L"a\\b\\c"}};
  HANDLE mine = nullptr;
  EXPECT_FALSE(check_single_instance(&mine, reader(ini)));
  if (mine) CloseHandle(mine);
  EXPECT_EQ(qzproc::exit_code(), 0);
}

TEST_F(DriverTest, CustomReturnCodes) {
  struct Row {
    const wchar_t* custom;
    const wchar_t* script_driven;
    const wchar_t* on_success;
    const wchar_t* on_fail;
    const wchar_t* on_abort;
    bool reboot;
    int code;
    int expected;
  } rows[] = {
      {L"Y", L"", L"10", L"0x7F", L"20", false, 0, 10},          // success
      {L"Y", L"", L"10", L"0x7F", L"20", false, 1603, 127},      // failure, hexadecimal
      {L"Y", L"", L"10", L"0x7F", L"20", false, 1153, 127},      // launcher's own error
      {L"Y", L"", L"10", L"", L"20", false, 1603, 1603},         // empty: keeps the code
      {L"Y", L"", L"10", L"0x7F", L"20", false, -1, 20},         // abort
      {L"Y", L"", L"10", L"0x7F", L"20", false, 1602, 20},       // abort
      {L"Y", L"1", L"10", L"0x7F", L"20", false, 1602, 127},     // script-driven: 1602 is a failure
      {L"Y", L"1", L"10", L"0x7F", L"20", false, -3, 20},        // script-driven abort
      {L"Y", L"0", L"10", L"0x7F", L"20", false, -3, 127},
      {L"N", L"", L"10", L"0x7F", L"20", false, 1603, 1603},     // not enabled
      {L"", L"", L"10", L"0x7F", L"20", false, 0, 0},
      {L"Yes", L"", L"-5", L"0x7F", L"20", false, 0, -5},
      {L"Y", L"", L"10", L"0x7F", L"20", true, 1603, 1603},      // restart pending: unchanged
      {L"Y", L"", L"10", L"0xFFFFFFFF", L"20", false, 3, -1},
  };
  for (const Row& r : rows) {
    QzSetup setup;
    ASSERT_TRUE(setup.init(GetModuleHandleW(nullptr), 0, nullptr, L"C:\\media\\setup.exe", L"", settings_));
    if (r.reboot) setup.session()->set_reboot_scheduled(true);
    Ini ini = {{L"CustomRetCode", r.custom}, {L"ScriptDriven", r.script_driven},
               {L"CustomRetCodeOnSuccess", r.on_success}, {L"CustomRetCodeOnFail", r.on_fail},
               {L"CustomRetCodeOnAbort", r.on_abort}};
    setup.set_setting_reader([ini](const std::wstring& key) {
      auto it = ini.find(key);
      return it == ini.end() ? std::wstring() : it->second;
    });
    EXPECT_EQ(setup.exit_code(r.code), r.expected) << "code " << r.code << " row " << (&r - rows);
  }
}

TEST_F(DriverTest, OsRecordOfThisSystem) {
  Session session(GetModuleHandleW(nullptr), settings_);
  OSAction action(session);
  EXPECT_FALSE(action.started());
  EXPECT_EQ(action.execute(), 1);
  EXPECT_TRUE(action.started());
  const OsRecord& r = session.os_record();
  // The test prefix is set to Windows 10 (winecfg -v win10).
  EXPECT_EQ(r.major, 10);
  EXPECT_EQ(r.minor, 0);
  EXPECT_EQ(r.platform_id, 2);
  EXPECT_EQ(r.platform_code, 2);
  EXPECT_TRUE(r.supported);
  EXPECT_GT(r.build, 0);
}

namespace {

// Sets an environment variable for one test and restores it.
class ScopedEnv {
 public:
  ScopedEnv(const wchar_t* name, const std::wstring& value) : name_(name) {
    wchar_t buf[2048];
    DWORD n = GetEnvironmentVariableW(name, buf, 2048);
    had_ = n > 0 && n < 2048;
    if (had_) old_.assign(buf, n);
    SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedEnv() { SetEnvironmentVariableW(name_, had_ ? old_.c_str() : nullptr); }

 private:
  const wchar_t* name_;
  bool had_ = false;
  std::wstring old_;
};

std::wstring windows_folder() {
  wchar_t buf[MAX_PATH + 1];
  UINT n = GetWindowsDirectoryW(buf, MAX_PATH + 1);
  return std::wstring(buf, n);
}

}  // namespace

class DiskTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    qzproc::set_settings(&settings_);
    qzproc::set_exit_code(0);
    reset_disk_action_for_tests();
  }
  void TearDown() override {
    set_os_record_for_tests(nullptr);  // a failed assertion must not leave a test's system behind
    qzproc::set_settings(nullptr);
    qzproc::set_exit_code(0);
    reset_disk_action_for_tests();
    ScratchTest::TearDown();
  }
  LaunchSettings settings_;
};

TEST_F(DiskTest, FolderWritableAndFreeSpace) {
  EXPECT_TRUE(folder_writable(dir_));
  EXPECT_FALSE(exists(path(L"_MSI5166._QZ")));
  EXPECT_FALSE(folder_writable(path(L"missing")));
  // An entry already under the probe's name (anyone's, a link) is never written
  // through or removed: the folder does not count.
  write_file(path(L"_MSI5166._QZ"), "old");
  EXPECT_FALSE(folder_writable(dir_));
  EXPECT_EQ(read_file(path(L"_MSI5166._QZ")), "old");
  DeleteFileW(path(L"_MSI5166._QZ").c_str());

  uint32_t kb = 0;
  EXPECT_TRUE(free_space_kb(dir_, &kb));
  EXPECT_GT(kb, 0u);
  EXPECT_TRUE(free_space_kb(path(L"not\\yet\\there"), &kb));  // the volume counts, not the folder
  EXPECT_FALSE(free_space_kb(L"Q:\\nowhere", &kb));
}

TEST_F(DiskTest, TemporaryLocationFallsBackToTheWindowsFolder) {
  for (const std::wstring& bad : {path(L"missing\\"), std::wstring(L"\\\\server\\share\\temp\\")}) {
    ScopedEnv tmp(L"TMP", bad);
    ScopedEnv temp(L"TEMP", bad);
    std::wstring chosen = find_temporary_location(0);
    EXPECT_EQ(zpath(chosen).remove_backslash(), zpath(windows_folder()).remove_backslash());
  }
  {
    ScopedEnv tmp(L"TMP", dir_ + L"\\");
    ScopedEnv temp(L"TEMP", dir_ + L"\\");
    EXPECT_EQ(zpath(find_temporary_location(0)).remove_backslash(), zpath(dir_).remove_backslash());
    // No volume has this much room: no location at all.
    EXPECT_EQ(find_temporary_location(0x7FFFFFFF), L"");
  }
}

namespace {
const char kGoodIni[] =
    "[Startup]\r\n"
    "PackageName=product.msi\r\n"
    "ProductCode={11111111-2222-3333-4444-555555555555}\r\n"
    "PackageCode={AAAAAAAA-2222-3333-4444-555555555555}\r\n"
    "UpgradeCode={BBBBBBBB-2222-3333-4444-555555555555}\r\n"
    "ProductVersion=1.2.3\r\n"
    "CmdLine=INSTALLDIR=\"%QZ_DRIVER_TEST_DIR%\\x\" /l*v log.txt\r\n"
    "OnUpgrade=2\r\n"
    "Mode=2\r\n"
    "DotNetVersion=4.8\r\n"
    "[MsiVersion]\r\n"
    "2.0.2600.2=Engine20\r\n"
    "4.5.6001.22159=Engine45\r\n"
    "[Engine20]\r\nOld=\r\n"
    "[Engine45]\r\nWin10=\r\n"
    "[Old]\r\nMajorVer=5\r\nPlatformId=2\r\nMinorVerMax=3\r\n"
    "[Win10]\r\nMajorVer=10\r\nPlatformId=2\r\nMinorVerMax=1\r\n";
}

TEST_F(DiskTest, ReadsTheSessionValuesFromSetupIniBesideTheLauncher) {
  write_file(path(L"Setup.INI"), kGoodIni);
  ScopedEnv var(L"QZ_DRIVER_TEST_DIR", L"C:\\Program Files\\Q");
  Session session(GetModuleHandleW(nullptr), settings_);
  session.set_launcher_path(path(L"setup.exe"));
  DiskAction disk(session);
  ASSERT_EQ(disk.execute(), 1);
  EXPECT_EQ(session.package_mode(), kPackageBesideLauncher);
  EXPECT_EQ(settings_.setup_ini_path, path(L"Setup.INI"));
  EXPECT_EQ(session.source_folder(), dir_);
  EXPECT_EQ(session.get_value(kValuePackageName), L"product.msi");
  EXPECT_EQ(session.get_value(kValueProductCode), L"{11111111-2222-3333-4444-555555555555}");
  EXPECT_EQ(session.get_value(kValuePackageCode), L"{AAAAAAAA-2222-3333-4444-555555555555}");
  EXPECT_EQ(session.get_value(kValueUpgradeCode), L"{BBBBBBBB-2222-3333-4444-555555555555}");
  EXPECT_EQ(session.get_value(kValueProductVersion), L"1.2.3");
  EXPECT_EQ(session.get_value(kValueEngineVersion), L"4.5.6001.22159");
  EXPECT_EQ(session.get_value(kValueInstallerCommandLine), L"INSTALLDIR=\"C:\\Program Files\\Q\\x\" /l*v log.txt");
  EXPECT_NE(session.relaunch_command_line().find(L"/v\"INSTALLDIR=\\\"C:\\Program Files\\Q\\x\\\" /l*v log.txt\""),
            std::wstring::npos)
      << std::string(session.relaunch_command_line().begin(), session.relaunch_command_line().end());
  EXPECT_EQ(session.get_value(kValueBillboardType), L"0");
  EXPECT_EQ(session.get_value(kValueDotNetVersion), L"4.8");
  EXPECT_EQ(session.upgrade_mode(), 1);
  EXPECT_EQ(session.launch_mode(), kModeRepair);
  EXPECT_EQ(qzproc::exit_code(), 0);

  // A second DiskAction in the same process succeeds at once.
  DeleteFileW(path(L"Setup.INI").c_str());
  // The loaded profile is the session's: keys read on demand still answer.
  EXPECT_TRUE(session.profile_loaded());
  EXPECT_EQ(session.package_name(), L"product.msi");
  EXPECT_EQ(session.on_upgrade(), 2);
  DiskAction again(session);
  EXPECT_EQ(again.execute(), 1);
}

TEST_F(DiskTest, ExitCodeReadsTheLoadedSetupIniAfterItsFileIsGone) {
  write_file(path(L"Setup.INI"), "[Startup]\r\nPackageName=a.msi\r\nCustomRetCode=Y\r\nCustomRetCodeOnFail=0x7F\r\n");
  settings_.silent = true;
  QzSetup setup;
  ASSERT_TRUE(setup.init(GetModuleHandleW(nullptr), 0, nullptr, path(L"setup.exe"), L"", settings_));
  DiskAction disk(*setup.session());
  ASSERT_EQ(disk.execute(), 1);
  DeleteFileW(path(L"Setup.INI").c_str());  // the clean-up has run
  EXPECT_EQ(setup.exit_code(1603), 127);
  EXPECT_EQ(setup.exit_code(0), 0);
}

TEST_F(DiskTest, CommandLineSwitchKeepsItsInstallerCommandLineAndMode) {
  write_file(path(L"Setup.INI"), kGoodIni);
  settings_.silent = true;
  Session session(GetModuleHandleW(nullptr), settings_);
  session.set_launcher_path(path(L"setup.exe"));
  session.set_value(kValueInstallerCommandLine, L"/qn");
  session.set_launch_mode(kModeUninstall);
  DiskAction disk(session);
  ASSERT_EQ(disk.execute(), 1);
  EXPECT_EQ(session.get_value(kValueInstallerCommandLine), L"/qn");
  EXPECT_EQ(session.launch_mode(), kModeUninstall);
}

TEST_F(DiskTest, MissingOrHostileSetupIniFails1153) {
  const std::string cases[] = {
      "[Startup]\r\nProductCode={X}\r\n",                         // no PackageName
      "[Startup]\r\nPackageName=\r\n",                             // empty PackageName
      "",                                                          // empty file
      std::string("\xFF\xFE[\0S\0", 6),                            // cut UTF-16
      std::string(70000, '[') + "\r\n=\r\n" + std::string(5000, '='),
      "[Startup\r\nPackageName=a.msi\r\n",                         // broken section line
      "PackageName=a.msi\r\n",                                     // key outside a section
  };
  for (const std::string& text : cases) {
    reset_disk_action_for_tests();
    qzproc::set_exit_code(0);
    write_file(path(L"Setup.INI"), text);
    Session session(GetModuleHandleW(nullptr), settings_);
    settings_.silent = true;
    session.set_launcher_path(path(L"setup.exe"));
    DiskAction disk(session);
    EXPECT_EQ(disk.execute(), 0) << text.substr(0, 40);
    EXPECT_EQ(qzproc::exit_code(), 1153) << text.substr(0, 40);
  }
  // No setup.ini at all.
  reset_disk_action_for_tests();
  qzproc::set_exit_code(0);
  DeleteFileW(path(L"Setup.INI").c_str());
  Session session(GetModuleHandleW(nullptr), settings_);
  session.set_launcher_path(path(L"setup.exe"));
  DiskAction disk(session);
  EXPECT_EQ(disk.execute(), 0);
  EXPECT_EQ(qzproc::exit_code(), 1153);
}

TEST_F(DiskTest, CmdLineOver1023CharactersIsRefusedNeverCut) {
  ScopedEnv half(L"QZ_TEST_HALF", std::wstring(600, L'E'));
  struct Row {
    std::string cmd_line;
    bool accepted;
  } rows[] = {
      {std::string(1023, 'P'), true},
      {"%QZ_TEST_HALF%", true},
      {std::string(1024, 'P'), false},
      {std::string(5000, 'P') + "%PATH%", false},
      {"%QZ_TEST_HALF%%QZ_TEST_HALF%", false},  // 1200 characters once expanded
  };
  settings_.silent = true;
  for (const Row& r : rows) {
    reset_disk_action_for_tests();
    qzproc::set_exit_code(0);
    write_file(path(L"Setup.INI"), "[Startup]\r\nPackageName=a.msi\r\nCmdLine=" + r.cmd_line + "\r\n");
    Session session(GetModuleHandleW(nullptr), settings_);
    session.set_launcher_path(path(L"setup.exe"));
    DiskAction disk(session);
    EXPECT_EQ(disk.execute(), r.accepted ? 1 : 0) << r.cmd_line.size();
    if (r.accepted) {
      EXPECT_EQ(session.get_value(kValueInstallerCommandLine).size(), r.cmd_line[0] == 'P' ? 1023u : 600u);
    } else {
      EXPECT_EQ(qzproc::exit_code(), 1153) << r.cmd_line.size();
    }
  }
}

// Nothing qualifies: the system temporary folder is missing, and someone holds
// the probe file of every other candidate open.
TEST_F(DiskTest, NoUsableTemporaryLocationEndsWith1151) {
  write_file(path(L"Setup.INI"), kGoodIni);
  settings_.silent = true;
  ScopedEnv tmp(L"TMP", path(L"missing\\"));
  ScopedEnv temp(L"TEMP", path(L"missing\\"));
  std::vector<std::wstring> held_paths;
  std::vector<HANDLE> held;
  for (const std::wstring& folder : {windows_folder(), std::wstring(L"C:\\"), std::wstring(L"D:\\")}) {
    std::wstring probe = zpath(folder).join(L"_MSI5166._QZ");
    HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) continue;  // not writable: no candidate either
    held.push_back(h);
    held_paths.push_back(probe);
  }
  Session session(GetModuleHandleW(nullptr), settings_);
  session.set_launcher_path(path(L"setup.exe"));
  DiskAction disk(session);
  EXPECT_EQ(disk.execute(), 0);
  EXPECT_EQ(qzproc::exit_code(), 1151);
  EXPECT_FALSE(session.has_value(kValuePackageName));  // stopped before setup.ini
  for (HANDLE h : held) CloseHandle(h);
  for (const std::wstring& p : held_paths) DeleteFileW(p.c_str());
}

// The session run of each extraction mode; the test value stands in for the
// installer action's result. Mode 2 runs the action alone, mode 3 nothing, and a
// normal run on a system that is not supported ends with 1150 before the action.
TEST_F(DiskTest, SessionRunOfEachExtractionMode) {
  write_file(path(L"Setup.INI"), "[Startup]\r\nPackageName=a.msi\r\n");
  settings_.silent = true;
  ScopedEnv result(L"QZ_TEST_MSIACTION_RESULT", L"4321");
  OsRecord nt351;
  nt351.platform_code = 2;
  nt351.platform_id = 2;
  nt351.major = 3;
  nt351.minor = 51;
  struct Row {
    int mode;
    const OsRecord* system;  // null: the running one
    int exit_code;
    bool system_checked;
  } rows[] = {
      {kExtractInstallerOnly, nullptr, 4321, false},
      {kExtractNone, nullptr, 0, false},
      {kExtractNormal, &nt351, 1150, true},
      {kExtractNormal, nullptr, 4321, true},
  };
  for (const Row& r : rows) {
    reset_disk_action_for_tests();
    qzproc::set_exit_code(0);
    set_os_record_for_tests(r.system);
    QzSetup setup;
    ASSERT_TRUE(setup.init(GetModuleHandleW(nullptr), 0, nullptr, path(L"setup.exe"), L"", settings_));
    setup.session()->set_extraction_mode(r.mode);
    EXPECT_EQ(setup.run(), 1);
    EXPECT_EQ(qzproc::exit_code(), r.exit_code) << "row " << (&r - rows);
    EXPECT_EQ(setup.session()->os_record().major != 0, r.system_checked) << "row " << (&r - rows);
  }
}

// A restart asked for by a child launcher (value 21) or by a prerequisite run
// outside this process (a registry value named after the product) ends the run
// with 7002; the registry value is consumed in every case, so it cannot end a
// later run the same way.
TEST_F(DiskTest, PendingRestartEndsWith7002AndTheRegistryValueIsConsumed) {
  const wchar_t kKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion";
  settings_.silent = true;
  settings_.product_name = L"QzDriverTest" + std::to_wstring(GetCurrentProcessId());
  const std::wstring name = L"%QZ_PREREQFREBOOT%-" + settings_.product_name;
  auto registry_value = [&] {
    return RegGetValueW(HKEY_CURRENT_USER, kKey, name.c_str(), RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  };
  struct Row {
    bool value21, registry;
    int exit_code;
  } rows[] = {{true, true, 7002}, {false, false, 0}, {false, true, 7002}, {true, false, 7002}};
  for (const Row& r : rows) {
    qzproc::set_exit_code(0);
    if (r.registry) {
      ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kKey, name.c_str(), REG_SZ, L"1", 4), ERROR_SUCCESS);
    }
    QzSetup setup;
    ASSERT_TRUE(setup.init(GetModuleHandleW(nullptr), 0, nullptr, path(L"setup.exe"), L"", settings_));
    setup.session()->set_extraction_mode(kExtractNone);
    if (r.value21) setup.session()->set_value(kValueChildRebootRequested, L"Y");
    setup.run();
    EXPECT_EQ(qzproc::exit_code(), r.exit_code) << "row " << (&r - rows);
    EXPECT_FALSE(registry_value()) << "row " << (&r - rows);
  }
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, name.c_str());
}
