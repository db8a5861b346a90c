// portable
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "package/positional_text.h"
#include "package/ProgressCalculator.h"
#include "ui/password_digest.h"

using lang::fill_positional;
using lang::fill_printf_style;

TEST(PositionalText, Placeholders) {
  std::vector<std::wstring> nine = {L"a", L"b", L"c", L"d", L"e", L"f", L"g", L"h", L"i"};
  std::vector<std::wstring> many(35);
  for (size_t i = 0; i < many.size(); ++i) many[i] = L"<" + std::to_wstring(i + 1) + L">";
  struct Row {
    const wchar_t* pattern;
    const std::vector<std::wstring>* args;
    const wchar_t* want;
  } rows[] = {
      {L"%2 then %1", &nine, L"b then a"},
      {L"%9%1", &nine, L"ia"},
      {L"%A", &nine, L"?"},  // argument 10 is not there
      {L"%A %Z", &many, L"<10> <35>"},
      {L"100%", &nine, L"100%"},           // trailing percent stays
      {L"%0 %a %% %s", &nine, L"%0 %a %% %s"},  // not placeholders
      {L"%d of %d", &nine, L"%d of %d"},    // printf markers are left alone
      {L"", &nine, L""},
  };
  for (const auto& r : rows) EXPECT_EQ(fill_positional(r.pattern, *r.args), r.want) << r.pattern;
  EXPECT_EQ(fill_positional(L"[%1][%2][%3]", {L"x", L""}), L"[x][][?]");
}

TEST(PositionalText, PrintfStyleTakesOnlyPassedArguments) {
  struct Row {
    const wchar_t* pattern;
    std::vector<std::wstring> args;
    const wchar_t* want;
  } rows[] = {
      {L"Error extracting %s to the temporary location", {L"Setup.ini"},
       L"Error extracting Setup.ini to the temporary location"},
      {L"Setup needs %lu KB free disk space in %s.", {L"12", L"C:\\"}, L"Setup needs 12 KB free disk space in C:\\."},
      {L"%s %s %s %n %x", {L"one"}, L"one   %n %x"},  // extra markers read nothing
      {L"100%% done %ls", {L"!"}, L"100% done !"},
      {L"trailing %", {}, L"trailing %"},
  };
  for (const auto& r : rows) EXPECT_EQ(fill_printf_style(r.pattern, r.args), r.want) << r.pattern;
}

TEST(PasswordDigest, KnownVectors) {
  // CRCs and digests computed independently with Python's zlib.crc32.
  struct Row {
    const char* bytes;
    uint32_t crc;
    uint32_t digest;
  } rows[] = {
      {"", 0x00000000u, 1532713819u},        {"a", 0xe8b7be43u, 3678815070u},
      {"secret", 0x5ca2e8e5u, 1531999068u},  {"123456789", 0xcbf43926u, 1531079514u},
      {"Passw0rd!", 0x79788699u, 1532269407u}, {"\xe9t\xe9", 0xcbf7d413u, 3678585693u},
  };
  for (const auto& r : rows) {
    auto* p = reinterpret_cast<const uint8_t*>(r.bytes);
    size_t n = std::strlen(r.bytes);
    EXPECT_EQ(ui::crc32(p, n), r.crc) << r.bytes;
    EXPECT_EQ(ui::password_digest(p, n), r.digest) << r.bytes;
  }
  std::string x99(99, 'x');
  EXPECT_EQ(ui::password_digest(reinterpret_cast<const uint8_t*>(x99.data()), x99.size()), 1530948444u);
}

TEST(PasswordDigest, StoredTextComparesExactly) {
  EXPECT_TRUE(ui::digest_matches(L"1531999068", 1531999068u));
  EXPECT_FALSE(ui::digest_matches(L" 1531999068", 1531999068u));
  EXPECT_FALSE(ui::digest_matches(L"01531999068", 1531999068u));
  EXPECT_FALSE(ui::digest_matches(L"", 0u));
  EXPECT_EQ(ui::digest_text(4294967295u), L"4294967295");  // unsigned, never negative
}

namespace {

uint32_t g_now = 0;
uint32_t fake_clock() { return g_now; }

ProgressCalculator make_calculator() {
  ProgressTexts t{L"hr ", L"min ", L"sec", L"Estimated time remaining: ", L"KB", L"MB", L"%1 of %2 %4 at %3 %4/sec"};
  return ProgressCalculator(t, &fake_clock);
}

}  // namespace

TEST(ProgressCalculator, UpdateRateAndTimeLeft) {
  struct Row {
    uint32_t start_tick, now, total, current;
    int percent;
    uint32_t rate, left;
  } rows[] = {
      {1000, 2000, 10000, 5000, 50, 0, 0},          // first second: no rate yet
      {1000, 3000, 10000, 5000, 50, 2500, 2},       // 2 s elapsed
      {1000, 3999, 10000, 3000, 30, 1500, 4},       // elapsed 2999 ms counts as 2 s
      {0, 5000, 99, 50, 0, 10, 4},                  // total below 100 bytes: 0 percent
      {0xFFFFF000u, 0x00000BB8u, 10000, 7000, 70, 1000, 3},  // tick count wrapped
      {0, 2000, 1000, 0, 0, 0, 0},                  // nothing yet: rate 0, no time
      {0, 2000, 1000, 1500, 150, 750, 0},           // more than announced: nothing left
  };
  for (const auto& r : rows) {
    ProgressCalculator c = make_calculator();
    g_now = r.start_tick;
    c.start(r.total);
    g_now = r.now;
    int percent = -1;
    uint32_t rate = 1, left = 1;
    c.update(r.current, &percent, &rate, &left);
    EXPECT_EQ(percent, r.percent) << r.current;
    EXPECT_EQ(rate, r.rate) << r.current;
    EXPECT_EQ(left, r.left) << r.current;
  }
}

TEST(ProgressCalculator, RemainingText) {
  ProgressCalculator c = make_calculator();
  const std::wstring p = L"Estimated time remaining:  ";
  EXPECT_EQ(c.remaining_text(0), p + L"0 sec");
  EXPECT_EQ(c.remaining_text(59), p + L"59 sec");
  EXPECT_EQ(c.remaining_text(60), p + L"1 min 0 sec");
  EXPECT_EQ(c.remaining_text(3600), p + L"1 hr 0 sec");
  EXPECT_EQ(c.remaining_text(3725), p + L"1 hr 2 min 5 sec");
  EXPECT_EQ(c.remaining_text(90061), p + L"25 hr 1 min 1 sec");
}

TEST(ProgressCalculator, TransferText) {
  ProgressCalculator c = make_calculator();
  g_now = 0;
  c.start(10 * 1048576);
  EXPECT_EQ(c.transfer_text(0, 5000, 0), L"");
  EXPECT_EQ(c.transfer_text(1048576, 2048, 4096), L"2 of 4 KB at 1024.0 KB/sec");  // exactly 1 MB/s: still KB
  EXPECT_EQ(c.transfer_text(1048577, 3 * 1048576, 0), L"3 of 10 MB at 1.0 MB/sec");  // 0: the started total
  EXPECT_EQ(c.transfer_text(1536, 1023, 0), L"0 of 10240 KB at 1.5 KB/sec");
  // The program's own text has printf markers: they take the figures in order.
  ProgressCalculator d(ProgressTexts{L"", L"", L"", L"", L"KB", L"MB", L"%d %s of %d %s downloaded at %s %s/sec"},
                       &fake_clock);
  EXPECT_EQ(d.transfer_text(1536, 4096, 8192), L"4 KB of 8 KB downloaded at 1.5 KB/sec");
}
