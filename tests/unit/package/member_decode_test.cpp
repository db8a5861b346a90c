// portable
#include "package/member_decode.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <numeric>

#include "package/stream_format.h"

using namespace qzstream;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Deflate(const Bytes& in) {
  uLongf n = compressBound(static_cast<uLong>(in.size()));
  Bytes out(n);
  EXPECT_EQ(compress2(out.data(), &n, in.data(), static_cast<uLong>(in.size()), 6), Z_OK);
  out.resize(n);
  return out;
}

struct DecodeRun {
  DecodeResult result;
  Bytes content;
  std::vector<uint32_t> progress;
  size_t at_cancel = 0;  // bytes written when the cancel was answered
};

// Decodes `stored` served at most `read_cap` bytes per read; `cancel_at` stops it at
// that progress report, `refuse_write` at that write.
DecodeRun Decode(const MemberCoding& c, const Bytes& stored, size_t read_cap = SIZE_MAX, int cancel_at = -1,
           int refuse_write = -1) {
  DecodeRun run;
  size_t pos = 0;
  int writes = 0;
  run.result = decode_member(
      c,
      [&](uint8_t* b, size_t n) {
        n = std::min({n, stored.size() - pos, read_cap});
        std::copy_n(stored.data() + pos, n, b);
        pos += n;
        return n;
      },
      [&](const uint8_t* p, size_t n) {
        if (writes++ == refuse_write) return false;
        run.content.insert(run.content.end(), p, p + n);
        return true;
      },
      [&](uint32_t done, uint32_t) {
        run.progress.push_back(done);
        const bool cancel = static_cast<int>(run.progress.size()) - 1 == cancel_at;
        if (cancel) run.at_cancel = run.content.size();
        return cancel;
      });
  return run;
}

Bytes Content(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((i * 7919) >> 3);
  return b;
}

}  // namespace

TEST(MemberDecode, StoredAndCompressedRoundTripsWithTheBlockRule) {
  const Bytes content = Content(5000);
  const ScrambleKey key("setup.msi");
  for (bool compressed : {false, true}) {
    for (bool blocks : {false, true}) {
      for (size_t cap : {SIZE_MAX, size_t(1), size_t(1000)}) {
        Bytes stored = compressed ? Deflate(content) : content;
        if (blocks) key.scramble_blocks(stored.data(), stored.size(), 0);
        MemberCoding c{blocks ? kFlagScrambleBlocks : 0, static_cast<uint32_t>(stored.size()), compressed, "setup.msi"};
        DecodeRun r = Decode(c, stored, cap);
        EXPECT_EQ(r.result.status, DecodeStatus::kDone) << compressed << blocks << cap;
        EXPECT_EQ(r.content, content) << compressed << blocks << cap;
        EXPECT_EQ(r.result.written, content.size());
        ASSERT_FALSE(r.progress.empty());
        EXPECT_EQ(r.progress.back(), stored.size());
      }
    }
  }
}

TEST(MemberDecode, WholeFileScramblingIsLeftToTheCaller) {
  const Bytes content = Content(3000);
  Bytes stored = content;
  ScrambleKey("a.cab").scramble(stored.data(), stored.size());
  DecodeRun r = Decode({kFlagScrambleWhole, static_cast<uint32_t>(stored.size()), false, "a.cab"}, stored);
  EXPECT_EQ(r.result.status, DecodeStatus::kDone);
  EXPECT_EQ(r.content, stored);
}

TEST(MemberDecode, KeysFollowTheStreamTypeCompressionAndFlags) {
  struct Row {
    uint32_t type, flags;
    bool compressed;
    const char* block;
    bool whole;
  } rows[] = {
      {4, kFlagScrambleBlocks, true, "utf8", false},  {3, kFlagScrambleBlocks, true, "utf8", false},
      {2, kFlagScrambleBlocks, true, "ansi", false},  {1, kFlagScrambleBlocks, true, "ansi", false},
      {4, kFlagScrambleBlocks, false, "ansi", false}, {4, 6, false, "ansi", false},
      {4, kFlagScrambleWhole, true, "", true},        {4, kFlagScrambleWhole, false, "", true},
      {4, 0, true, "", false},
  };
  for (const Row& r : rows) {
    MemberKeys k = member_keys(r.type, r.flags, 9, r.compressed, "utf8", "ansi");
    EXPECT_EQ(k.coding.block_key, r.block) << r.type << " " << r.flags << " " << r.compressed;
    EXPECT_EQ(k.whole, r.whole) << r.type << " " << r.flags << " " << r.compressed;
    EXPECT_EQ(k.whole_key, r.whole ? "ansi" : "") << r.type << " " << r.flags;
    EXPECT_EQ(k.coding.stored_size, 9u);
    EXPECT_EQ(k.coding.compressed, r.compressed);
  }
}

TEST(MemberDecode, ShortDamagedCancelledAndRefused) {
  const Bytes content = Content(40000);
  const Bytes packed = Deflate(content);
  // Stored bytes that run out before the stored size.
  DecodeRun r = Decode({0, static_cast<uint32_t>(content.size() + 1), false, ""}, content);
  EXPECT_EQ(r.result.status, DecodeStatus::kEndsEarly);
  EXPECT_EQ(r.content, content);
  r = Decode({0, static_cast<uint32_t>(packed.size() - 5), true, ""}, packed);
  EXPECT_EQ(r.result.status, DecodeStatus::kEndsEarly);
  // Damaged compressed data.
  Bytes bad = packed;
  bad[0] ^= 0xFF;
  r = Decode({0, static_cast<uint32_t>(bad.size()), true, ""}, bad);
  EXPECT_EQ(r.result.status, DecodeStatus::kZlibError);
  EXPECT_EQ(r.result.zlib_code, Z_DATA_ERROR);
  // Cancelling stops a stored member at once, and inflation between two chunks even
  // where one chunk of input inflates to megabytes.
  const Bytes long_content = Content(4 * kCopyChunk);
  r = Decode({0, static_cast<uint32_t>(long_content.size()), false, ""}, long_content, SIZE_MAX, 2);
  EXPECT_EQ(r.result.status, DecodeStatus::kCancelled);
  EXPECT_EQ(r.content.size(), 3 * kCopyChunk);
  const Bytes bomb = Deflate(Bytes(32u << 20, 0));
  for (int cancel_at : {0, 1, 40}) {
    r = Decode({0, static_cast<uint32_t>(bomb.size()), true, ""}, bomb, SIZE_MAX, cancel_at);
    EXPECT_EQ(r.result.status, DecodeStatus::kCancelled) << cancel_at;
    EXPECT_LE(r.content.size() - r.at_cancel, kZlibChunk) << cancel_at;
    EXPECT_LE(r.content.size(), static_cast<size_t>(cancel_at) * kZlibChunk) << cancel_at;
  }
  // A refused write ends the member.
  const Bytes long_packed = Deflate(long_content);
  for (bool compressed : {false, true}) {
    const Bytes& s = compressed ? long_packed : long_content;
    r = Decode({0, static_cast<uint32_t>(s.size()), compressed, ""}, s, SIZE_MAX, -1, 1);
    EXPECT_EQ(r.result.status, DecodeStatus::kWriteFailed);
  }
  // Nothing to read.
  r = Decode({0, 0, false, ""}, {});
  EXPECT_EQ(r.result.status, DecodeStatus::kDone);
  r = Decode({0, 0, true, ""}, {});
  EXPECT_EQ(r.result.status, DecodeStatus::kEndsEarly);
}

TEST(MemberDecode, AReaderClaimingMoreThanAskedCannotOverrun) {
  const Bytes content = Content(3000);
  size_t pos = 0;
  DecodeResult r = decode_member(
      {0, 3000, false, ""},
      [&](uint8_t* b, size_t n) {
        std::copy_n(content.data() + pos, n, b);
        pos += n;
        return n + 4096;  // lies
      },
      [](const uint8_t*, size_t) { return true; }, nullptr);
  EXPECT_EQ(r.status, DecodeStatus::kDone);
  EXPECT_EQ(r.written, 3000u);
}
