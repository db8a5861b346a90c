// portable
#include "package_cache_rules.h"

#include <gtest/gtest.h>

using namespace package_cache_rules;

TEST(PackageCachePlan, WhereTheCacheLies) {
  struct Case {
    bool has_b;
    const wchar_t* b;
    int root;
    const wchar_t* folder;
    CacheKind kind;
    const wchar_t* expected_folder;
  };
  const Case cases[] = {
      {false, L"", kNoCacheRoot, L"Vendor", CacheKind::kNone, L""},        // no CacheRoot, no /b
      {false, L"", -7, L"Vendor", CacheKind::kNone, L""},
      {true, L"D:\\keep", kNoCacheRoot, L"", CacheKind::kExplicit, L"D:\\keep"},  // /b alone caches
      {true, L"D:\\keep", 35, L"Vendor", CacheKind::kExplicit, L"D:\\keep"},      // /b wins over the settings
      {false, L"", kWholePathRoot, L"C:\\Cache\\App", CacheKind::kExplicit, L"C:\\Cache\\App"},
      {false, L"", 0, L"Vendor", CacheKind::kShellRoot, L""},  // 0 is a shell folder id too
      {false, L"", 35, L"Vendor", CacheKind::kShellRoot, L""},
  };
  for (const Case& c : cases) {
    CachePlan p = plan_cache(c.has_b, c.b, c.root, c.folder);
    EXPECT_EQ(p.kind, c.kind) << c.root << " " << c.b;
    EXPECT_EQ(p.folder, c.expected_folder) << c.root << " " << c.b;
  }
}

TEST(PackageCachePlan, FolderComposition) {
  struct Case {
    const wchar_t* root;
    const wchar_t* folder;
    const wchar_t* code;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"C:\\ProgramData", L"Vendor\\App", L"{A-B}", L"C:\\ProgramData\\Vendor\\App\\{A-B}"},
      {L"C:\\ProgramData\\", L"Vendor", L"", L"C:\\ProgramData\\Vendor"},      // no package code read
      {L"C:\\ProgramData", L"", L"{A-B}", L"C:\\ProgramData\\{A-B}"},          // empty CacheFolder: one separator
      {L"C:\\ProgramData", L"\\Vendor\\", L"{A-B}", L"C:\\ProgramData\\Vendor\\{A-B}"},
      {L"\\\\srv\\share", L"x", L"", L"\\\\srv\\share\\x"},
  };
  for (const Case& c : cases) EXPECT_EQ(shell_cache_folder(c.root, c.folder, c.code), c.expected) << c.expected;
  EXPECT_EQ(join_path(L"", L"demo.msi"), L"demo.msi");
  EXPECT_EQ(join_path(L"C:\\a/", L"demo.msi"), L"C:\\a/demo.msi");
  EXPECT_EQ(join_path(L"C:\\a", L""), L"C:\\a");
  // A location of the source folder (a /UM value, say): absolute and UNC ones as they are.
  EXPECT_EQ(source_location_path(L"C:\\media", L"D:\\pkgs\\x.msi"), L"D:\\pkgs\\x.msi");
  EXPECT_EQ(source_location_path(L"C:\\media", L"\\\\srv\\share\\x.msi"), L"\\\\srv\\share\\x.msi");
  EXPECT_EQ(source_location_path(L"C:\\media", L"sub\\x.msi"), L"C:\\media\\sub\\x.msi");
}

TEST(PackageCachePlan, CabinetNames) {
  struct Case {
    const wchar_t* entry;
    const wchar_t* name;
  };
  const Case cases[] = {
      {L"http://example.com/media/data1.cab", L"data1.cab"},
      {L"media\\disk1\\data2.cab", L"data2.cab"},
      {L"data3.cab", L"data3.cab"},
      {L"ftp://h/dir\\sub/x.cab", L"x.cab"},
      {L"http://h/a\\b.cab", L"b.cab"},  // a backslash after the last slash still separates
      // The fetch leaves out the query and fragment (a slash in the query is no folder).
      {L"http://h/media/data1.cab?token=a/b.cab", L"data1.cab"},
      {L"http://h/data1.cab#part", L"data1.cab"},
      {L"http://h/media/?x=1", L""},
      // Names that would move the temporary folder itself or its parent.
      {L"http://example.com/media/", L""},
      {L"media\\", L""},
      {L"http://h/..", L""},
      {L"..", L""},
      {L".", L""},
      // Trailing dots and blanks are dropped by the system: these are "." and "..".
      {L"http://h/. .", L""},
      {L"media\\.. ", L""},
      {L"...", L""},
      {L"  ", L""},
      {L"data4.cab.", L"data4.cab."},
  };
  for (const Case& c : cases) EXPECT_EQ(cabinet_file_name(c.entry), c.name) << c.entry;
}

TEST(PackageCachePlan, CachedCopyNeverLeavesTheCacheFolder) {
  struct Case {
    const wchar_t* package;
    const wchar_t* name;
  };
  const Case cases[] = {
      {L"demo.msi", L"demo.msi"},
      {L"..\\..\\x.msi", L"x.msi"},
      {L"sub/dir\\app.msi", L"app.msi"},
      {L"C:\\Windows\\x.msi", L"x.msi"},
      {L"\\\\srv\\share\\x.msi", L"x.msi"},
      {L"..", L""},
      {L"sub\\.", L""},
      {L"sub\\. .", L""},      // the system reads it as "." too
      {L"sub\\", L""},
      {L"C:x.msi", L""},         // relative to the drive's current folder
      {L"x.msi:stream", L""},    // another stream of a file
      {L"", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(cached_file_name(c.package), c.name) << c.package;
}

TEST(PackageCachePlan, ReplaceQuestionAndNames) {
  EXPECT_FALSE(replace_needs_question(true, L"{ABC-1}", true, L"{abc-1}"));  // same package, any case
  EXPECT_TRUE(replace_needs_question(true, L"{ABC-1}", true, L"{ABC-2}"));
  EXPECT_TRUE(replace_needs_question(false, L"", true, L"{ABC-1}"));  // existing file is no package
  EXPECT_TRUE(replace_needs_question(true, L"{ABC-1}", false, L""));
  EXPECT_TRUE(replace_needs_question(false, L"", false, L""));  // two unreadable codes are not "equal"

  EXPECT_EQ(string_file_name(0x409), L"0x0409.ini");
  EXPECT_EQ(string_file_name(0x0C0A), L"0x0c0a.ini");
  EXPECT_EQ(folder_of(L"C:\\t\\{X}\\1031.mst"), L"C:\\t\\{X}");
  EXPECT_EQ(folder_of(L"1031.mst"), L"");
  EXPECT_EQ(leaf_of(L"C:\\t\\{X}\\1031.mst"), L"1031.mst");
  EXPECT_EQ(leaf_of(L"1031.mst"), L"1031.mst");
}
