// portable
#include "cleanup_rules.h"

#include <gtest/gtest.h>

#include "package/IniProfile.h"

using namespace cleanup_rules;

TEST(CleanupRules, WhatLiesWithinAFolder) {
  struct Row {
    const wchar_t* path;
    const wchar_t* folder;
    bool within;
    bool below;
  } rows[] = {
      {L"C:\\Temp\\{A}\\setup.exe", L"C:\\Temp\\{A}", true, true},
      {L"c:\\temp\\{a}\\Sub\\x.ini", L"C:\\TEMP\\{A}\\", true, true},
      {L"C:\\Temp\\{A}", L"C:\\Temp\\{A}", true, false},
      {L"C:\\Temp\\{A}\\", L"C:\\Temp\\{A}", true, false},
      {L"C:\\Temp\\{A}/x", L"C:\\Temp\\{A}", true, true},
      // A text prefix is not a folder prefix.
      {L"C:\\Temp\\{A}B\\setup.exe", L"C:\\Temp\\{A}", false, false},
      {L"C:\\Temp", L"C:\\Temp\\{A}", false, false},
      {L"D:\\Temp\\{A}\\x", L"C:\\Temp\\{A}", false, false},
      // Climbing out, in every spelling the system accepts, never counts.
      {L"C:\\Temp\\{A}\\..\\..\\Users", L"C:\\Temp\\{A}", false, false},
      {L"C:\\Temp\\{A}\\.. \\Users", L"C:\\Temp\\{A}", false, false},
      {L"C:\\Temp\\{A}\\ .. \\Users", L"C:\\Temp\\{A}", false, false},
      {L"C:\\Temp\\{A}\\...\\x", L"C:\\Temp\\{A}", false, false},
      {L"C:\\Temp\\{A}\\.\\x", L"C:\\Temp\\{A}", false, false},
      {L"C:\\Temp\\{A}\\x", L"C:\\Temp\\..\\Temp\\{A}", false, false},
      {L"C:\\Temp\\{A}\\.config", L"C:\\Temp\\{A}", true, true},  // a dot name is an ordinary name
      // UNC stays apart from a rooted path.
      {L"\\\\srv\\share\\x", L"\\srv\\share", false, false},
      {L"\\\\srv\\share\\x", L"\\\\srv\\share", true, true},
      // Letters beyond ASCII must match exactly (safe side).
      {L"C:\\\u00c9t\u00e9\\x", L"C:\\\u00e9t\u00e9", false, false},
      {L"C:\\x", L"", false, false},
      {L"", L"C:\\x", false, false},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(lies_within(r.path, r.folder), r.within) << r.path << L" in " << r.folder;
    EXPECT_EQ(lies_below(r.path, r.folder), r.below) << r.path << L" below " << r.folder;
  }
}

TEST(CleanupRules, MadeByRunMeansWithinAMadeFolder) {
  std::vector<std::wstring> made = {L"C:\\Temp\\{A}", L"D:\\x\\{B}"};
  EXPECT_TRUE(made_by_run(L"C:\\Temp\\{A}", made));
  EXPECT_TRUE(made_by_run(L"D:\\x\\{B}\\prq\\y", made));
  EXPECT_FALSE(made_by_run(L"D:\\x", made));
  EXPECT_FALSE(made_by_run(L"C:\\Temp\\{A}\\..\\Docs", made));
  EXPECT_FALSE(made_by_run(L"C:\\Temp\\{A}", {}));
}

// The folders a removal passes through on its way from the temporary folder to
// the entry: the clean-up refuses an entry when one of them is a link.
TEST(CleanupRules, FoldersBetweenTheTemporaryFolderAndAnEntry) {
  using V = std::vector<std::wstring>;
  EXPECT_EQ(folders_between(L"C:\\t\\a\\b\\f.txt", L"C:\\t"), (V{L"C:\\t\\a", L"C:\\t\\a\\b"}));
  EXPECT_EQ(folders_between(L"c:\\T\\link/sub\\", L"C:\\t\\"), (V{L"c:\\T\\link"}));
  EXPECT_EQ(folders_between(L"C:\\t\\f.txt", L"C:\\t"), V{});  // directly inside: nothing between
  EXPECT_EQ(folders_between(L"C:\\t", L"C:\\t"), V{});
  EXPECT_EQ(folders_between(L"C:\\u\\a\\f", L"C:\\t"), V{});  // not below the folder
  EXPECT_EQ(folders_between(L"C:\\t\\..\\u\\f", L"C:\\t"), V{});
}

TEST(CleanupRules, KeysTheListCanHold) {
  struct Row {
    const wchar_t* wanted;
    const wchar_t* key;
  } rows[] = {
      {L"setup.exe", L"setup.exe"},
      {L"a=b.txt", L"a|b.txt"},
      {L";x.ini", L"|x.ini"},
      {L"[x].ini", L"|x].ini"},
      {L" ;[ x;", L"||||x;"},
      {L"a\r\nb", L"a||b"},
      // Trimmed on reading, "x " would come back as another file's key "x".
      {L"x \t", L"x||"},
      {L" x y ", L"|x y|"},
      {L"", L""},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(list_key(r.wanted), r.key) << r.wanted;
    // What the list holds reads back as the same key.
    if (!*r.key) continue;
    qz::IniProfile list;
    ASSERT_TRUE(list.write_string(L"Files", r.key, L"C:\\Temp\\x"));
    qz::IniProfile again;
    again.load_bytes(list.to_bytes(), qz::latin1_decode);
    EXPECT_EQ(again.find(L"Files", r.key), L"C:\\Temp\\x") << r.wanted;
  }
}

// Only a pass that made progress with nothing in use goes on at once; only the
// passes that wait count toward the limit.
TEST(CleanupRules, PaceOfThePasses) {
  struct Row {
    bool shortened;
    bool in_use;
    bool wait;
  } rows[] = {
      {true, false, false},
      {true, true, true},    // progress, but the held entry needs time
      {false, true, true},   // a held file, or a list that cannot be read or written
      {false, false, true},  // no progress: an immediate pass would find the same
  };
  for (const Row& r : rows) {
    EXPECT_EQ(must_wait(r.shortened, r.in_use), r.wait) << r.shortened << r.in_use;
    EXPECT_EQ(waited_passes(3, r.shortened, r.in_use), r.wait ? 4 : 3) << r.shortened << r.in_use;
  }
}
