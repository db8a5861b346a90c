// portable
#include "net/download_rules.h"

#include <gtest/gtest.h>

using namespace download_rules;

TEST(DownloadRules, UrlCompletion) {
  struct Row { const wchar_t* in; const wchar_t* out; } rows[] = {
      {L"HTTPS://h/p.msi", L"HTTPS://h/p.msi"},
      {L"ftp://h\\dir\\p.msi", L"ftp://h/dir/p.msi"},
      {L"example.com/p.msi", L"http://example.com/p.msi"},
      {L"ftp://", L"http://ftp://"},  // six characters: no scheme of its own
      {L"file://h/x", L"http://file://h/x"},
  };
  for (const Row& r : rows) EXPECT_EQ(normalise_url(r.in), r.out) << r.in;
  EXPECT_TRUE(is_unc_source(L"\\\\srv\\share\\p.msi"));
  EXPECT_FALSE(is_unc_source(L"\\\\"));
  EXPECT_EQ(referer_header(L"Http://h/x"), L"Referer: Http://h/x");
  EXPECT_EQ(referer_header(L"https://h/x"), L"");
  EXPECT_TRUE(is_web_address(L"FTP://h/x"));
  EXPECT_FALSE(is_web_address(L"C:\\pkg\\p.msi"));
}

TEST(DownloadRules, TargetNames) {
  struct Row { const wchar_t* url; const wchar_t* name; } rows[] = {
      {L"http://h/dir/data1.cab", L"data1.cab"},
      {L"http://h/dir/p.msi?token=a/b#frag", L"p.msi"},
      {L"\\\\srv\\share\\p.msi", L"p.msi"},
      {L"http://h/dir%2Fp.msi", L"dir%2Fp.msi"},  // still encoded: one plain name
      {L"http://h", L""},
      {L"http://h/", L""},
      {L"http://h/dir/..", L""},
      {L"http://h/x/c:evil.msi", L""},
      {L"http://h/x/NUL.msi", L""},
      {L"http://h/x/com1", L""},
      {L"http://h/x/p.msi.", L""},
      {L"http://h/x/p.msi%20?q", L"p.msi%20"},
      {L"http://h/x/p.msi ", L""},
  };
  for (const Row& r : rows) EXPECT_EQ(target_name(r.url), r.name) << r.url;
  EXPECT_EQ(entry_display_name(L"http://h/a\\b/data1.cab"), L"data1.cab");
  EXPECT_EQ(entry_display_name(L"cabs\\data2.cab"), L"data2.cab");
}

TEST(DownloadRules, CabinetSpace) {
  EXPECT_EQ(parse_cabs_size(L"0;3000000"), 3000000u);
  EXPECT_EQ(parse_cabs_size(L"3000000"), 0u);  // no ';': no check
  EXPECT_EQ(parse_cabs_size(L"1;5"), (1ull << 32) + 5);
  EXPECT_EQ(parse_cabs_size(L"99999999999;x"), 0xFFFFFFFFull << 32);
  EXPECT_EQ(parse_cabs_size(L""), 0u);
  EXPECT_TRUE(cabinets_fit(0, 0));
  EXPECT_FALSE(cabinets_fit(2929, 3000000));  // 2999296 bytes are not enough
  EXPECT_FALSE(cabinets_fit(1000, 1024000));  // equal is not enough either
  EXPECT_TRUE(cabinets_fit(1001, 1024000));
  EXPECT_TRUE(cabinets_fit(UINT64_MAX, UINT64_MAX));
  EXPECT_EQ(drive_of(L"C:\\Temp\\x"), L"C:");
  EXPECT_EQ(drive_of(L"\\\\srv\\share\\t"), L"\\\\srv\\share");
}

TEST(DownloadRules, StatusLineAndLog) {
  StatusLine one = status_line(L"p.msi", 0, 1);
  EXPECT_EQ(one.text_id, 1613u);
  EXPECT_FALSE(one.positional);
  StatusLine two = status_line(L"data1.cab", 1, 3);
  EXPECT_EQ(two.text_id, 1671u);
  EXPECT_EQ(two.args, (std::vector<std::wstring>{L"data1.cab", L"2", L"3"}));
  EXPECT_EQ(url_for_log(L"ftp://dom\\user:s3cret@h:21/p.msi"), L"ftp://dom\\user:***@h:21/p.msi");
  EXPECT_EQ(url_for_log(L"http://user@h/p.msi"), L"http://user@h/p.msi");
  EXPECT_EQ(url_for_log(L"http://h/p.msi?a=b:c@d"), L"http://h/p.msi?a=b:c@d");
}

TEST(DownloadRules, WinInetVersionAndCompleteness) {
  const uint32_t old[4] = {4, 70, 0, 1299}, least[4] = {4, 70, 0, 1300}, newer[4] = {4, 71, 0, 0},
                 wine[4] = {8, 0, 0, 0}, older_major[4] = {3, 99, 9, 9999};
  EXPECT_TRUE(wininet_too_old(old));
  EXPECT_FALSE(wininet_too_old(least));
  EXPECT_FALSE(wininet_too_old(newer));
  EXPECT_FALSE(wininet_too_old(wine));
  EXPECT_TRUE(wininet_too_old(older_major));
  EXPECT_TRUE(transfer_complete(100, 100, true));  // all arrived, though the last read failed
  EXPECT_FALSE(transfer_complete(100, 60, false));  // a cut that looked like the end
  EXPECT_FALSE(transfer_complete(100, 160, false));
  EXPECT_TRUE(transfer_complete(-1, 7, false));
  EXPECT_FALSE(transfer_complete(-1, 7, true));
}
