#include "links.h"
#include "scratch.h"
#include "support/hold.h"
#include "support/new_file.h"

using namespace qz;

using HoldTest = ScratchTest;

namespace {

bool write_all(HANDLE h, const std::string& data) {
  DWORD put = 0;
  return WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &put, nullptr) && put == data.size();
}

}  // namespace

TEST_F(HoldTest, FoldersAreHeldOnlyWhenTheyAreFolders) {
  const std::wstring made = path(L"made");
  file_handle created = create_held_folder(made, nullptr);
  ASSERT_TRUE(created);
  EXPECT_FALSE(create_held_folder(made, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  // Held: it cannot go or be renamed, but what is inside can.
  write_file(made + L"\\a.txt", "a");
  EXPECT_TRUE(DeleteFileW((made + L"\\a.txt").c_str()));
  EXPECT_FALSE(MoveFileW(made.c_str(), path(L"moved").c_str()));
  EXPECT_FALSE(RemoveDirectoryW(made.c_str()));
  created.reset();
  EXPECT_TRUE(hold_folder(made));

  write_file(path(L"file"), "x");
  EXPECT_FALSE(hold_folder(path(L"file")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
  EXPECT_FALSE(hold_folder(path(L"missing")));
  if (test_links::make_directory_link(path(L"link"), made)) {
    EXPECT_FALSE(hold_folder(path(L"link")));
    EXPECT_EQ(GetLastError(), kErrorIsLink);
    test_links::drop_link(path(L"link"));
  }
}

TEST_F(HoldTest, NewFilesTakeTheirNameOnlyWhenCompleteAndStayAsWritten) {
  const std::wstring target = path(L"target.bin");
  write_file(target, "before");
  // The rename stays in the target's folder whatever the current folder is.
  wchar_t cwd[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, cwd);
  CreateDirectoryW(path(L"elsewhere").c_str(), nullptr);
  SetCurrentDirectoryW(path(L"elsewhere").c_str());
  {
    new_file f;
    ASSERT_TRUE(f.create(target));
    ASSERT_TRUE(write_all(f.get(), "partial"));
    EXPECT_EQ(read_file(target), "before");
  }  // discarded
  EXPECT_EQ(read_file(target), "before");
  new_file f;
  ASSERT_TRUE(f.create(target));
  ASSERT_TRUE(write_all(f.get(), "after"));
  ASSERT_TRUE(f.commit());
  file_handle held = hold_written_file(f.release(), target);
  SetCurrentDirectoryW(cwd);
  ASSERT_TRUE(held);
  EXPECT_EQ(read_file(target), "after");
  // Held: read by others, never written, renamed or deleted.
  EXPECT_EQ(CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_FALSE(MoveFileW(target.c_str(), path(L"other.bin").c_str()));
  EXPECT_FALSE(DeleteFileW(target.c_str()));
  held.reset();
  // Only the one file of the test is left.
  EXPECT_TRUE(DeleteFileW(target.c_str()));
  EXPECT_TRUE(RemoveDirectoryW(path(L"elsewhere").c_str()));
  EXPECT_TRUE(RemoveDirectoryW(dir_.c_str()));
  CreateDirectoryW(dir_.c_str(), nullptr);
}
