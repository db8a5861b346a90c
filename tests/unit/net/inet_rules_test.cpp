// portable
#include "net/inet_rules.h"

#include <gtest/gtest.h>

using namespace qz::inet;

TEST(InetRules, AddressesAndHeadersThatAreRefused) {
  EXPECT_EQ(check_url(L"http://h/a b?c"), 0u);
  EXPECT_EQ(check_url(std::wstring(kMaxUrlChars, L'a')), 0u);
  EXPECT_EQ(check_url(std::wstring(kMaxUrlChars + 1, L'a')), kErrorInvalidUrl);
  EXPECT_EQ(check_url(L""), kErrorInvalidUrl);
  EXPECT_EQ(check_url(L"http://h/x\r\nX-Evil: 1"), kErrorInvalidUrl);
  EXPECT_EQ(check_url(std::wstring(L"http://h/\0x", 11)), kErrorInvalidUrl);
  EXPECT_EQ(check_headers(L"Referer: a\r\nX: b\tc"), 0u);
  EXPECT_EQ(check_headers(L"Referer: a\nX: b"), kErrorInvalidParameter);
  EXPECT_EQ(check_headers(L"Referer: a\r"), kErrorInvalidParameter);
  EXPECT_EQ(check_headers(std::wstring(kMaxHeaderChars + 1, L'a')), kErrorInvalidParameter);
}

TEST(InetRules, StatusErrorsAndRangeHeader) {
  EXPECT_EQ(http_status_error(200), 0u);
  EXPECT_EQ(http_status_error(206), 0u);
  EXPECT_EQ(http_status_error(404), 0x8004D554u);
  EXPECT_EQ(http_status_error(500), 0x8004D5B4u);
  EXPECT_EQ(http_status_error(199), 0x8004D487u);
  EXPECT_EQ(request_headers(0, L"Referer: x"), L"Referer: x");
  EXPECT_EQ(request_headers(5, L""), L"Range: bytes=5-");
  // Offsets past 4 GiB keep every digit.
  EXPECT_EQ(request_headers(0x123456789ull, L"Referer: x"), L"Range: bytes=4886718345-\r\nReferer: x");
}

TEST(InetRules, UserInformationSlashes) {
  // Canonicalising turned the user's backslash into a slash: it comes back.
  EXPECT_EQ(user_info_backslashes(L"ftp://dom\\user:pw@h/a/b", L"ftp://dom/user:pw@h/a/b"), L"ftp://dom\\user:pw@h/a/b");
  // An "@" after the third slash is part of the path.
  EXPECT_EQ(user_info_backslashes(L"http://h/a@b/c", L"http://h/a@b/c"), L"http://h/a@b/c");
  EXPECT_EQ(user_info_backslashes(L"http://u@h/a", L"http://u@h/a"), L"http://u@h/a");
}

TEST(InetRules, StatusLines) {
  EXPECT_TRUE(status_line_valid(L"HTTP/1.1 200 OK"));
  EXPECT_TRUE(status_line_valid(L"HTTP/1.0 404"));
  EXPECT_FALSE(status_line_valid(L"HTTP/1.1 20 OK"));
  EXPECT_FALSE(status_line_valid(L"GARBAGE"));
  EXPECT_FALSE(status_line_valid(L"HTTP/1.1 2000"));
  EXPECT_FALSE(status_line_valid(L""));
  EXPECT_TRUE(answer_headers_valid(L"HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n"));
  EXPECT_FALSE(answer_headers_valid(L"HTTP/1.0 200 OK\r\n\r\n"));  // made up for a headerless answer
  EXPECT_FALSE(answer_headers_valid(L"GARBAGE\r\nX: y\r\n\r\n"));
  EXPECT_FALSE(answer_headers_valid(L""));
}

TEST(InetRules, ContentRanges) {
  ContentRange r;
  ASSERT_TRUE(parse_content_range(L"bytes 100-199/1000", &r));
  EXPECT_EQ(r.first, 100u);
  EXPECT_EQ(r.last, 199u);
  EXPECT_EQ(r.total, 1000u);
  ASSERT_TRUE(parse_content_range(L"bytes 5000000000-5000000009/*", &r));
  EXPECT_EQ(r.first, 5000000000ull);
  EXPECT_FALSE(r.total_known);
  for (const wchar_t* bad : {L"bytes 10-5/100", L"bytes 0-100/100", L"bytes 1-2", L"items 1-2/3", L"bytes -2/3",
                             L"bytes 1-2/3x", L"bytes 99999999999999999999-1/2", L"bytes1-2/3"})
    EXPECT_FALSE(parse_content_range(bad, &r)) << bad;
}

TEST(InetRules, JudgingAnswersToResumedRequests) {
  auto part = [](uint64_t first, uint64_t last, uint64_t total) {
    Answer a;
    a.status = 206;
    a.has_range = true;
    a.range = {first, last, total, true};
    a.has_length = true;
    a.length = last - first + 1;
    return a;
  };
  Answer whole;
  whole.has_length = true;
  whole.length = 1000;
  struct Case {
    uint64_t offset, expected;
    Answer answer;
    Resume verdict;
  } cases[] = {
      {0, 0, whole, Resume::kAppend},
      {400, 1000, part(400, 999, 1000), Resume::kAppend},
      {400, 1000, whole, Resume::kRestart},       // the server ignored the range
      {400, 1000, part(0, 999, 1000), Resume::kMismatch},
      {400, 1000, part(400, 1999, 2000), Resume::kMismatch},  // another file now
      {400, 0, part(400, 999, 1000), Resume::kAppend},
  };
  for (const Case& c : cases) EXPECT_EQ(judge_answer(c.offset, c.expected, c.answer), c.verdict) << c.offset;
  Answer no_range;
  no_range.status = 206;
  EXPECT_EQ(judge_answer(400, 1000, no_range), Resume::kMismatch);
  Answer short_body = part(400, 999, 1000);
  short_body.length = 10;
  EXPECT_EQ(judge_answer(400, 1000, short_body), Resume::kMismatch);
  EXPECT_EQ(announced_total(part(400, 999, 1000)), 1000u);
  EXPECT_EQ(announced_total(Answer{}), 0u);
}

TEST(InetRules, PieceSizeFollowsTheMeasuredRate) {
  TransferStats s;
  EXPECT_EQ(s.piece(100000), TransferStats::kFirstPiece);
  EXPECT_EQ(s.piece(700), 700u);
  // 10 s are not yet "more than 10 s".
  s.add(1000000, 10000, 10000);
  EXPECT_EQ(s.piece(1u << 30), TransferStats::kFirstPiece);
  s.add(100000, 1000, 11000);  // 1.1 MB in 11 s: 100 KB/s
  EXPECT_EQ(s.rate(), 100000u);
  EXPECT_EQ(s.piece(1u << 30), 1500000u);
  EXPECT_EQ(s.piece(4096), 4096u);
  // A slow start is forgotten once the window moves on.
  s.add(10000000, 1000, 40000);
  s.add(10000000, 1000, 41000);
  EXPECT_EQ(s.rate(), 10000000u);
  // Huge counts are halved, not overflowed; an empty piece of no time counts as 5 ms.
  s.add(UINT64_MAX / 2000, 0, 41000);
  EXPECT_GT(s.rate(), 0u);
  EXPECT_GE(s.piece(1), 1u);
}

TEST(InetRules, FastLinkLeavesTheFirstPieceSoon) {
  // Pieces that come back at once (0 ms counts as 5) end the first-piece phase
  // after kWarmPieces of them, long before 10 s of measured time.
  TransferStats s;
  for (uint64_t i = 1; i < TransferStats::kWarmPieces; ++i) s.add(TransferStats::kFirstPiece, 0, i);
  EXPECT_EQ(s.piece(65536), TransferStats::kFirstPiece);
  s.add(TransferStats::kFirstPiece, 0, 100);
  EXPECT_EQ(s.rate(), 300000u);
  EXPECT_EQ(s.piece(65536), 65536u);
  EXPECT_EQ(s.piece(1u << 30), 4500000u);
}

TEST(InetRules, DialogOnlyForWhatItOffers) {
  EXPECT_TRUE(dialog_error(12045));                    // unknown certificate authority
  EXPECT_TRUE(dialog_error(http_status_error(407)));   // proxy password
  EXPECT_FALSE(dialog_error(http_status_error(404)));
  EXPECT_FALSE(dialog_error(kErrorTimeout));
}
