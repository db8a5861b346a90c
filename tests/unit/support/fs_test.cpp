#include "links.h"
#include "scratch.h"
#include "support/errors.h"

#include <cstring>

using namespace qz;
using namespace test_links;

using PathTest = ScratchTest;

TEST_F(PathTest, ExistsByKindAndPattern) {
  write_file(path(L"f.txt"), "x");
  CreateDirectoryW(path(L"sub").c_str(), nullptr);
  CreateDirectoryW(path(L"only").c_str(), nullptr);
  CreateDirectoryW(path(L"only\\inner").c_str(), nullptr);
  struct Case {
    std::wstring p;
    unsigned flags;
    bool expected;
  };
  const Case cases[] = {
      {path(L"f.txt"), kPathFile, true},
      {path(L"f.txt"), kPathFolder, false},
      {path(L"f.txt"), kPathAny, true},
      {path(L"sub"), kPathFile, false},
      {path(L"sub"), kPathFolder, true},
      {path(L"sub\\"), kPathFolder, true},
      {path(L"sub"), kPathAny, true},
      {path(L"sub"), 0, true},
      {path(L"none"), kPathAny, false},
      {path(L"none\\deeper"), kPathAny | kPathThrow, false},
      {path(L"*.txt"), kPathFile | kPathWildcards, true},
      {path(L"*.txt"), kPathFolder | kPathWildcards, false},
      {path(L"s?b"), kPathFolder | kPathWildcards, true},
      {path(L"*.doc"), kPathAny | kPathWildcards | kPathThrow, false},
      // "." and ".." are not folders inside "only\inner".
      {path(L"only\\inner\\*"), kPathFolder | kPathWildcards, false},
      {path(L"only\\*"), kPathFolder | kPathWildcards, true},
      {path(L"only\\*"), kPathFile | kPathWildcards, false},
  };
  for (const Case& c : cases) EXPECT_EQ(PathExists(c.p, c.flags), c.expected) << c.p << " " << c.flags;
}

TEST_F(PathTest, ThrowsOnlyWhenAskedAndNotForMissing) {
  const std::wstring bad = path(L"a<b>|c");
  EXPECT_FALSE(PathExists(bad, kPathAny));
  try {
    PathExists(bad, kPathAny | kPathThrow);
    ADD_FAILURE() << "no exception";
  } catch (const file_exception& e) {
    EXPECT_NE(e.code(), 0u);
    EXPECT_EQ(e.path(), bad);
    EXPECT_FALSE(e.message().empty());
    EXPECT_EQ(last_failure().error, e.code());
    EXPECT_EQ(last_failure().path, bad);
  }
}

TEST_F(PathTest, CreateFolderTreeNestedExistingAndBlocked) {
  const std::wstring deep = path(L"a\\b\\c\\");
  EXPECT_TRUE(CreateFolderTree(deep));
  EXPECT_TRUE(PathExists(path(L"a\\b\\c"), kPathFolder));
  EXPECT_TRUE(CreateFolderTree(path(L"a\\b")));  // already there
  EXPECT_EQ(last_failure().error, 0u);

  // A file standing where a folder should be is a failure, also as the last component.
  write_file(path(L"a\\file"), "x");
  EXPECT_FALSE(CreateFolderTree(path(L"a\\file")));
  EXPECT_EQ(last_failure().path, path(L"a\\file"));
  EXPECT_FALSE(CreateFolderTree(path(L"a\\file\\below")));
  EXPECT_EQ(last_failure().path, path(L"a\\file"));
  EXPECT_FALSE(CreateFolderTree(L""));

  EXPECT_TRUE(CreateParentFolder(path(L"p\\q\\name.txt")));
  EXPECT_TRUE(PathExists(path(L"p\\q"), kPathFolder));
  EXPECT_FALSE(PathExists(path(L"p\\q\\name.txt"), kPathAny));
  EXPECT_TRUE(CreateParentFolder(L"bare.txt"));
}

TEST_F(PathTest, DeleteRespectsReadOnlyOnRequest) {
  const std::wstring f = path(L"ro.txt");
  write_file(f, "x");
  SetFileAttributesW(f.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(DeleteFileChecked(f, true));
  EXPECT_EQ(last_failure().error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(exists(f));
  EXPECT_EQ(GetFileAttributesW(f.c_str()) & FILE_ATTRIBUTE_READONLY, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(DeleteFileChecked(f, false));
  EXPECT_FALSE(exists(f));
  EXPECT_FALSE(DeleteFileChecked(f, false));
  EXPECT_EQ(last_failure().error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(last_failure().path, f);
}

TEST_F(PathTest, RemoveFolderTreeRefusesRootsAndRemovesTrees) {
  EXPECT_FALSE(RemoveFolderTree(L"C:\\"));
  EXPECT_FALSE(RemoveFolderTree(L"C:"));
  EXPECT_FALSE(RemoveFolderTree(L"\\\\?\\C:\\"));
  EXPECT_FALSE(RemoveFolderTree(L""));
  EXPECT_TRUE(PathExists(L"C:\\windows", kPathFolder));
  EXPECT_TRUE(RemoveFolderTree(path(L"missing")));

  const std::wstring tree = path(L"tree");
  CreateFolderTree(tree + L"\\x\\y\\z");
  CreateFolderTree(tree + L"\\empty");
  write_file(tree + L"\\top.txt", "1");
  write_file(tree + L"\\x\\y\\ro.txt", "2");
  SetFileAttributesW((tree + L"\\x\\y\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesW((tree + L"\\x").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(RemoveFolderTree(tree + L"\\"));
  EXPECT_FALSE(exists(tree));

  // A file is not a folder to remove.
  write_file(path(L"plain"), "x");
  EXPECT_FALSE(RemoveFolderTree(path(L"plain")));
  EXPECT_TRUE(exists(path(L"plain")));
}

// A directory link inside the tree, and the tree being a link itself: neither is
// followed, so the target keeps its content. Where the system can remove the
// link (Windows), the removal succeeds; Wine cannot remove host links and the
// removal then reports failure.
TEST_F(PathTest, RemoveFolderTreeNeverFollowsLinks) {
  const std::wstring outside = path(L"outside");
  CreateFolderTree(outside + L"\\keep");
  write_file(outside + L"\\precious.txt", "data");
  const std::wstring tree = path(L"tree");
  CreateFolderTree(tree);
  write_file(tree + L"\\own.txt", "x");
  const std::wstring link = tree + L"\\link";
  if (!make_directory_link(link, outside)) GTEST_SKIP() << "no way to make a directory link here";

  bool removed = RemoveFolderTree(tree);
  EXPECT_EQ(read_file(outside + L"\\precious.txt"), "data");
  EXPECT_TRUE(PathExists(outside + L"\\keep", kPathFolder));
  EXPECT_FALSE(exists(tree + L"\\own.txt"));
  if (removed) {
    EXPECT_FALSE(exists(tree));
  } else {
    EXPECT_TRUE(is_link(link));
    EXPECT_EQ(last_failure().path, link);  // the first obstacle is named
  }
  drop_link(link);

  const std::wstring top_link = path(L"toplink");
  ASSERT_TRUE(make_directory_link(top_link, outside));
  if (RemoveFolderTree(top_link)) EXPECT_FALSE(exists(top_link));
  EXPECT_EQ(read_file(outside + L"\\precious.txt"), "data");
  EXPECT_TRUE(PathExists(outside + L"\\keep", kPathFolder));
  drop_link(top_link);
}
