// portable
#include "support/zstring.h"

#include <gtest/gtest.h>

TEST(ZPath, FolderLeafAndJoin) {
  zpath p(L"C:\\a\\b\\setup.exe");
  EXPECT_EQ(p.folder(), L"C:\\a\\b");
  EXPECT_EQ(p.leaf(), L"setup.exe");
  EXPECT_EQ(zpath(L"setup.exe").folder(), L"");
  EXPECT_EQ(zpath(L"C:\\a\\").join(L"b"), L"C:\\a\\b");
  EXPECT_EQ(zpath(L"C:\\a").join(L"\\b"), L"C:\\a\\b");
  EXPECT_EQ(zpath(L"").join(L"b"), L"b");
}

TEST(ZPath, QuotesAndRoots) {
  EXPECT_EQ(zpath(L"\"C:\\x y\"").unquote(), L"C:\\x y");
  EXPECT_EQ(zpath(L"\"C:\\x y").unquote(), L"C:\\x y");
  EXPECT_EQ(zpath(L"C:\\x\"").unquote(), L"C:\\x\"");
  EXPECT_EQ(zpath(L"C:\\x\\y").root(), L"C:\\");
  EXPECT_EQ(zpath(L"\\\\srv\\share\\d").root(), L"\\\\srv\\share\\");
  EXPECT_EQ(zpath(L"rel\\x").root(), L"");
}

TEST(ZString, FormatGrowsPastInitialBuffer) {
  std::wstring big(5000, L'x');
  zString s = zString::format(L"[%ls]=%d", big.c_str(), 42);
  EXPECT_EQ(s.size(), 5000u + 5u);
  EXPECT_EQ(s.substr(s.size() - 4), L"]=42");
}
