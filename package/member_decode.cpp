// portable
#include "package/member_decode.h"

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "package/stream_format.h"

namespace qzstream {

namespace {

DecodeResult copy_member(const MemberCoding& c, const ScrambleKey& key, const MemberRead& read,
                         const MemberWrite& write, const MemberProgress& progress) {
  DecodeResult r;
  const bool blocks = (c.flags & kFlagScrambleBlocks) != 0;
  std::vector<uint8_t> chunk(kCopyChunk);
  uint8_t* const buf = chunk.data();
  uint32_t total = 0;
  while (total < c.stored_size) {
    const size_t want = std::min<uint32_t>(kCopyChunk, c.stored_size - total);
    // A reader that claims more than was asked for cannot overrun the buffer.
    const size_t got = std::min(read(buf, want), want);
    if (got == 0) break;
    if (blocks) key.descramble_blocks(buf, got, total);
    if (!write(buf, got)) {
      r.status = DecodeStatus::kWriteFailed;
      return r;
    }
    r.written += got;
    total += static_cast<uint32_t>(got);
    if (progress && progress(total, c.stored_size)) {
      r.status = DecodeStatus::kCancelled;
      return r;
    }
  }
  // A copy that ended early would leave a short file that looks complete.
  r.status = total == c.stored_size ? DecodeStatus::kDone : DecodeStatus::kEndsEarly;
  return r;
}

DecodeResult inflate_member(const MemberCoding& c, const ScrambleKey& key, const MemberRead& read,
                            const MemberWrite& write, const MemberProgress& progress) {
  DecodeResult r;
  const bool blocks = (c.flags & kFlagScrambleBlocks) != 0;
  z_stream z{};
  int rc = inflateInit2(&z, 15);
  if (rc != Z_OK) {
    r.status = DecodeStatus::kZlibError;
    r.zlib_code = rc;
    return r;
  }
  std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&z, inflateEnd);
  std::vector<uint8_t> in(kZlibChunk), out(kZlibChunk);
  uint32_t read_total = 0;
  while (read_total < c.stored_size) {
    const size_t want = std::min<uint32_t>(kZlibChunk, c.stored_size - read_total);
    const size_t got = std::min(read(in.data(), want), want);
    if (got == 0) break;
    if (blocks) key.descramble_blocks(in.data(), got, read_total);
    read_total += static_cast<uint32_t>(got);
    // A chunk of input may inflate to a thousand times its size: a cancel is seen
    // after every chunk read and every chunk written.
    const auto cancelled = [&] { return progress && progress(std::min(read_total, c.stored_size), c.stored_size); };
    if (cancelled()) {
      r.status = DecodeStatus::kCancelled;
      return r;
    }
    z.next_in = in.data();
    z.avail_in = static_cast<uInt>(got);
    while (z.avail_in > 0 || z.avail_out == 0) {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      rc = inflate(&z, Z_NO_FLUSH);
      if (rc == Z_NEED_DICT || rc == Z_DATA_ERROR || rc == Z_MEM_ERROR || rc == Z_STREAM_ERROR) {
        r.status = DecodeStatus::kZlibError;
        r.zlib_code = rc;
        return r;
      }
      const size_t produced = out.size() - z.avail_out;
      if (produced && !write(out.data(), produced)) {
        r.status = DecodeStatus::kWriteFailed;
        return r;
      }
      r.written += produced;
      if (rc == Z_STREAM_END) {
        r.status = DecodeStatus::kDone;
        return r;
      }
      if (produced && cancelled()) {
        r.status = DecodeStatus::kCancelled;
        return r;
      }
      if (rc == Z_BUF_ERROR) break;  // needs more input
    }
  }
  r.status = DecodeStatus::kEndsEarly;
  return r;
}

}  // namespace

MemberKeys member_keys(uint32_t type, uint32_t flags, uint32_t stored_size, bool compressed,
                       std::string_view utf8_name, std::string_view ansi_name) {
  MemberKeys k;
  k.coding.flags = flags;
  k.coding.stored_size = stored_size;
  k.coding.compressed = compressed;
  if (flags & kFlagScrambleBlocks) {
    k.coding.block_key = compressed && type >= 3 ? utf8_name : ansi_name;
  } else if (flags & kFlagScrambleWhole) {
    k.whole = true;
    k.whole_key = ansi_name;
  }
  return k;
}

DecodeResult decode_member(const MemberCoding& coding, const MemberRead& read, const MemberWrite& write,
                           const MemberProgress& progress) {
  const bool blocks = (coding.flags & kFlagScrambleBlocks) != 0;
  ScrambleKey key(blocks ? coding.block_key : std::string());
  return coding.compressed ? inflate_member(coding, key, read, write, progress)
                           : copy_member(coding, key, read, write, progress);
}

}  // namespace qzstream
