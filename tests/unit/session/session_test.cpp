// Session against real setup images: the test's own program image cut at its PE
// image end with a setup stream appended.
#include "session.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "../support/scratch.h"
#include "../support/stream_image.h"
#include "package/LaunchSettings.h"
#include "packaged_setting.h"
#include "support/debuglog.h"
#include "support/process_state.h"
#include "support/utils.h"

namespace {

using test_image::Members;
using test_image::own_image;
using test_image::stream_bytes;

const char kSetupIni[] =
    "[Startup]\r\nPackageName=app.msi\r\nWaitInstallation=Y\r\nSplashTime=0x10\r\nProductCode={P}\r\n"
    "[KEY]\r\nPassword=hunter2secret\r\n[Languages]\r\nSupported=1031,1033\r\n";

// A fake progress dialog.
class FakeDialog : public SessionDialog {
 public:
  HWND window() const override { return nullptr; }
  bool set_progress(int percent) override {
    last = percent;
    return cancel;
  }
  bool cancelled() const override { return cancel; }
  int last = -1;
  bool cancel = false;
};

class SessionTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    temp_ = path(L"temp");
    CreateDirectoryW(temp_.c_str(), nullptr);
    qzproc::set_temp_folder(temp_);
    qzproc::set_exit_code(0);
    settings_.silent = true;  // no message box in tests
  }
  void TearDown() override {
    session_.reset();
    qzproc::set_temp_folder(L"");
    ScratchTest::TearDown();
  }
  // Writes the image with the members and opens a session on it.
  Session& open(const Members& members, const std::wstring& name = L"setup.exe") {
    image_ = path(name);
    write_file(image_, own_image() + stream_bytes(members));
    session_ = std::make_unique<Session>(GetModuleHandleW(nullptr), settings_, image_);
    session_->set_package_mode(kPackageFromStream);
    return *session_;
  }
  static Members standard() {
    return {{L"Setup.INI", kSetupIni}, {L"0x0407.ini", "[0x0407]\r\n1664=Entpacken\r\n"},
            {L"0x0409.ini", "[0x0409]\r\n"}, {L"app.msi", std::string(5000, 'm')}};
  }

  LaunchSettings settings_;
  std::unique_ptr<Session> session_;
  std::wstring temp_, image_;
};

TEST_F(SessionTest, ExtractMemberWritesTheMemberIntoTheTemporaryFolder) {
  Session& s = open(standard());
  ASSERT_TRUE(s.stream().is_valid());
  EXPECT_TRUE(s.stream_contains(L"setup.ini"));
  EXPECT_TRUE(s.extract_member(L"app.msi", true, false, nullptr, true));
  EXPECT_EQ(read_file(temp_ + L"\\app.msi"), std::string(5000, 'm'));
  // Recorded for deletion at the end of the run.
  EXPECT_NE(read_file(temp_ + L"\\_QZMSIDEL.INI").find("a\0p\0p\0.\0m\0s\0i", 0), std::string::npos);
  std::wstring target = path(L"elsewhere.bin");
  EXPECT_TRUE(s.extract_member(L"app.msi", true, false, &target, false));
  EXPECT_TRUE(exists(target));
  EXPECT_EQ(qzproc::exit_code(), 0);
}

TEST_F(SessionTest, FailedExtractionReportsOnlyWhenAsked) {
  Session& s = open(standard());
  EXPECT_FALSE(s.extract_member(L"missing.cab", false, false, nullptr, true));
  EXPECT_EQ(qzproc::exit_code(), 0);
  EXPECT_FALSE(s.extract_member(L"missing.cab", true, false, nullptr, true));
  EXPECT_EQ(qzproc::exit_code(), 1152);
  // A member name that would leave the folder is refused.
  qzproc::set_exit_code(0);
  std::wstring bad = path(L"nofolder\\x\\y.bin");
  EXPECT_FALSE(s.extract_member(L"app.msi", true, false, &bad, false));
  EXPECT_EQ(qzproc::exit_code(), 1152);
  // Without a temporary folder an empty target is refused, not taken as the bare
  // name in the current folder.
  qzproc::set_exit_code(0);
  qzproc::set_temp_folder(L"");
  const std::wstring none;
  EXPECT_FALSE(s.extract_member(L"app.msi", true, true, &none, false));
  EXPECT_EQ(qzproc::exit_code(), 1152);
  EXPECT_FALSE(exists(L"app.msi"));
}

TEST_F(SessionTest, CancelledExtractionFailsWithoutAnError) {
  Session& s = open(standard());
  auto dialog = std::make_unique<FakeDialog>();
  dialog->cancel = true;
  s.set_setup_dialog(std::move(dialog));
  EXPECT_FALSE(s.extract_member(L"app.msi", true, false, nullptr, false));
  EXPECT_EQ(qzproc::exit_code(), 0);
}

TEST_F(SessionTest, NothingIsWrittenUnlessThePackageComesFromTheStream) {
  Session& s = open(standard());
  s.set_package_mode(kPackageBesideLauncher);
  EXPECT_TRUE(s.extract_member(L"app.msi", true, false, nullptr, true));
  EXPECT_FALSE(exists(temp_ + L"\\app.msi"));
  EXPECT_TRUE(s.extract_member(L"app.msi", true, true, nullptr, false));  // forced
  EXPECT_TRUE(exists(temp_ + L"\\app.msi"));
  s.set_package_mode(kPackageFromStream);
  s.set_extraction_mode(kExtractInstallerOnly);
  EXPECT_TRUE(s.extract_member(L"0x0409.ini", true, true, nullptr, false));
  EXPECT_FALSE(exists(temp_ + L"\\0x0409.ini"));
}

TEST_F(SessionTest, SetupIniIsRetriedWhileLocked) {
  Session& s = open(standard());
  std::wstring ini = temp_ + L"\\Setup.INI";
  HANDLE lock = CreateFileW(ini.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  std::thread release([lock] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    CloseHandle(lock);
  });
  auto start = std::chrono::steady_clock::now();
  bool ok = s.extract_setup_ini();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  release.join();
  EXPECT_TRUE(ok);
  EXPECT_GE(ms, 1000);
  EXPECT_EQ(qzproc::exit_code(), 0);
  EXPECT_EQ(read_file(ini), kSetupIni);
  EXPECT_EQ(settings_.setup_ini_path, ini);
  EXPECT_EQ(s.source_folder(), temp_);
}

TEST_F(SessionTest, SetupIniLockedForGoodFailsWith1152) {
  Session& s = open(standard());
  std::wstring ini = temp_ + L"\\Setup.INI";
  HANDLE lock = CreateFileW(ini.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(s.extract_setup_ini());
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  CloseHandle(lock);
  EXPECT_GE(ms, 2400);  // five pauses of 500 ms
  EXPECT_EQ(qzproc::exit_code(), 1152);
}

TEST_F(SessionTest, StringFilesOfEverySupportedLanguage) {
  Session& s = open(standard());
  settings_.supported_languages = {0x0407, 0x0409};
  EXPECT_TRUE(s.extract_string_files());
  EXPECT_TRUE(exists(temp_ + L"\\0x0407.ini"));
  EXPECT_TRUE(exists(temp_ + L"\\0x0409.ini"));
  settings_.supported_languages = {0x0407, 0x040c};
  EXPECT_FALSE(s.extract_string_files());
  EXPECT_EQ(qzproc::exit_code(), 1152);
  settings_.supported_languages.clear();
  EXPECT_TRUE(s.extract_string_files());
}

TEST_F(SessionTest, ExtractAllMembers) {
  Session& s = open(standard());
  EXPECT_TRUE(s.extract_all_members());
  for (const auto& [name, data] : standard()) EXPECT_EQ(read_file(temp_ + L"\\" + name), data);
  Session& empty = open({}, L"empty.exe");
  EXPECT_FALSE(empty.extract_all_members());
  EXPECT_EQ(qzproc::exit_code(), 1152);
}

TEST_F(SessionTest, ProgressPercentGoesToTheShowingDialog) {
  Session& s = open(standard());
  auto owned = std::make_unique<FakeDialog>();
  FakeDialog* setup = owned.get();
  s.set_setup_dialog(std::move(owned));
  struct {
    uint32_t done, total;
    int percent;
  } rows[] = {{0, 1000, 0}, {500, 1000, 50}, {1000, 1000, 100}, {50, 99, 0}, {199, 200, 99}, {4000000000u, 4000000000u, 100}};
  for (auto r : rows) {
    EXPECT_FALSE(s.progress(r.done, r.total));
    EXPECT_EQ(setup->last, r.percent) << r.done << "/" << r.total;
  }
  FakeDialog prerequisite;
  prerequisite.cancel = true;
  s.set_prerequisite_dialog(&prerequisite);
  EXPECT_TRUE(s.progress(10, 100));
  EXPECT_EQ(prerequisite.last, 10);
  s.set_prerequisite_dialog(nullptr);
  EXPECT_FALSE(s.progress(20, 100));
  EXPECT_EQ(setup->last, 20);
}

TEST_F(SessionTest, SettingsReadOnDemand) {
  Session& s = open(standard());
  ASSERT_TRUE(s.extract_setup_ini());
  EXPECT_FALSE(s.profile_loaded());
  EXPECT_EQ(s.package_name(), L"app.msi");  // loads setup.ini first
  EXPECT_TRUE(s.profile_loaded());
  EXPECT_FALSE(s.package_name_starred());
  EXPECT_EQ(s.get_setting_int(L"Startup", L"SplashTime", 5, 10), 0);
  EXPECT_EQ(s.get_setting_int(L"Startup", L"Missing", 5, 10), 5);
  EXPECT_EQ(s.ui(), 1001);
  EXPECT_EQ(s.billboard_type(), L"0");
  EXPECT_EQ(s.get_setting(L"NoSection", L"Key", L"dflt"), L"dflt");
  EXPECT_EQ(s.get_setting(L"Startup", L"Missing", L"dflt"), L"");
  EXPECT_TRUE(s.read_launch_settings(settings_.setup_ini_path));
  EXPECT_EQ(settings_.splash_time, 16);
  EXPECT_EQ(settings_.supported_languages, (std::vector<uint16_t>{1031, 1033}));
}

TEST_F(SessionTest, MissingSetupIniReadsEmpty) {
  Session& s = open(standard());
  settings_.setup_ini_path = path(L"nothing\\Setup.INI");
  EXPECT_EQ(s.get_setting(L"Startup", L"PackageName", L"x"), L"");
  EXPECT_FALSE(s.read_launch_settings(settings_.setup_ini_path));
}

TEST_F(SessionTest, HugeValuesAreCutAndARequiredValueMayBeMissing) {
  std::string ini = "[Startup]\r\nPackageName=" + std::string(5000, 'p') + "\r\n";
  Session& s = open({{L"Setup.INI", ini}});
  ASSERT_TRUE(s.extract_setup_ini());
  EXPECT_EQ(s.package_name(), std::wstring(1023, L'p'));
  EXPECT_TRUE(s.load_package_name());
  EXPECT_EQ(s.get_value(kValuePackageName).size(), 1023u);
  Session& t = open({{L"Setup.INI", "\xff\xfe\x01junk[[[=\r\n\x00\x00"}}, L"junk.exe");
  ASSERT_TRUE(t.extract_setup_ini());
  EXPECT_FALSE(t.load_package_name());
  EXPECT_FALSE(t.has_value(kValuePackageName));
  EXPECT_TRUE(t.read_launch_settings(settings_.setup_ini_path));
}

TEST_F(SessionTest, DumpSettingsNeverWritesAPassword) {
  Session& s = open(standard());
  ASSERT_TRUE(s.extract_setup_ini());
  ASSERT_TRUE(s.load_profile(settings_.setup_ini_path));
  std::wstring log = path(L"debug.log");
  dbglog::reset_for_tests();
  dbglog::set_log_path(log);
  dbglog::enable();
  s.dump_settings();
  dbglog::reset_for_tests();
  std::string raw = read_file(log);
  std::wstring text(reinterpret_cast<const wchar_t*>(raw.data()), raw.size() / 2);
  EXPECT_NE(text.find(L"Dumping setup.ini..."), std::wstring::npos);
  EXPECT_NE(text.find(L"Section: KEY"), std::wstring::npos);
  EXPECT_NE(text.find(L"PackageName=app.msi"), std::wstring::npos);
  EXPECT_EQ(text.find(L"hunter2secret"), std::wstring::npos);
  EXPECT_EQ(text.find(L"Password="), std::wstring::npos);
}

TEST_F(SessionTest, PackagedSettingComesFromTheStreamBeforeExtraction) {
  open({{L"Setup.INI", kSetupIni}, {L"Setting.INI", "[Startup]\r\nValidateSetupAndMSISignatures=Y\r\n"}});
  EXPECT_EQ(read_packaged_setting_from(image_, L"Startup", L"WaitInstallation", 260), L"Y");
  EXPECT_EQ(read_packaged_setting_from(image_, L"Startup", L"ProductCode", 2), L"{P");  // cut to the capacity
  EXPECT_EQ(read_packaged_setting_ini_from(image_, L"Startup", L"ValidateSetupAndMSISignatures", 260), L"Y");
  EXPECT_FALSE(exists(temp_ + L"\\Setup.INI"));  // nothing extracted into the run's folder
  // The member is read once per launcher file; a rewritten file answers anew.
  session_.reset();  // it holds the image open
  open({{L"Setup.INI", "[Startup]\r\nWaitInstallation=N\r\n"}});
  EXPECT_EQ(read_packaged_setting_from(image_, L"Startup", L"WaitInstallation", 260), L"N");
  // No member: the setup.ini beside the launcher; no Setting.INI: empty.
  open({{L"other.txt", "x"}}, L"plain.exe");
  write_file(path(L"setup.ini"), "[Startup]\r\nWaitInstallation=n\r\n");
  EXPECT_EQ(read_packaged_setting_from(image_, L"Startup", L"WaitInstallation", 260), L"n");
  EXPECT_EQ(read_packaged_setting_ini_from(image_, L"Startup", L"ValidateSetupAndMSISignatures", 260), L"");
}

TEST_F(SessionTest, RestartQuestionAndScheduling) {
  Session& s = open(standard());
  EXPECT_EQ(s.ask_reboot(), 1);
  s.set_restart_due(true);
  EXPECT_EQ(s.ask_reboot(), 5);
  s.set_reboot_needed(true);
  EXPECT_EQ(s.ask_reboot(), IDYES);  // silent launches answer Yes
  EXPECT_FALSE(s.reboot_needed());
  s.set_value(kValueInstallerCommandLine, L"/qn");
  s.schedule_reboot(true);
  s.schedule_reboot(true);
  EXPECT_EQ(s.get_value(kValueInstallerCommandLine), L"/qn QZSCHEDULEREBOOT=1");
  EXPECT_NE(s.relaunch_command_line().find(L"/v\"QZSCHEDULEREBOOT=1\""), std::wstring::npos);
  EXPECT_TRUE(s.reboot_scheduled());
}

TEST_F(SessionTest, ValueTableAndResumeIndex) {
  Session& s = open(standard());
  EXPECT_EQ(s.get_resume_index(), -1);
  s.set_resume_index(3);
  EXPECT_EQ(s.get_resume_index(), 3);
  s.set_value(kValuePackageName, L"a.msi");
  EXPECT_TRUE(s.has_value(kValuePackageName));
  s.set_value(kValuePackageName, L"");
  EXPECT_FALSE(s.has_value(kValuePackageName));
  s.set_value(kValuePackageName, L"", true);
  EXPECT_TRUE(s.has_value(kValuePackageName));
#ifdef QZ_PREREQUISITES
  CSetupPrereqMgrCallback& cb = s;
  cb.set_value(kValueUpgradeCode, L"{U}", false);
  EXPECT_EQ(cb.get_value(kValueUpgradeCode), L"{U}");
  EXPECT_EQ(cb.get_launch_mode(), 0);
  EXPECT_EQ(cb.reserved(), 0);
  EXPECT_EQ(&cb.get_launch_settings(), &settings_);
#endif
}

}  // namespace
