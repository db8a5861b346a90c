// The deletion list as the parent writes it, and how a parent ends after its
// clone. The clean-up itself is tested in tests/unit/cleanup.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>

#include "cleanup.h"
#include "launch.h"
#include "relaunch.h"
#include "support/hold.h"
#include "support/process_state.h"
#include "support/utils.h"

namespace {

// Removes a scratch folder and everything in it.
inline void remove_tree(const std::wstring& dir) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = dir + L"\\" + name;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        remove_tree(child);
      } else {
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryW(dir.c_str());
}

bool exists(const std::wstring& p) { return GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES; }

void touch(const std::wstring& p) { std::ofstream(p.c_str(), std::ios::binary) << "x"; }

std::wstring profile(const wchar_t* section, const wchar_t* key) {
  wchar_t buf[1024];
  GetPrivateProfileStringW(section, key, L"<none>", buf, 1024, deletion_list_path().c_str());
  return buf;
}

class DeletionList : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    dir_ = std::wstring(tmp) + L"qzcleanup_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(n_++);
    ASSERT_TRUE(CreateDirectoryW(dir_.c_str(), nullptr));
    qzproc::set_temp_folder(dir_);
  }
  void TearDown() override {
    qzproc::set_temp_folder(L"");
    remove_tree(dir_);
  }
  static int n_;
  std::wstring dir_;
};
int DeletionList::n_ = 0;

// The parent's copies into the temporary folder, driven by the setup.ini beside
// the running program (here the test program).
TEST_F(DeletionList, CompanionFilesAreCopiedAndRecorded) {
  wchar_t exe[MAX_PATH];
  std::wstring own(exe, GetModuleFileNameW(nullptr, exe, MAX_PATH));
  std::wstring ini = own.substr(0, own.find_last_of(L'\\')) + L"\\setup.ini";
  ASSERT_FALSE(exists(ini)) << "a setup.ini already lies beside the tests";
  {
    std::ofstream f(ini.c_str(), std::ios::binary);
    f << "[Startup]\r\nSkin=my.qzn\r\n[Languages]\r\nSupported=0x0409, ..\\escape,0x0407\r\n";
  }
  std::wstring src = dir_ + L"\\src", tmp = dir_ + L"\\tmp";
  CreateDirectoryW(src.c_str(), nullptr);
  CreateDirectoryW(tmp.c_str(), nullptr);
  for (const wchar_t* n : {L"setup.exe", L"Setup.INI", L"my.qzn", L"0x0409.ini", L"1033.mst", L"0x0407.ini"})
    touch(src + L"\\" + n);
  touch(dir_ + L"\\escape.ini");
  qzproc::set_temp_folder(tmp);
  // The launcher's bytes come from the file it was started from, held, not from
  // whatever lies under its name beside it.
  qz::file_handle image = qz::hold_file(own);
  ASSERT_TRUE(image);
  qz::file_handle copy = copy_companion_files(image.get(), src, tmp, L"setup.exe");
  DeleteFileW(ini.c_str());
  ASSERT_TRUE(copy);
  LARGE_INTEGER own_size{}, copy_size{};
  GetFileSizeEx(image.get(), &own_size);
  GetFileSizeEx(copy.get(), &copy_size);
  EXPECT_EQ(copy_size.QuadPart, own_size.QuadPart);
  // The copy stays as it is while held.
  EXPECT_EQ(CreateFileW((tmp + L"\\setup.exe").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_FALSE(MoveFileW((tmp + L"\\setup.exe").c_str(), (tmp + L"\\other.exe").c_str()));
  copy.reset();
  for (const wchar_t* n : {L"setup.exe", L"Setup.INI", L"my.qzn", L"0x0409.ini", L"1033.mst", L"0x0407.ini"}) {
    EXPECT_TRUE(exists(tmp + L"\\" + n)) << n;
    EXPECT_EQ(profile(L"Files", n), tmp + L"\\" + n);
  }
  EXPECT_FALSE(exists(tmp + L"\\QZSetup.dll"));
  EXPECT_EQ(profile(L"Files", L"QZSetup.dll"), tmp + L"\\QZSetup.dll");  // listed although not copied
  EXPECT_EQ(profile(L"Files", L"1031.mst"), L"<none>");                   // not there, not listed
  EXPECT_EQ(profile(L"Files", L"escape.ini"), L"<none>");
  // Without a launcher to copy, nothing stands in its name.
  std::wstring empty = dir_ + L"\\empty";
  CreateDirectoryW(empty.c_str(), nullptr);
  qzproc::set_temp_folder(tmp);
  EXPECT_FALSE(copy_companion_files(nullptr, empty, tmp + L"\\again", L"setup.exe"));
  EXPECT_FALSE(exists(tmp + L"\\again\\setup.exe"));
}

int g_reboots = 0;
bool count_reboot() {
  ++g_reboots;
  return false;
}

TEST(ParentEnd, RestartRequestedByTheCloneAndCustomCodes) {
  qz::set_reboot_hook(&count_reboot);
  ReturnCodeSettings plain;
  ReturnCodeSettings custom;
  custom.custom = true;
  custom.on_success = 16;
  custom.on_fail = 5;
  ReturnCodeSettings custom_unset;
  custom_unset.custom = true;

  g_reboots = 0;
  qzproc::set_exit_code(0);
  EXPECT_EQ(finish_waited_clone(3010, plain), 3010);
  EXPECT_EQ(g_reboots, 0);
  EXPECT_EQ(finish_waited_clone(kNotStarted, plain), kNotStarted);
  EXPECT_EQ(finish_waited_clone(kNotStarted, custom), 5);
  EXPECT_EQ(finish_waited_clone(kNotStarted, custom_unset), kNotStarted);
  EXPECT_EQ(finish_waited_clone(1603, custom), 1603);  // a clone's own failure passes through

  qzproc::set_exit_code(7002);
  EXPECT_EQ(finish_waited_clone(7002, plain), 7002);
  EXPECT_EQ(g_reboots, 1);
  qzproc::set_exit_code(0);

  EXPECT_EQ(started_clone_exit_code(plain), 0);
  EXPECT_EQ(started_clone_exit_code(custom), 16);
  EXPECT_EQ(started_clone_exit_code(custom_unset), 0);
  EXPECT_EQ(copy_failed_exit_code(plain), 1151);  // the copy of the launcher could not be made
  EXPECT_EQ(copy_failed_exit_code(custom), 5);
  EXPECT_EQ(copy_failed_exit_code(custom_unset), 1151);
  qz::set_reboot_hook(nullptr);
}

}  // namespace
