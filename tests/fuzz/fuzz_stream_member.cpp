// A member's stored bytes through decode_member (block descrambling, inflation) and
// the whole-file descrambling after it. The first byte holds the flags: bit 0
// compressed, bit 1 whole-file scrambling, bit 2 block scrambling, bit 3 a round
// trip (the payload is packed as mksetup packs it, then decoded and compared),
// bits 4-5 how short the reads are, bit 6 a stored size past the data. The second
// byte is the length of the key text that follows; the rest is the payload.
#include <zlib.h>

#include "fuzz_input.h"
#include "package/member_decode.h"
#include "package/stream_format.h"

using namespace qzstream;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t mode = data[0];
  const size_t key_len = std::min<size_t>(data[1], size - 2);
  const std::string key_text(reinterpret_cast<const char*>(data + 2), key_len);
  std::vector<uint8_t> payload(data + 2 + key_len, data + size);
  const bool compressed = mode & 1, round_trip = mode & 8;
  const uint32_t flags = (mode & 2 ? kFlagScrambleWhole : 0) | (mode & 4 ? kFlagScrambleBlocks : 0);
  const bool blocks = flags & kFlagScrambleBlocks, whole = (flags & kFlagScrambleWhole) && !blocks;
  const ScrambleKey key(key_text);

  std::vector<uint8_t> stored = payload;
  if (round_trip) {
    // As the packer writes a member: whole-file scrambling of the content, then
    // deflation, then the block rule over the stored bytes.
    if (whole) key.scramble(stored.data(), stored.size());
    if (compressed) {
      uLongf n = compressBound(static_cast<uLong>(stored.size()));
      std::vector<uint8_t> packed(n);
      FUZZ_CHECK(compress2(packed.data(), &n, stored.data(), static_cast<uLong>(stored.size()), 6) == Z_OK);
      packed.resize(n);
      stored.swap(packed);
    }
    if (blocks) key.scramble_blocks(stored.data(), stored.size(), 0);
  }

  MemberCoding coding;
  coding.flags = flags;
  coding.compressed = compressed;
  coding.block_key = key_text;
  coding.stored_size = static_cast<uint32_t>(stored.size()) + (mode & 64 ? 17 : 0);

  size_t pos = 0;
  const size_t short_read = (mode >> 4) & 3;  // 0: as asked; else at most 1, 7 or 333 bytes
  static const size_t kShort[] = {0, 1, 7, 333};
  auto read = [&](uint8_t* buffer, size_t count) -> size_t {
    size_t n = std::min(count, stored.size() - pos);
    if (short_read) n = std::min(n, kShort[short_read]);
    std::copy_n(stored.data() + pos, n, buffer);
    pos += n;
    return n;
  };
  std::vector<uint8_t> content;
  const size_t kKeep = 1u << 22;  // a member may inflate far beyond its stored size
  auto write = [&](const uint8_t* p, size_t n) {
    FUZZ_CHECK(n > 0);
    if (content.size() < kKeep) content.insert(content.end(), p, p + std::min(n, kKeep - content.size()));
    return true;
  };
  uint32_t last = 0;
  auto progress = [&](uint32_t done, uint32_t total) {
    FUZZ_CHECK(done <= total && done >= last);
    last = done;
    return false;
  };
  DecodeResult r = decode_member(coding, read, write, progress);
  FUZZ_CHECK(pos <= stored.size());
  if (whole && r.status == DecodeStatus::kDone) {
    // As the launcher does on the way out: each byte at its offset in the content.
    const size_t window = 4096;
    for (size_t off = 0; off < content.size(); off += window)
      key.descramble(content.data() + off, std::min(window, content.size() - off), off);
  }
  if (!compressed) {
    FUZZ_CHECK(r.written == std::min<uint64_t>(stored.size(), coding.stored_size));
    FUZZ_CHECK(r.status == (mode & 64 ? DecodeStatus::kEndsEarly : DecodeStatus::kDone));
  }
  if (round_trip && !(mode & 64)) {
    FUZZ_CHECK(r.status == DecodeStatus::kDone);
    FUZZ_CHECK(content == payload);
  }
  // Refused writes and cancellation stop at once.
  pos = 0;
  int calls = 0;
  r = decode_member(coding, read, [&](const uint8_t*, size_t) { return ++calls, false; }, nullptr);
  FUZZ_CHECK(calls <= 1);
  if (calls) FUZZ_CHECK(r.status == DecodeStatus::kWriteFailed);
  return 0;
}
