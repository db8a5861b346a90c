// The deletion list and DeleteAction: what a pass removes and when, files in
// use, the pace of the passes and the ten-pass limit, and the rule that only folders the run made go with
// their contents.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>

#include "../support/links.h"
#include "cleanup.h"
#include "support/process_state.h"
#include "support/utils.h"

namespace {

bool exists(const std::wstring& p) { return GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES; }

void touch(const std::wstring& p) { std::ofstream(p.c_str(), std::ios::binary) << "x"; }

std::wstring listed(const wchar_t* section, const wchar_t* key) {
  wchar_t buf[1024];
  GetPrivateProfileStringW(section, key, L"<none>", buf, 1024, deletion_list_path().c_str());
  return buf;
}

class Cleanup : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    root_ = std::wstring(tmp) + L"qzdelete_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(n_++);
    ASSERT_TRUE(CreateDirectoryW(root_.c_str(), nullptr));
    dir_ = root_ + L"\\run";
    ASSERT_TRUE(CreateDirectoryW(dir_.c_str(), nullptr));
    qzproc::set_temp_folder(dir_);
  }
  void TearDown() override {
    qzproc::set_temp_folder(L"");
    qz::RemoveFolderTree(root_);
  }
  // The temporary folder as the parent makes it.
  void made() { record_created_folder(dir_); }
  std::wstring in(const std::wstring& name) const { return dir_ + L"\\" + name; }

  static int n_;
  std::wstring root_;  // holds the temporary folder and, beside it, "user" folders
  std::wstring dir_;
};
int Cleanup::n_ = 0;

TEST_F(Cleanup, RecordsAreUnicodeOnePerKeyAndKeysFitTheList) {
  record_files({in(L"setup.exe"), in(L"QZSetup.dll")});
  record_file(in(L"Setup.INI"));
  record_file_as(in(L"other\\Setup.INI"), L"Setup.INI");  // same key: replaces
  record_folder(in(L"{F1}\\"));
  record_files({in(L"a=b.txt"), in(L"a_b.txt")});  // "=" cannot stand in a key
  made();
  EXPECT_EQ(deletion_list_path(), in(L"_QZMSIDEL.INI"));
  std::ifstream f(deletion_list_path().c_str(), std::ios::binary);
  char head[2] = {};
  f.read(head, 2);
  EXPECT_EQ(static_cast<unsigned char>(head[0]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(head[1]), 0xFE);
  EXPECT_EQ(listed(L"Files", L"setup.exe"), in(L"setup.exe"));
  EXPECT_EQ(listed(L"Files", L"QZSetup.dll"), in(L"QZSetup.dll"));
  EXPECT_EQ(listed(L"Files", L"Setup.INI"), in(L"other\\Setup.INI"));
  EXPECT_EQ(listed(L"Folders", L"{F1}"), in(L"{F1}\\"));
  EXPECT_EQ(listed(L"Files", L"a|b.txt"), in(L"a=b.txt"));
  EXPECT_EQ(listed(L"Files", L"a_b.txt"), in(L"a_b.txt"));
  EXPECT_EQ(listed(L"Created", L"run"), dir_);

  qzproc::set_temp_folder(L"");
  EXPECT_EQ(deletion_list_path(), L"");
  record_file(in(L"late.txt"));  // nowhere to record: nothing written anywhere
  qzproc::set_temp_folder(dir_);
  EXPECT_EQ(listed(L"Files", L"late.txt"), L"<none>");
}

TEST_F(Cleanup, PassByPassFilesThenFoldersThenListAndFolder) {
  made();
  touch(in(L"a.txt"));
  SetFileAttributesW(in(L"a.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  CreateDirectoryW(in(L"sub").c_str(), nullptr);
  touch(in(L"sub\\inner.txt"));  // not listed, but inside a listed folder the run made
  CreateDirectoryW(in(L"sub\\deeper").c_str(), nullptr);
  touch(in(L"sub\\deeper\\x"));
  record_file(in(L"a.txt"));
  record_file(in(L"never-made.txt"));
  record_folder(in(L"sub"));

  // Nothing is in use: every pass shortens the list and the next one follows at once.
  DeleteAction action;
  EXPECT_FALSE(action.pass());  // 1: the files; folders wait while files were listed
  EXPECT_FALSE(action.wait_before_next());
  EXPECT_FALSE(exists(in(L"a.txt")));
  EXPECT_TRUE(exists(in(L"sub\\inner.txt")));
  EXPECT_EQ(listed(L"Files", L"a.txt"), L"<none>");
  EXPECT_FALSE(action.pass());  // 2: the folders
  EXPECT_FALSE(action.wait_before_next());
  EXPECT_FALSE(exists(in(L"sub")));
  EXPECT_TRUE(exists(deletion_list_path()));
  EXPECT_TRUE(action.pass());  // 3: list and folder
  EXPECT_FALSE(exists(dir_));
  EXPECT_EQ(action.passes(), 0);
  EXPECT_TRUE(action.pass());  // nothing left: done at once
}

TEST_F(Cleanup, WithoutATemporaryFolderNothingIsTouched) {
  made();
  touch(in(L"keep.txt"));
  record_file(in(L"keep.txt"));
  qzproc::set_temp_folder(L"");
  DeleteAction action;
  action.set_pass_interval(10);
  action.run(GetModuleHandleW(nullptr));
  EXPECT_EQ(action.passes(), 0);
  EXPECT_TRUE(exists(in(L"keep.txt")));
  EXPECT_TRUE(exists(in(L"_QZMSIDEL.INI")));
}

// A file someone holds open stays listed; after ten passes the list goes and the
// file stays, everything else is gone.
TEST_F(Cleanup, HeldFileOutlastsTheTenPassLimit) {
  made();
  std::wstring busy = in(L"busy.txt");
  touch(busy);
  touch(in(L"free.txt"));
  record_file(busy);
  record_file(in(L"free.txt"));
  HANDLE h = CreateFileW(busy.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DeleteAction action;
  action.set_pass_interval(20);
  DWORD t0 = GetTickCount();
  action.run(GetModuleHandleW(nullptr));
  DWORD took = GetTickCount() - t0;
  CloseHandle(h);
  EXPECT_EQ(action.passes(), DeleteAction::kMaxPasses);
  EXPECT_GE(took, 10u * 20u);  // each counted pass waited its period
  EXPECT_TRUE(exists(busy));
  EXPECT_FALSE(exists(in(L"free.txt")));
  EXPECT_FALSE(exists(deletion_list_path()));
}

TEST_F(Cleanup, HeldFileGoesOnAPassAfterItIsFreed) {
  made();
  std::wstring busy = in(L"busy.txt");
  touch(busy);
  record_file(busy);
  HANDLE h = CreateFileW(busy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DeleteAction action;
  EXPECT_FALSE(action.pass());
  EXPECT_TRUE(action.wait_before_next());
  EXPECT_EQ(listed(L"Files", L"busy.txt"), busy);
  CloseHandle(h);
  EXPECT_FALSE(action.pass());
  EXPECT_FALSE(action.wait_before_next());
  EXPECT_EQ(action.passes(), 1);
  EXPECT_FALSE(exists(busy));
  EXPECT_TRUE(action.pass());
  EXPECT_FALSE(exists(dir_));
}

// The temporary folder that the run did not make: only what the run recorded
// goes, the user's own files and the folder stay. Entries outside it (a folder
// beside it, one whose name begins with its name, one reached by "..") are
// dropped untouched.
TEST_F(Cleanup, FoldersTheRunDidNotMakeOnlyLoseRecordedFiles) {
  std::wstring user = root_ + L"\\Documents";
  CreateDirectoryW(user.c_str(), nullptr);
  touch(user + L"\\thesis.doc");
  touch(user + L"\\extracted.ini");
  touch(in(L"mine.txt"));
  touch(in(L"Setup.INI"));
  const std::wstring sibling = dir_ + L"2";
  CreateDirectoryW(sibling.c_str(), nullptr);
  touch(sibling + L"\\b.txt");
  record_file(in(L"Setup.INI"));
  record_file(user + L"\\extracted.ini");
  record_file(in(L"..\\Documents\\thesis.doc"));
  record_file_as(sibling + L"\\b.txt", L"b");
  record_folder(user);
  record_folder(sibling);

  DeleteAction action;
  action.set_pass_interval(10);
  action.run(GetModuleHandleW(nullptr));
  EXPECT_FALSE(exists(in(L"Setup.INI")));
  EXPECT_TRUE(exists(user + L"\\extracted.ini"));
  EXPECT_TRUE(exists(sibling + L"\\b.txt"));
  EXPECT_TRUE(exists(user + L"\\thesis.doc"));
  EXPECT_TRUE(exists(in(L"mine.txt")));
  EXPECT_FALSE(exists(deletion_list_path()));
  EXPECT_EQ(action.passes(), 0);  // the kept folder does not hold the list up

  // Even emptied, a folder the run did not make stays.
  DeleteFileW(in(L"mine.txt").c_str());
  DeleteAction again;
  EXPECT_TRUE(again.pass());
  EXPECT_TRUE(exists(dir_));
  EXPECT_FALSE(remove_made_folder(dir_));
}

// A [Created] mark counts only for the temporary folder and what lies in it: a
// list cannot hand a folder elsewhere over to the removal.
TEST_F(Cleanup, CreatedMarksOutsideTheTemporaryFolderAreIgnored) {
  made();
  std::wstring user = root_ + L"\\Projects";
  CreateDirectoryW(user.c_str(), nullptr);
  touch(user + L"\\code.cpp");
  WritePrivateProfileStringW(L"Created", L"Projects", user.c_str(), deletion_list_path().c_str());
  WritePrivateProfileStringW(L"Created", L"climb", (dir_ + L"\\..\\Projects").c_str(), deletion_list_path().c_str());
  WritePrivateProfileStringW(L"Folders", L"direct", user.c_str(), deletion_list_path().c_str());
  record_folder(dir_ + L"\\..\\Projects");
  DeleteAction action;
  action.set_pass_interval(10);
  action.run(GetModuleHandleW(nullptr));
  EXPECT_TRUE(exists(user + L"\\code.cpp"));
  EXPECT_FALSE(exists(dir_));
}

// An entry whose path runs through a link inside the temporary folder names
// something at the link's far end: neither that file nor that folder is touched,
// and the entries leave the list at once instead of holding it up.
TEST_F(Cleanup, NothingIsRemovedThroughALinkOnTheWay) {
  made();
  const std::wstring beyond = root_ + L"\\far";
  CreateDirectoryW(beyond.c_str(), nullptr);
  CreateDirectoryW((beyond + L"\\sub").c_str(), nullptr);
  touch(beyond + L"\\sub\\precious.txt");
  touch(beyond + L"\\notes.txt");
  const std::wstring link = in(L"link");
  if (!test_links::make_directory_link(link, beyond)) GTEST_SKIP() << "no way to make a directory link here";
  record_file(link + L"\\notes.txt");
  record_folder(link + L"\\sub\\");
  touch(in(L"own.txt"));
  record_file(in(L"own.txt"));

  DeleteAction action;
  action.set_pass_interval(10);
  action.run(GetModuleHandleW(nullptr));
  EXPECT_TRUE(exists(beyond + L"\\notes.txt"));
  EXPECT_TRUE(exists(beyond + L"\\sub\\precious.txt"));
  EXPECT_FALSE(exists(in(L"own.txt")));
  EXPECT_FALSE(exists(deletion_list_path()));
  EXPECT_EQ(action.passes(), 0);
  test_links::drop_link(link);
}

// The list is replaced whole: no half-written list and no leftover next list, and
// a write that cannot be finished leaves the list as it was.
TEST_F(Cleanup, TheListIsReplacedWholeOrNotAtAll) {
  made();
  record_file(in(L"a.txt"));
  const std::wstring next = deletion_list_path() + L".new";
  EXPECT_FALSE(exists(next));
  std::ifstream f(deletion_list_path().c_str(), std::ios::binary);
  std::string before((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  f.close();
  ASSERT_TRUE(CreateDirectoryW(next.c_str(), nullptr));  // the next list cannot be written
  record_file(in(L"b.txt"));
  std::ifstream g(deletion_list_path().c_str(), std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(g)), std::istreambuf_iterator<char>()), before);
  g.close();
  EXPECT_EQ(listed(L"Files", L"a.txt"), in(L"a.txt"));
  // A pass that cannot write the shortened list back waits like one that met a
  // file in use, and the entry is still listed for the next.
  DeleteAction held;
  EXPECT_FALSE(held.pass());
  EXPECT_TRUE(held.wait_before_next());
  EXPECT_EQ(held.passes(), 1);
  EXPECT_EQ(listed(L"Files", L"a.txt"), in(L"a.txt"));
  RemoveDirectoryW(next.c_str());
  // A next list that a broken write left beside a list that is gone goes too, and
  // with it the folder.
  touch(next);
  ASSERT_TRUE(DeleteFileW(deletion_list_path().c_str()));
  EXPECT_TRUE(DeleteAction().pass());
  EXPECT_FALSE(exists(dir_));
}

// A list written by the older ANSI profile functions (another tool, a previous
// version) is read as well.
TEST_F(Cleanup, AnsiListIsWorkedOff) {
  made();
  touch(in(L"old.txt"));
  std::string text = "[Created]\r\nrun=" + std::string(dir_.begin(), dir_.end()) + "\r\n[Files]\r\nold.txt=" +
                     std::string(dir_.begin(), dir_.end()) + "\\old.txt\r\n";
  std::ofstream(deletion_list_path().c_str(), std::ios::binary | std::ios::trunc) << text;
  DeleteAction action;
  action.set_pass_interval(10);
  action.run(GetModuleHandleW(nullptr));
  EXPECT_FALSE(exists(dir_));
}

}  // namespace
