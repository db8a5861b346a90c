// portable
// Inputs the INI fuzz targets (tests/fuzz) found, kept as ordinary tests.
#include <gtest/gtest.h>

#include "ini_test_util.h"
#include "package/inifilex.h"

using namespace qz;
using initest::B;
using initest::Hex;

// With keys without values, an entry with an empty key and an empty value (the line
// ":" with separator ":") was saved as an empty line and lost on the next load.
TEST(IniRegressions, EmptyKeyWithoutValueSurvivesSaving) {
  const std::string found("[[\xB0\x04]\n(\x01\n(\x01]\n:", 17);
  inifilex doc;
  ASSERT_TRUE(doc.load_bytes(B(found), L":", true));
  Bytes once, twice;
  ASSERT_EQ(doc.to_bytes(once), 0u);
  inifilex again;
  ASSERT_TRUE(again.load_bytes(once, L":", true));
  EXPECT_TRUE(again.key_exists(L"[\xB0\x04", L""));
  ASSERT_EQ(again.to_bytes(twice), 0u);
  EXPECT_EQ(Hex(once), Hex(twice));
  EXPECT_EQ(std::string(once.begin(), once.end()), "[[\xB0\x04]\r\n(\x01\r\n(\x01]\r\n:\r\n");
}
