// portable
#include "support/SwitchList.h"

#include <gtest/gtest.h>

TEST(SwitchList, TokensKeepQuotesAndOnlyBlanksSeparate) {
  auto t = tokenize_command_line(L"  /a  /tempdisk1folder\"C:\\x y\"\t/b   c\"d e\"f ");
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0], L"/a");
  EXPECT_EQ(t[1], L"/tempdisk1folder\"C:\\x y\"\t/b");
  EXPECT_EQ(t[2], L"c\"d e\"f");
}

TEST(SwitchList, FindIsCaseInsensitiveAndExactSkipsValues) {
  SwitchList s(L"/runfromtempX -RUNFROMTEMP /debuglog\"C:\\l.log\"");
  std::wstring v;
  EXPECT_TRUE(s.find(L"runfromtemp", &v, true, true));
  EXPECT_TRUE(s.find(L"debuglog", &v, false, true));
  EXPECT_EQ(v, L"\"C:\\l.log\"");
  EXPECT_EQ(s.remaining(), L"/runfromtempX");
  EXPECT_FALSE(s.find(L"runfromtempXY"));  // a shorter token never matches
}

TEST(SwitchList, OnlyFirstMatchIsConsumedAndUnparsedTextStaysWhole) {
  SwitchList s(L"/v1 /v2");
  EXPECT_EQ(s.remaining(), L"/v1 /v2");
  std::wstring v;
  EXPECT_TRUE(s.find(L"v", &v, false, true));
  EXPECT_EQ(v, L"1");
  EXPECT_EQ(s.remaining(), L"/v2");
  // A later lookup with consume false clears the flag again.
  EXPECT_TRUE(s.find(L"v", &v, false, false));
  EXPECT_EQ(s.remaining(), L"/v1 /v2");
}
