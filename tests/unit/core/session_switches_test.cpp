// The system side of the command line under Wine: registry placeholders, the
// resume entry, the response-file folder checks, the usage text and the driver's
// command-line steps.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdarg>

#include "CommandLineInfo.h"
#include "QzSetup.h"
#include "package/LaunchSettings.h"
#include "packaged_setting.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/process_state.h"

namespace {

const wchar_t kKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion";

void set_hklm(const wchar_t* key, const wchar_t* name, const std::wstring& value) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr), ERROR_SUCCESS);
  RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(k);
}

bool hklm_has(const wchar_t* key, const wchar_t* name) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) return false;
  bool has = RegQueryValueExW(k, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  RegCloseKey(k);
  return has;
}

std::wstring scratch_folder(const wchar_t* name) {
  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  return std::wstring(tmp) + L"qz_cmdline_" + name + L"_" + std::to_wstring(GetCurrentProcessId());
}

bool is_folder(const std::wstring& p) {
  DWORD a = GetFileAttributesW(p.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

struct SessionSwitches : ::testing::Test {
  void SetUp() override { settings.silent = true; }  // no usage message box in tests
  LaunchSettings settings;
  Session session{GetModuleHandleW(nullptr), settings};
};

}  // namespace

TEST_F(SessionSwitches, TemporaryFolderPlaceholderIsReadAndDeleted) {
  CreateDirectoryW(L"C:\\qz temp", nullptr);
  set_hklm(kKey, L"%QZ_E%", L"\"C:\\qz temp\"");
  ASSERT_TRUE(session.process_switch(L"e%QZ_E%"));
  EXPECT_EQ(session.temp_folder_override(), L"C:\\qz temp");
  EXPECT_EQ(qzproc::temp_folder(), L"C:\\qz temp");
  EXPECT_EQ(settings.setup_ini_path, L"C:\\qz temp\\Setup.INI");
  EXPECT_FALSE(hklm_has(kKey, L"%QZ_E%"));
  // The run holds the folder it works in.
  EXPECT_FALSE(MoveFileW(L"C:\\qz temp", L"C:\\qz moved"));
  qzproc::release_folder(L"C:\\qz temp");
  RemoveDirectoryW(L"C:\\qz temp");
  // A folder that is not there, or a file, is never worked in.
  EXPECT_FALSE(session.process_switch(L"eC:\\qz temp"));
  HANDLE file = CreateFileW(L"C:\\qz file", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  CloseHandle(file);
  EXPECT_FALSE(session.process_switch(L"eC:\\qz file"));
  DeleteFileW(L"C:\\qz file");
  qzproc::set_temp_folder(L"");
}

TEST_F(SessionSwitches, SourcePlaceholderIsUnquotedAndDeleted) {
  set_hklm(kKey, L"%QZ_T%", L"\"\\\\srv\\share\\pkg\"");
  ASSERT_TRUE(session.process_switch(L"T%QZ_T%"));
  EXPECT_EQ(session.source_folder(), L"\\\\srv\\share\\pkg");
  EXPECT_EQ(session.extraction_mode(), kExtractNone);
  EXPECT_FALSE(hklm_has(kKey, L"%QZ_T%"));
  // A missing value reads as empty text.
  ASSERT_TRUE(session.process_switch(L"t%QZ_T%"));
  EXPECT_EQ(session.source_folder(), L"");
}

TEST_F(SessionSwitches, PropertyPlaceholderAndResumeEntry) {
  const wchar_t kRun[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  set_hklm(kRun, L"QZSetup", L"C:\\x\\setup.exe /reboot");
  set_hklm(kKey, L"%QZ_V%", L"REBOOT=R PROP=\"a b\"");
  ASSERT_TRUE(session.process_switch(L"v%QZ_V%"));
  EXPECT_EQ(session.get_value(kValueInstallerCommandLine), L"REBOOT=R PROP=\"a b\"");
  EXPECT_EQ(session.relaunch_command_line(), L" /v\"REBOOT=R PROP=\\\"a b\\\"\"");
  EXPECT_FALSE(hklm_has(kKey, L"%QZ_V%"));
  EXPECT_FALSE(hklm_has(kRun, L"QZSetup"));
}

TEST_F(SessionSwitches, LongPlaceholderIsReadWholeAndDeleted) {
  // The run before a restart saves the property list without a length limit.
  const std::wstring saved = L"/qn " + std::wstring(2000, L'p');
  set_hklm(kKey, L"%QZ_V%", saved);
  ASSERT_TRUE(session.process_switch(L"v%QZ_V%"));
  EXPECT_EQ(session.get_value(kValueInstallerCommandLine), saved);
  EXPECT_FALSE(hklm_has(kKey, L"%QZ_V%"));
}

TEST_F(SessionSwitches, ResponseFileInCreatableFolder) {
  std::wstring base = scratch_folder(L"f1");
  std::wstring folder = base + L"\\a\\b";
  ASSERT_TRUE(session.process_switch(L"f1" + folder + L"\\answers.iss"));
  EXPECT_TRUE(is_folder(folder));
  EXPECT_TRUE(session.response_file_given());
  EXPECT_TRUE(session.response_folder_writable());
  EXPECT_EQ(GetFileAttributesW((folder + L"\\_MSI5166._QZ").c_str()), INVALID_FILE_ATTRIBUTES);  // probe removed
  RemoveDirectoryW(folder.c_str());
  RemoveDirectoryW((base + L"\\a").c_str());
  RemoveDirectoryW(base.c_str());
}

TEST_F(SessionSwitches, ResponseFileInFolderThatCannotBeCreated) {
  // A folder below a plain file can never be created.
  std::wstring file = scratch_folder(L"plain") + L".txt";
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_FALSE(session.process_switch(L"f1" + file + L"\\sub\\answers.iss"));
  EXPECT_FALSE(session.response_file_given());
  DeleteFileW(file.c_str());
}

TEST(UsageMessage, JoinsTheNineTexts) {
  LaunchSettings settings;
  EXPECT_EQ(usage_message_text(settings),
            L"Command line parameters:\r\n/a Perform an administrative installation\r\n/L language ID\r\n"
            L"/S Hide intialization dialog.  For silent mode use: /S /v/qn\r\n/V parameters to MsiExec.exe\r\n"
            L"/UA<url to InstMsiA.exe>\r\n/UW<url to InstMsiW.exe>\r\n/UM<url to msi package>\r\n"
            L"/US<url to QzScript.msi>");
}

TEST(CommandLineWalk, BareArgumentStopsTheWalk) {
  LaunchSettings settings;
  settings.silent = true;
  Session session(GetModuleHandleW(nullptr), settings);
  CommandLineInfo args = CommandLineInfo::from_text(L"setup.exe /v\"A=1 B=2\" -s readme.txt /x");
  ASSERT_EQ(args.count(), 5);
  std::vector<std::wstring> seen;
  auto handler = [&](Session& s, const std::wstring& text) {
    seen.push_back(text);
    return s.process_switch(text);
  };
  EXPECT_FALSE(args.for_each_switch(handler, session));
  EXPECT_EQ(seen, (std::vector<std::wstring>{L"vA=1 B=2", L"s"}));
  EXPECT_EQ(session.launch_mode(), kModeInstall);  // /x never reached
  CommandLineInfo none = CommandLineInfo::from_text(L"setup.exe");
  EXPECT_TRUE(none.for_each_switch(handler, session));
}

TEST(SetupDriver, SilentRunGetsDefaultResponseFile) {
  LaunchSettings settings;
  const wchar_t* argv[] = {L"C:\\media\\setup.exe", L"/s", L"/v/qn", L"-removeasmajorupgrade{A};1;2"};
  QzSetup setup;
  ASSERT_TRUE(setup.init(GetModuleHandleW(nullptr), 4, const_cast<wchar_t**>(argv), L"C:\\t\\{G}\\setup.exe", L"",
                         settings));
  EXPECT_TRUE(setup.session()->remove_as_major_upgrade());
  EXPECT_EQ(setup.session()->launcher_folder(), L"C:\\t\\{G}");
  EXPECT_EQ(settings.media_folder, L"C:\\t\\{G}");
  EXPECT_EQ(setup.session()->relaunch_command_line(), L" /s /v\"/qn\" /f1\"C:\\t\\{G}\\Setup.qzs\"");
  EXPECT_EQ(setup.run(), 1);
}

TEST(SetupDriver, InvalidCommandLineSetsExitCode1203) {
  LaunchSettings settings;
  settings.silent = true;
  const wchar_t* argv[] = {L"setup.exe", L"/x", L"/a"};
  QzSetup setup;
  qzproc::set_exit_code(0);
  EXPECT_FALSE(setup.init(GetModuleHandleW(nullptr), 3, const_cast<wchar_t**>(argv), L"", L"", settings));
  EXPECT_EQ(qzproc::exit_code(), 1203);
  // Without a clone path the launcher's own file name is used.
  EXPECT_FALSE(setup.session()->launcher_path().empty());
  HANDLE mutex = INVALID_HANDLE_VALUE;
  EXPECT_FALSE(check_single_instance(&mutex));
  EXPECT_EQ(mutex, nullptr);
}
