// Package location and caching against the real file system, msi.dll and
// msiexec, with the packages that wixl builds at test time.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "launch.h"
#include "msi_checks.h"
#include "msi_library.h"
#include "package/LaunchSettings.h"
#include "package_cache.h"
#include "session.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"

namespace {

const wchar_t kProduct[] = L"{6E1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}";

std::wstring full(const std::wstring& relative) {
  wchar_t buffer[1024];
  DWORD n = GetFullPathNameW(relative.c_str(), 1024, buffer, nullptr);
  return std::wstring(buffer, n);
}

std::wstring demo(const wchar_t* name) { return full(std::wstring(L"testdata\\msi\\") + name); }

std::wstring code_of(const std::wstring& package) {
  std::wstring code;
  ReadPackageCode(package, &code);
  return code;
}

bool exists(const std::wstring& path) { return qz::PathExists(path, qz::kPathFile); }

void put_file(const std::wstring& path, const char* text) {
  qz::CreateParentFolder(path);
  std::ofstream(path.c_str(), std::ios::binary) << text;
}

// A session as the launch leaves it before the package is located: settings from
// a setup.ini in a scratch folder (also the launcher's folder) and a temporary
// folder below it.
class CacheRun {
 public:
  CacheRun(const std::wstring& name, const std::wstring& package_section) {
    folder_ = full(L"scratch\\unit_msi_cache\\" + name);
    qz::RemoveFolderTree(folder_);
    temp_ = zpath(folder_).join(L"temp");
    qz::CreateFolderTree(temp_);
    ini_ = zpath(folder_).join(L"setup.ini");
    std::wofstream(ini_.c_str()) << L"[Startup]\nPackageName=demo.msi\n[demo.msi]\n" << package_section << L"\n";
    set_msi_settings_file_for_tests(ini_);
    settings_.silent = true;
    settings_.setup_ini_path = ini_;
    qzproc::set_settings(&settings_);
    qzproc::set_temp_folder(temp_);
    qzproc::set_exit_code(0);
    session_ = std::make_unique<Session>(GetModuleHandleW(nullptr), settings_);
    session_->set_launcher_path(zpath(folder_).join(L"setup.exe"));
    session_->set_value(kValuePackageName, L"demo.msi");
    session_->set_value(kValueProductCode, kProduct);
  }
  ~CacheRun() {
    set_msi_settings_file_for_tests(L"");
    qzproc::set_settings(nullptr);
  }
  Session& session() { return *session_; }
  LaunchSettings& settings() { return settings_; }
  std::wstring at(const std::wstring& relative) const { return zpath(folder_).join(relative); }
  const std::wstring& temp() const { return temp_; }

 private:
  std::wstring folder_, temp_, ini_;
  LaunchSettings settings_;
  std::unique_ptr<Session> session_;
};

}  // namespace

TEST(PackageLocation, GetFileByLocationType) {
  struct Case {
    const wchar_t* section;
    bool present_in_temp;
    bool ok;
    int exit_code;
    const wchar_t* expected;  // relative to the run's folder; null: unchanged
  };
  const Case cases[] = {
      // The source folder is not checked: msiexec reports a missing package itself.
      {L"Type=0\nLocation=sub\\app.msi", false, true, 0, L"sub\\app.msi"},
      {L"", false, true, 0, L"demo.msi"},  // defaults: type 0, the package name
      {L"Type=4\nLocation=app.msi", true, true, 0, L"temp\\app.msi"},
      {L"Type=4\nLocation=app.msi", false, false, 1155, L"temp\\app.msi"},
      // The test program carries no stream: the member cannot be extracted.
      {L"Type=1\nLocation=app.msi", false, false, 1155, L"temp\\app.msi"},
      {L"Type=1\nLocation=app.msi", true, true, 0, L"temp\\app.msi"},  // already extracted
      // An address without a file name is refused before anything is fetched.
      {L"Type=2\nLocation=http://localhost/", false, false, 1614, nullptr},
      {L"Type=9\nLocation=app.msi", false, true, 0, nullptr},
  };
  for (const Case& c : cases) {
    CacheRun run(L"getfile", c.section);
    if (c.present_in_temp) put_file(run.at(L"temp\\app.msi"), "x");
    std::wstring path = L"unchanged";
    int type = -1;
    EXPECT_EQ(GetFile(run.session(), L"demo.msi", L"", &path, false, &type, true, false), c.ok) << c.section;
    EXPECT_EQ(qzproc::exit_code(), c.exit_code) << c.section;
    EXPECT_EQ(path, c.expected ? run.at(c.expected) : L"unchanged") << c.section;
  }
  {
    // A web installation hands the address on as the package path.
    CacheRun run(L"webinstall", L"Type=3\nLocation=http://localhost/app.msi");
    std::wstring path;
    int type = -1;
    EXPECT_TRUE(GetFile(run.session(), L"demo.msi", L"", &path, false, &type, true, false));
    EXPECT_EQ(path, L"http://localhost/app.msi");
  }
  {
    // A run after a restart (/e) takes the package's section from the temporary
    // folder's Setup.INI, which the run before pointed at the temporary folder.
    CacheRun run(L"resumed", L"Type=1\nLocation=app.msi");
    ASSERT_TRUE(run.session().process_switch(L"e" + run.temp()));
    std::wofstream(run.at(L"temp\\Setup.INI").c_str()) << L"[demo.msi]\nType=4\nLocation=app.msi\n";
    put_file(run.at(L"temp\\app.msi"), "x");
    std::wstring path;
    int type = -1;
    EXPECT_TRUE(GetFile(run.session(), L"demo.msi", L"", &path, false, &type, true, true));
    EXPECT_EQ(type, kLocationTemp);
    EXPECT_EQ(path, run.at(L"temp\\app.msi"));
    // The file is read once, into the session's profile, and answers from there.
    ASSERT_TRUE(DeleteFileW(run.at(L"temp\\Setup.INI").c_str()));
    EXPECT_EQ(msi_package_setting_int(run.session(), L"demo.msi", L"Type", 0), kLocationTemp);
    EXPECT_EQ(msi_package_setting(run.session(), L"demo.msi", L"Location", 3), L"app");
  }
  {
    // A location given with /UM keeps the caller's type and replaces Location.
    CacheRun run(L"override", L"Type=4\nLocation=app.msi");
    std::wstring path;
    int type = kLocationSource;
    EXPECT_TRUE(GetFile(run.session(), L"demo.msi", L"other.msi", &path, true, &type, true, true));
    EXPECT_EQ(path, run.at(L"other.msi"));
  }
}

TEST(PackageLocation, LocateClearsRestartStateAndReportsFailure) {
  CacheRun run(L"locate", L"Type=4\nLocation=gone.msi");
  run.session().set_reboot_needed(true);
  run.session().set_restart_due(true);
  std::wstring path;
  int type = 0;
  EXPECT_FALSE(LocatePackage(run.session(), &path, &type, false));
  EXPECT_EQ(qzproc::exit_code(), 1155);
  EXPECT_FALSE(run.session().reboot_needed());
  EXPECT_FALSE(run.session().restart_due());

  put_file(run.at(L"temp\\gone.msi"), "x");
  EXPECT_TRUE(run.session().locate_package(path));  // the session's form: no installed lookup
  EXPECT_EQ(path, run.at(L"temp\\gone.msi"));
}

TEST(PackageCache, NothingCachedWithoutRootOrSwitch) {
  CacheRun run(L"nocache", L"Type=0\nCacheFolder=ignored");
  std::wstring path = run.at(L"demo.msi");
  CopyFileW(demo(L"demo.msi").c_str(), path.c_str(), FALSE);
  EXPECT_TRUE(CachePackage(run.session(), L"demo.msi", &path));
  EXPECT_EQ(path, run.at(L"demo.msi"));
  EXPECT_FALSE(qz::PathExists(run.at(L"ignored"), qz::kPathAny));
}

// /b alone caches, creating the folders; a second run of the same package
// overwrites without asking, another package is replaced on the silent Yes.
TEST(PackageCache, SwitchFolderCachesAndOverwrites) {
  CacheRun run(L"switch", L"Type=1");
  std::wstring fetched = run.at(L"temp\\demo.msi");
  CopyFileW(demo(L"demo.msi").c_str(), fetched.c_str(), FALSE);
  const std::wstring cache = run.at(L"keep\\a b\\100%");
  run.session().set_value(kValueCacheFolder, cache);
  const std::wstring target = zpath(cache).join(L"demo.msi");

  std::wstring path = fetched;
  ASSERT_TRUE(CachePackage(run.session(), L"demo.msi", &path));
  EXPECT_EQ(path, target);
  EXPECT_EQ(code_of(target), code_of(demo(L"demo.msi")));

  // The same package code: overwritten.
  path = fetched;
  ASSERT_TRUE(CachePackage(run.session(), L"demo.msi", &path));
  EXPECT_EQ(path, target);

  // Another package under the name: the replace question's silent answer is Yes.
  CopyFileW(demo(L"demo2.msi").c_str(), target.c_str(), FALSE);
  path = fetched;
  ASSERT_TRUE(CachePackage(run.session(), L"demo.msi", &path));
  EXPECT_EQ(code_of(target), code_of(demo(L"demo.msi")));

  // Caching the cached copy copies nothing.
  path = target;
  EXPECT_TRUE(CachePackage(run.session(), L"demo.msi", &path));
  EXPECT_EQ(path, target);
}

// The cached copy is named by the package name's last part: a name with folders
// never puts it outside the cache folder, and one without a file name is refused.
TEST(PackageCache, CopyStaysInTheCacheFolder) {
  CacheRun run(L"leaf", L"Type=1");
  std::wstring fetched = run.at(L"temp\\demo.msi");
  CopyFileW(demo(L"demo.msi").c_str(), fetched.c_str(), FALSE);
  run.session().set_value(kValueCacheFolder, run.at(L"cache\\inner"));
  std::wstring path = fetched;
  ASSERT_TRUE(CachePackage(run.session(), L"..\\..\\demo.msi", &path));
  EXPECT_EQ(path, run.at(L"cache\\inner\\demo.msi"));
  EXPECT_FALSE(exists(run.at(L"demo.msi")));

  path = fetched;
  EXPECT_FALSE(CachePackage(run.session(), L"..", &path));
  EXPECT_EQ(qzproc::exit_code(), 1627);
  EXPECT_EQ(path, fetched);
}

TEST(PackageCache, FolderFromTheSettings) {
  {
    CacheRun run(L"whole", L"Type=1\nCacheRoot=-1\nCacheFolder=" + full(L"scratch\\unit_msi_cache\\whole\\c\\d"));
    std::wstring path = run.at(L"temp\\demo.msi");
    CopyFileW(demo(L"demo.msi").c_str(), path.c_str(), FALSE);
    ASSERT_TRUE(CachePackage(run.session(), L"demo.msi", &path));
    EXPECT_EQ(path, run.at(L"c\\d\\demo.msi"));
    EXPECT_TRUE(exists(path));
  }
  {
    // Below the shell's common application-data folder, then the package code.
    wchar_t root[MAX_PATH];
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, root)));
    const std::wstring vendor = zpath(root).join(L"QzCacheTest");
    qz::RemoveFolderTree(vendor);
    CacheRun run(L"shell", L"Type=1\nCacheRoot=35\nCacheFolder=QzCacheTest\\App");
    std::wstring path = run.at(L"temp\\demo.msi");
    CopyFileW(demo(L"demo.msi").c_str(), path.c_str(), FALSE);
    ASSERT_TRUE(CachePackage(run.session(), L"demo.msi", &path));
    EXPECT_EQ(path, zpath(vendor).join(L"App").join(code_of(demo(L"demo.msi"))).join(L"demo.msi"));
    EXPECT_TRUE(exists(path));
    qz::RemoveFolderTree(vendor);
  }
}

TEST(PackageCache, FailedCopyWithoutUserInterfaceIs1610) {
  CacheRun run(L"fail", L"Type=1");
  std::wstring path = run.at(L"temp\\demo.msi");
  CopyFileW(demo(L"demo.msi").c_str(), path.c_str(), FALSE);
  put_file(run.at(L"blocked"), "a file where the cache folder should be");
  run.session().set_value(kValueCacheFolder, run.at(L"blocked"));
  EXPECT_FALSE(CachePackage(run.session(), L"demo.msi", &path));
  EXPECT_EQ(qzproc::exit_code(), 1610);
  EXPECT_EQ(path, run.at(L"temp\\demo.msi"));
}

// The transform, the string file, the skin, the settings and the cabinets go
// into the cache folder with the package.
TEST(PackageCache, CompanionsFollowThePackage) {
  CacheRun run(L"companions",
               L"Type=1\nCab0=http://example.com/media/data1.cab\nCab1=disk\\data2.cab\nCab2=http://example.com/media/"
               L"\nCab3=..\nCab4=missing.cab\n\nCab6=after-the-end.cab");
  WritePrivateProfileStringW(L"Startup", L"ScriptDriven", L"1", run.at(L"setup.ini").c_str());
  run.settings().supported_languages = {0x409, 0x407};
  run.settings().ui_language = 0x407;
  std::wstring fetched = run.at(L"temp\\demo.msi");
  CopyFileW(demo(L"demo.msi").c_str(), fetched.c_str(), FALSE);
  for (const wchar_t* f : {L"temp\\data1.cab", L"temp\\data2.cab", L"temp\\after-the-end.cab", L"temp\\setup.qzn",
                           L"temp\\1031.mst", L"0x0407.ini"})
    put_file(run.at(f), "x");
  run.session().set_value(kValueLanguageTransform, run.at(L"temp\\1031.mst"));
  run.session().set_value(kValueCacheFolder, run.at(L"cache"));

  std::wstring path = fetched;
  ASSERT_TRUE(CachePackage(run.session(), L"demo.msi", &path));
  EXPECT_EQ(run.session().get_value(kValueLanguageTransform), run.at(L"cache\\1031.mst"));
  for (const wchar_t* f : {L"cache\\1031.mst", L"cache\\0x0407.ini", L"cache\\setup.qzn", L"cache\\Setup.INI",
                           L"cache\\data1.cab", L"cache\\data2.cab"})
    EXPECT_TRUE(exists(run.at(f))) << f;
  EXPECT_FALSE(exists(run.at(L"temp\\data1.cab")));  // moved, not copied
  EXPECT_FALSE(exists(run.at(L"cache\\after-the-end.cab")));  // the list ends at the first empty entry
  // Entries naming no file of their own leave the temporary folder where it is.
  EXPECT_TRUE(qz::PathExists(run.temp(), qz::kPathFolder));
  EXPECT_TRUE(exists(run.at(L"temp\\demo.msi")));
}

TEST(PackageLocation, InstalledProductsOwnSource) {
  launch_and_wait(std::wstring(L"\"MSIEXEC.EXE\" /x ") + kProduct + L" /qn", false);
  CacheRun run(L"installed", L"Type=4\nLocation=demo.msi");
  const std::wstring first = run.at(L"first\\demo.msi");
  qz::CreateParentFolder(first);
  CopyFileW(demo(L"demo.msi").c_str(), first.c_str(), FALSE);
  ASSERT_EQ(launch_and_wait(L"\"MSIEXEC.EXE\" /i \"" + first + L"\" /qn", false), 0);
  put_file(run.at(L"temp\\demo.msi"), "fetched");
  Session& s = run.session();
  s.set_value(kValuePackageCode, code_of(demo(L"demo.msi")));
  s.set_value(kValueProductVersion, L"1.0.0");

  std::wstring path;
  int type = 0;
  ASSERT_TRUE(LocatePackage(s, &path, &type, true));
  EXPECT_TRUE(wide_iequals(path, first)) << path;
  // Without the lookup (the prerequisite sequence's form) the settings decide.
  ASSERT_TRUE(LocatePackage(s, &path, &type, false));
  EXPECT_EQ(path, run.at(L"temp\\demo.msi"));
  // Another package code: not this very package.
  s.set_value(kValuePackageCode, L"{00000000-0000-0000-0000-000000000000}");
  ASSERT_TRUE(LocatePackage(s, &path, &type, true));
  EXPECT_EQ(path, run.at(L"temp\\demo.msi"));
  // The recorded source is gone and no other source has it: fetched as usual.
  s.set_value(kValuePackageCode, code_of(demo(L"demo.msi")));
  DeleteFileW(first.c_str());
  ASSERT_TRUE(LocatePackage(s, &path, &type, true));
  EXPECT_EQ(path, run.at(L"temp\\demo.msi"));

  // The product's other network sources: the first whose copy has the setup's
  // version is taken.
  using AddSource = UINT(WINAPI*)(LPCWSTR, LPCWSTR, MSIINSTALLCONTEXT, DWORD, LPCWSTR, DWORD);
  auto add = reinterpret_cast<AddSource>(
      reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"msi.dll"), "MsiSourceListAddSourceExW")));
  ASSERT_NE(add, nullptr);
  const std::wstring other = run.at(L"other version"), second = run.at(L"second");
  qz::CreateFolderTree(other);
  qz::CreateFolderTree(second);
  CopyFileW(demo(L"demo2.msi").c_str(), zpath(other).join(L"demo.msi").c_str(), FALSE);
  CopyFileW(demo(L"demo.msi").c_str(), zpath(second).join(L"demo.msi").c_str(), FALSE);
  const DWORD network = static_cast<DWORD>(MSICODE_PRODUCT) | static_cast<DWORD>(MSISOURCETYPE_NETWORK);
  if (add(kProduct, nullptr, MSIINSTALLCONTEXT_MACHINE, network, (other + L"\\").c_str(), 0) != ERROR_SUCCESS ||
      add(kProduct, nullptr, MSIINSTALLCONTEXT_MACHINE, network, (second + L"\\").c_str(), 0) != ERROR_SUCCESS) {
    launch_and_wait(std::wstring(L"\"MSIEXEC.EXE\" /x ") + kProduct + L" /qn", false);
    GTEST_SKIP() << "this installer cannot add network sources";
  }
  ASSERT_TRUE(LocatePackage(s, &path, &type, true));
  EXPECT_TRUE(wide_iequals(path, zpath(second).join(L"demo.msi"))) << path;

  launch_and_wait(std::wstring(L"\"MSIEXEC.EXE\" /x ") + kProduct + L" /qn", false);
}
