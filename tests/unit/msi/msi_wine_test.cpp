// The installer checks and MsiAction against the real msi.dll and msiexec, with
// packages that wixl builds at test time (tests/data/demo/build-demo.sh).
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "ScriptInitProgress.h"
#include "launch.h"
#include "msi_checks.h"
#include "msi_library.h"
#include "msiaction.h"
#include "package/LaunchSettings.h"
#include "session.h"
#include "support/handles.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"

namespace {

const wchar_t kProduct[] = L"{6E1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}";
// cancel.msi's product (shared with the prerequisite tests' prq.msi).
const wchar_t kCancelProduct[] = L"{8A3E4C5D-6F70-4182-AC9D-1E2F3A4B5C6D}";

std::wstring full(const std::wstring& relative) {
  wchar_t buffer[1024];
  DWORD n = GetFullPathNameW(relative.c_str(), 1024, buffer, nullptr);
  return std::wstring(buffer, n);
}

std::wstring data(const wchar_t* name) { return full(std::wstring(L"testdata\\msi\\") + name); }

std::wstring read_text(const std::wstring& path) {
  std::wifstream f(path.c_str());
  std::wstring s;
  std::getline(f, s);
  return s;
}

// The stand-in library writes its record as UTF-16LE.
std::wstring read_utf16(const std::wstring& path) {
  std::ifstream f(path.c_str(), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

std::wstring package_code_of(const wchar_t* package) {
  std::wstring name = package;
  return read_text(data((name.substr(0, name.size() - 4) + L".code").c_str()));
}

std::wstring reg_string(HKEY root, const wchar_t* key, const wchar_t* value) {
  wchar_t buffer[2048] = {};
  DWORD bytes = sizeof(buffer);
  if (RegGetValueW(root, key, value, RRF_RT_REG_SZ, nullptr, buffer, &bytes) != ERROR_SUCCESS)
    return L"(missing)";
  return buffer;
}

void reg_set(HKEY root, const wchar_t* key, const wchar_t* value, const std::wstring& text) {
  HKEY k;
  ASSERT_EQ(RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr), ERROR_SUCCESS);
  RegSetValueExW(k, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * 2));
  RegCloseKey(k);
}

void reg_delete(HKEY root, const wchar_t* key, const wchar_t* value) {
  HKEY k;
  if (RegOpenKeyExW(root, key, 0, KEY_SET_VALUE, &k) == ERROR_SUCCESS) {
    RegDeleteValueW(k, value);
    RegCloseKey(k);
  }
}

bool installed() { return qzmsi::QueryProductState(kProduct) == INSTALLSTATE_DEFAULT; }

void uninstall_quietly() {
  if (installed()) launch_and_wait(std::wstring(L"\"MSIEXEC.EXE\" /x ") + kProduct + L" /qn", false);
}

// A session as the driver leaves it before the last action: settings from a
// setup.ini in a scratch folder that also holds the package (the source folder).
class MsiRun {
 public:
  explicit MsiRun(const std::wstring& name, const std::wstring& ini_text) {
    folder_ = full(L"scratch\\unit_msi\\" + name);
    qz::RemoveFolderTree(folder_);
    qz::CreateFolderTree(zpath(folder_).join(L"temp"));
    std::wstring ini = zpath(folder_).join(L"setup.ini");
    std::wofstream(ini.c_str()) << ini_text;
    set_msi_settings_file_for_tests(ini);
    settings_.silent = true;
    qzproc::set_settings(&settings_);
    qzproc::set_temp_folder(zpath(folder_).join(L"temp"));
    qzproc::set_exit_code(0);
    session_ = std::make_unique<Session>(GetModuleHandleW(nullptr), settings_);
    session_->set_launcher_path(zpath(folder_).join(L"setup.exe"));
    session_->set_value(kValueProductCode, kProduct);
  }
  ~MsiRun() {
    set_msi_settings_file_for_tests(L"");
    qzproc::set_settings(nullptr);
  }
  void put(const wchar_t* package) { CopyFileW(data(package).c_str(), zpath(folder_).join(package).c_str(), FALSE); }
  Session& session() { return *session_; }
  LaunchSettings& settings() { return settings_; }
  const std::wstring& folder() const { return folder_; }

 private:
  std::wstring folder_;
  LaunchSettings settings_;
  std::unique_ptr<Session> session_;
};

std::wstring startup_ini(const std::wstring& package, const std::wstring& extra = L"") {
  return L"[Startup]\nPackageName=" + package + L"\nProductCode=" + kProduct + L"\n" + extra + L"\n[" + package +
         L"]\nType=0\n";
}

}  // namespace

TEST(MsiProbes, PlatformPackageCodeAndVersion) {
  EXPECT_TRUE(IsPackage64Bit(data(L"demo.msi")));
  EXPECT_FALSE(IsPackage64Bit(data(L"demo32.msi")));
  EXPECT_FALSE(IsPackage64Bit(data(L"corrupt.msi")));
  EXPECT_FALSE(IsPackage64Bit(data(L"no-such.msi")));

  std::wstring code;
  ASSERT_TRUE(ReadPackageCode(data(L"demo.msi"), &code));
  EXPECT_EQ(code, package_code_of(L"demo.msi"));
  EXPECT_FALSE(ReadPackageCode(data(L"corrupt.msi"), &code));
  EXPECT_TRUE(code.empty());

  EXPECT_EQ(read_package_product_version(data(L"demo2.msi")), L"2.0.0");
  EXPECT_TRUE(package_product_version_matches(data(L"demo.msi"), L"1.0.0"));
  EXPECT_TRUE(package_product_version_matches(data(L"demo.msi"), L"1.0"));  // four numbers, missing ones 0
  EXPECT_FALSE(package_product_version_matches(data(L"demo.msi"), L"2.0.0"));
  EXPECT_FALSE(package_product_version_matches(data(L"corrupt.msi"), L"1.0.0"));
}

TEST(MsiProbes, QueryFailureCarriesTheInstallerMessage) {
  qzmsi::handle db;
  ASSERT_EQ(qzmsi::OpenDatabase(data(L"demo.msi").c_str(), MSIDBOPEN_READONLY, db.receive()), 0u);
  try {
    qzmsi::query_first_record(db.get(), L"SELECT * FROM `NoSuchTable`");
    FAIL() << "no exception";
  } catch (const qzmsi::com_exception& e) {
    EXPECT_EQ(HRESULT_FACILITY(e.hr()), FACILITY_WIN32);
    EXPECT_NE(e.description().find(L"MsiOpenDatabaseView("), std::wstring::npos) << e.description();
  }
}

TEST(MsiGuard, MissingLibraryOrEntryIsAnOrdinaryFailure) {
  qzmsi::set_library_name_for_tests(L"qz-no-such-msi.dll");
  MSIHANDLE h = 0;
  EXPECT_EQ(qzmsi::OpenDatabase(data(L"demo.msi").c_str(), MSIDBOPEN_READONLY, &h), 126u);
  EXPECT_EQ(qzmsi::GetSummaryInformation(0, data(L"demo.msi").c_str(), 0, &h), 127u);
  std::wstring code;
  EXPECT_FALSE(ReadPackageCode(data(L"demo.msi"), &code));
  EXPECT_FALSE(IsPackage64Bit(data(L"demo.msi")));
  EXPECT_FALSE(product_installed(kProduct));
  {
    MsiRun run(L"guard", startup_ini(L"demo.msi"));
    int policy = 0;
    EXPECT_TRUE(upgrade_check(run.session(), &policy));
    EXPECT_EQ(policy, 2);  // skip from now on
  }
  qzmsi::set_library_name_for_tests(L"kernel32.dll");  // loads, but has no such entries
  EXPECT_EQ(qzmsi::OpenDatabase(data(L"demo.msi").c_str(), MSIDBOPEN_READONLY, &h), 127u);
  qzmsi::set_library_name_for_tests(nullptr);
  EXPECT_TRUE(IsPackage64Bit(data(L"demo.msi")));
}

TEST(MsiProbes, EngineVersion) {
  std::wstring v = module_file_version(L"Msi.DLL");
  EXPECT_FALSE(v.empty());
  MsiRun run(L"engine", startup_ini(L"demo.msi"));
  EXPECT_TRUE(check_engine_version(run.session()));  // this system has 4.5
  EXPECT_EQ(qzproc::exit_code(), 0);
}

// Install, upgrade checks, minor upgrade and uninstall through MsiAction and msiexec.
TEST(MsiInstall, InstallUpgradeUninstall) {
  uninstall_quietly();
  ASSERT_FALSE(product_installed(kProduct));
  std::wstring readme = zpath(L"C:\\Program Files\\Brackenwright Demo").join(L"readme.txt");
  {
    MsiRun run(L"install", startup_ini(L"demo.msi"));
    run.put(L"demo.msi");
    run.session().set_value(kValueInstallerCommandLine, L"/qn");
    EXPECT_TRUE(run_msi_action(run.session()));
    EXPECT_EQ(qzproc::exit_code(), 0);
  }
  EXPECT_TRUE(product_installed(kProduct));
  EXPECT_TRUE(installed());
  EXPECT_TRUE(qz::PathExists(readme, qz::kPathFile));
  EXPECT_EQ(reg_string(HKEY_LOCAL_MACHINE, L"Software\\Brackenwright\\Demo", L"Version"), L"1.0.0");

  {
    // The same package again: maintenance, no upgrade.
    MsiRun run(L"same", startup_ini(L"demo.msi"));
    Session& s = run.session();
    std::wstring lower = package_code_of(L"demo.msi");
    for (auto& c : lower) c = towlower(c);
    s.set_value(kValuePackageCode, lower);  // compared without regard to case
    s.set_value(kValueProductVersion, L"1.0.0");
    int policy = 0;
    EXPECT_TRUE(upgrade_check(s, &policy));
    EXPECT_EQ(policy, 2);
    EXPECT_TRUE(s.get_value(kValueInstallerCommandLine).empty());
  }
  {
    // Older setup over a later installed product: stops without a message.
    MsiRun run(L"older", startup_ini(L"demo.msi"));
    Session& s = run.session();
    s.set_value(kValuePackageCode, L"{00000000-0000-0000-0000-000000000000}");
    s.set_value(kValueProductVersion, L"0.5");
    int policy = 1;
    EXPECT_FALSE(upgrade_check(s, &policy));
  }
  {
    // Newer package: minor upgrade, silently agreed.
    MsiRun run(L"upgrade", startup_ini(L"demo2.msi"));
    run.put(L"demo2.msi");
    Session& s = run.session();
    s.set_value(kValueInstallerCommandLine, L"/qn");
    s.set_value(kValuePackageCode, package_code_of(L"demo2.msi"));
    s.set_value(kValueProductVersion, L"2.0.0");
    int policy = upgrade_policy_for(s);
    EXPECT_EQ(policy, 1);  // OnUpgrade 1 with /s: do not ask
    ASSERT_TRUE(upgrade_check(s, &policy));
    EXPECT_EQ(s.get_value(kValueInstallerCommandLine), L"/qn REINSTALL=ALL REINSTALLMODE=vomus QZ_MINOR_UPGRADE=1");
    EXPECT_NE(s.relaunch_command_line().find(L"QZ_MINOR_UPGRADE=1"), std::wstring::npos);
    EXPECT_TRUE(run_msi_action(s));
    EXPECT_EQ(qzproc::exit_code(), 0);
  }
  EXPECT_EQ(reg_string(HKEY_LOCAL_MACHINE, L"Software\\Brackenwright\\Demo", L"Version"), L"2.0.0");
  {
    MsiRun run(L"uninstall", startup_ini(L"demo2.msi"));
    run.put(L"demo2.msi");
    run.session().set_launch_mode(kModeUninstall);
    run.session().set_value(kValueInstallerCommandLine, L"/qn");
    EXPECT_TRUE(run_msi_action(run.session()));
    EXPECT_EQ(qzproc::exit_code(), 0);
  }
  EXPECT_FALSE(product_installed(kProduct));
  EXPECT_FALSE(qz::PathExists(readme, qz::kPathFile));
}

TEST(MsiInstall, FailingPackageGivesMsiexecsOwnCode) {
  std::wstring corrupt = data(L"corrupt.msi");
  int direct = launch_and_wait(L"\"MSIEXEC.EXE\" /i \"" + corrupt + L"\" /qn", false);
  ASSERT_NE(direct, 0);
  ASSERT_NE(direct, kNotStarted);
  MsiRun run(L"corrupt", startup_ini(L"corrupt.msi"));
  run.put(L"corrupt.msi");
  run.session().set_value(kValueInstallerCommandLine, L"/qn");
  EXPECT_TRUE(run_msi_action(run.session()));
  EXPECT_EQ(qzproc::exit_code(), direct);
}

// A restart was due before msiexec ran and the user cancelled the installation
// (1602): the restart question is asked at the end of the run.
TEST(MsiInstall, CancelledInstallationWithARestartDueAsksAtTheEnd) {
  for (bool due : {true, false}) {
    MsiRun run(L"cancel", startup_ini(L"cancel.msi"));
    run.put(L"cancel.msi");
    run.session().set_value(kValueInstallerCommandLine, L"/qn");
    run.session().set_restart_due(due);
    MsiAction action(run.session());
    EXPECT_EQ(action.InstallMsi(zpath(run.folder()).join(L"cancel.msi")), 1);
    EXPECT_EQ(qzproc::exit_code(), 1602);
    EXPECT_EQ(run.session().reboot_needed(), due);
  }
  // Wine registers the product although its installation was cancelled; a removal
  // (cancelled as well) takes the registration away, or the prerequisite tests would
  // find prq.msi's product installed.
  launch_and_wait(std::wstring(L"\"MSIEXEC.EXE\" /x ") + kCancelProduct + L" /qn", false);
  EXPECT_FALSE(product_installed(kCancelProduct));
}

TEST(MsiInstall, MissingPackageInTheTemporaryFolder) {
  MsiRun run(L"missing", L"[Startup]\nPackageName=gone.msi\n[gone.msi]\nType=4\n");
  run.session().set_value(kValuePackageName, L"gone.msi");
  EXPECT_FALSE(run_msi_action(run.session()));
  EXPECT_EQ(qzproc::exit_code(), 1155);
}

TEST(MsiInstall, BillboardsGoThroughTheExternalLibrary) {
  uninstall_quietly();
  MsiRun run(L"billboard", startup_ini(L"demo.msi", L"BillboardType=2"));
  run.put(L"demo.msi");
  run.settings().silent = false;
  CopyFileW(full(L"QZExternalUI.dll").c_str(), zpath(run.folder()).join(L"temp\\QZExternalUI.dll").c_str(), FALSE);
  std::wstring record = zpath(run.folder()).join(L"record.txt");
  SetEnvironmentVariableW(L"QZ_EXTERNALUI_RECORD", record.c_str());
  run.session().set_value(kValueInstallerCommandLine, L"FOO=\"a b\"");
  EXPECT_TRUE(run_msi_action(run.session()));
  SetEnvironmentVariableW(L"QZ_EXTERNALUI_RECORD", nullptr);
  EXPECT_EQ(qzproc::exit_code(), 4242);
  std::wstring got = read_utf16(record);
  EXPECT_EQ(got.substr(0, got.find(L'|')), zpath(run.folder()).join(L"demo.msi"));
  EXPECT_NE(got.find(L"|FOO=\"a b\" SETUPEXEDIR="), std::wstring::npos) << got;
  EXPECT_EQ(got.substr(got.size() - 4), L"|0|2");
  EXPECT_FALSE(installed());
}

TEST(MsiRestart, RebootWritesTheEntryAndPlaceholders) {
  static bool restarted = false;
  qz::set_reboot_hook([] {
    restarted = true;
    return false;
  });
  const wchar_t kCurrent[] = L"Software\\Microsoft\\Windows\\CurrentVersion";
  const wchar_t kRunOnce[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
  {
    MsiRun run(L"reboot", L"[Startup]\nPackageName=demo.msi\n[demo.msi]\nType=1\n");
    run.session().set_value(kValuePackageName, L"demo.msi");
    MsiAction action(run.session());
    action.Reboot(L"/qn X=\"a b\"");
    std::wstring command = reg_string(HKEY_LOCAL_MACHINE, kRunOnce, L"QZSetup");
    EXPECT_NE(command.find(L"/t\"%QZ_T%\" /e\"%QZ_E%\" /v\"%QZ_V%\""), std::wstring::npos) << command;
    EXPECT_EQ(reg_string(HKEY_LOCAL_MACHINE, kCurrent, L"%QZ_V%"), L"/qn X=\"a b\" AFTERREBOOT=1");
    EXPECT_EQ(reg_string(HKEY_LOCAL_MACHINE, kCurrent, L"%QZ_E%"), qzproc::temp_folder());
    EXPECT_TRUE(restarted);  // /s without /auto restarts without asking
    // The settings copy in the temporary folder takes the package from there next time.
    std::wstring copy = zpath(run.folder()).join(L"temp\\setup.ini");
    EXPECT_EQ(GetPrivateProfileIntW(L"demo.msi", L"Type", 0, copy.c_str()), 4);
  }
  reg_delete(HKEY_LOCAL_MACHINE, kRunOnce, L"QZSetup");
  restarted = false;
  {
    MsiRun run(L"reboot3", L"[Startup]\nPackageName=demo.msi\nNoSuppressRebootKey=3\n[demo.msi]\nType=2\n");
    run.session().set_value(kValuePackageName, L"demo.msi");
    MsiAction action(run.session());
    action.Reboot(L"/qn");
    EXPECT_EQ(reg_string(HKEY_LOCAL_MACHINE, kRunOnce, L"QZSetup"), L"(missing)");
    EXPECT_FALSE(restarted);
    std::wstring copy = zpath(run.folder()).join(L"temp\\setup.ini");
    EXPECT_EQ(GetPrivateProfileIntW(L"demo.msi", L"Type", 0, copy.c_str()), 4);
  }
  for (const wchar_t* v : {L"%QZ_T%", L"%QZ_E%", L"%QZ_V%"}) reg_delete(HKEY_LOCAL_MACHINE, kCurrent, v);
  qz::set_reboot_hook(nullptr);
}

TEST(MsiRestart, ResumeEntriesPointAtTheLauncher) {
  const wchar_t kEntries[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\RunOnceEntries";
  const wchar_t kRunOnce[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
  MsiRun run(L"resume", startup_ini(L"demo.msi"));
  MsiAction action(run.session());
  // A name too long for the enumeration's buffer (listed first) is passed over.
  const std::wstring long_name = L"A" + std::wstring(600, L'q');
  reg_set(HKEY_LOCAL_MACHINE, kEntries, long_name.c_str(), L"");
  reg_set(HKEY_LOCAL_MACHINE, kEntries, L"QzTestResume", L"");
  reg_set(HKEY_LOCAL_MACHINE, kRunOnce, L"QzTestResume", L"nospace");
  EXPECT_FALSE(action.RedirectResumeEntries());
  EXPECT_EQ(reg_string(HKEY_LOCAL_MACHINE, kRunOnce, L"QzTestResume"), L"nospace");
  reg_set(HKEY_LOCAL_MACHINE, kRunOnce, L"QzTestResume", L"msiexec.exe /i {X} AFTERREBOOT=1");
  EXPECT_TRUE(action.RedirectResumeEntries());
  EXPECT_EQ(reg_string(HKEY_LOCAL_MACHINE, kRunOnce, L"QzTestResume"),
            L"\"" + run.session().launcher_path() + L"\" /% /i {X} AFTERREBOOT=1");
  reg_delete(HKEY_LOCAL_MACHINE, kRunOnce, L"QzTestResume");
  reg_delete(HKEY_LOCAL_MACHINE, kEntries, L"QzTestResume");
  reg_delete(HKEY_LOCAL_MACHINE, kEntries, long_name.c_str());
}

// Transforms this installation made go; another program's transform that was
// only read meanwhile stays.
TEST(MsiRestart, OnlyTheSessionsTransformsAreRemoved) {
  wchar_t temp[MAX_PATH] = {};
  ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring older = zpath(temp).join(L"qz-unit-older.mst"), made = zpath(temp).join(L"qz-unit-made.mst");
  std::ofstream(older.c_str()) << "x";
  FILETIME start{};
  GetSystemTimeAsFileTime(&start);
  ULARGE_INTEGER later{};
  later.LowPart = start.dwLowDateTime;
  later.HighPart = start.dwHighDateTime;
  later.QuadPart += 36000000000ull;  // an hour on
  const FILETIME read_later{later.LowPart, later.HighPart};
  {
    qz::file_handle f(CreateFileW(older.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(f);
    ASSERT_TRUE(SetFileTime(f.get(), nullptr, &read_later, nullptr));
  }
  Sleep(50);
  GetSystemTimeAsFileTime(&start);
  Sleep(50);
  std::ofstream(made.c_str()) << "x";
  MsiRun run(L"transforms", startup_ini(L"demo.msi"));
  MsiAction action(run.session());
  action.RemoveSessionTransforms(start);
  EXPECT_TRUE(qz::PathExists(older, qz::kPathFile));
  EXPECT_FALSE(qz::PathExists(made, qz::kPathFile));
  DeleteFileW(older.c_str());
  DeleteFileW(made.c_str());
}

// "*" is a setup without a package; a missing name is a broken one and must not
// end as a success.
TEST(MsiInstall, NoPackageStartsNothing) {
  const struct {
    const wchar_t* ini;
    int exit_code;
  } cases[] = {
      {L"[Startup]\nProduct=Demo\n", 1153},
      {L"[Startup]\nPackageName=*\n", 0},
      {L"[Startup]\nPackageName=*\nClickOncePackage= app.application\n", 0},
  };
  for (const auto& c : cases) {
    MsiRun run(L"nopackage", c.ini);
    EXPECT_FALSE(run_msi_action(run.session())) << c.ini;
    EXPECT_EQ(qzproc::exit_code(), c.exit_code) << c.ini;
  }
}

// A script-driven package with an engine library beside the launcher that cannot
// be loaded is refused with the library's load failure.
TEST(MsiInstall, ScriptEngineThatCannotRunIsNoSuccess) {
  uninstall_quietly();
  MsiRun run(L"engine", startup_ini(L"demo.msi", L"ScriptDriven=1"));
  run.put(L"demo.msi");
  std::ofstream(zpath(run.folder()).join(L"QZSetup.dll").c_str()) << "MZ";
  run.session().set_value(kValueInstallerCommandLine, L"/qn");
  EXPECT_FALSE(run_msi_action(run.session()));
  EXPECT_EQ(qzproc::exit_code(), 1670);
  EXPECT_FALSE(installed());
}

// The engine's progress object: its interface id, the status text for an install
// or a removal, and a cancel at the end.
TEST(MsiInstall, EngineProgressObject) {
  MsiRun run(L"progress", startup_ini(L"demo.msi"));
  HWND status = CreateWindowW(L"STATIC", L"before", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  if (!status) GTEST_SKIP() << "no display for a window";
  run.session().attach_status_window(nullptr, status);
  for (bool remove_only : {false, true}) {
    auto* progress = new CScriptInitProgressHandler(&run.session(), remove_only);
    void* asked = nullptr;
    const IID iid = {0xB47B5571, 0x6E39, 0x46D9, {0x80, 0x4A, 0xC8, 0x97, 0x99, 0x1B, 0x4F, 0x3F}};
    ASSERT_EQ(progress->QueryInterface(iid, &asked), S_OK);
    EXPECT_EQ(asked, static_cast<ISetupInitializationProgress*>(progress));
    ASSERT_EQ(progress->QueryInterface(IID_IUnknown, &asked), S_OK);
    EXPECT_EQ(asked, static_cast<ISetupInitializationProgress*>(progress));
    EXPECT_EQ(progress->QueryInterface(IID_IDispatch, &asked), E_NOINTERFACE);
    EXPECT_EQ(asked, nullptr);
    EXPECT_EQ(progress->begin(), S_OK);
    wchar_t text[128] = {};
    GetWindowTextW(status, text, 128);
    EXPECT_STREQ(text, remove_only ? L"Preparing to Uninstall..." : L"Preparing to Install...");
    EXPECT_EQ(progress->end(), S_OK);
    qzproc::set_cancelled(true);
    EXPECT_EQ(progress->end(), E_ABORT);
    qzproc::set_cancelled(false);
    EXPECT_EQ(progress->Release(), 2u);
    EXPECT_EQ(progress->Release(), 1u);
    EXPECT_EQ(progress->Release(), 0u);
  }
  run.session().attach_status_window(nullptr, nullptr);
  DestroyWindow(status);
}

TEST(MsiInstall, TheActionShowsItsStatusText) {
  MsiRun run(L"status", startup_ini(L"demo.msi"));
  HWND status = CreateWindowW(L"STATIC", L"before", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  if (!status) GTEST_SKIP() << "no display for a window";
  run.session().attach_status_window(nullptr, status);
  { MsiAction action(run.session()); }
  wchar_t text[128] = {};
  GetWindowTextW(status, text, 128);
  EXPECT_STREQ(text, L"Configuring Windows Installer");
  run.session().attach_status_window(nullptr, nullptr);
  DestroyWindow(status);
}

TEST(MsiInstall, CommandLineTooLongForTheSystemIsRefusedNotCut) {
  uninstall_quietly();
  MsiRun run(L"toolong", startup_ini(L"demo.msi"));
  run.put(L"demo.msi");
  run.session().set_value(kValueInstallerCommandLine, L"/qn LONG=" + std::wstring(40000, L'x'));
  EXPECT_TRUE(run_msi_action(run.session()));
  EXPECT_EQ(qzproc::exit_code(), 1157);
  EXPECT_FALSE(installed());
}
