// portable
// Turning a member's stored bytes into its content: the block descrambling and the
// zlib inflation, over caller-supplied reads and writes so the rules run over
// memory as well as over the launcher's file (stream.cpp). Whole-file scrambling is
// undone afterwards over the written file (ScrambleKey::descramble at the offset).
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qzstream {

struct MemberCoding {
  uint32_t flags = 0;        // kFlagScrambleBlocks selects the block rule
  uint32_t stored_size = 0;  // bytes the member occupies in the stream
  bool compressed = false;
  std::string block_key;     // key text of the block rule (the member's name as the packer keyed it)
};

// How a member of stream type `type` is read back: the block rule is keyed with the
// UTF-8 name for a compressed member of type 3 or 4 and with the ANSI name
// otherwise; whole-file scrambling (flag 2 without 4), which the caller undoes over
// the decoded content, is keyed with the ANSI name. `ansi_name` is the name in the
// ANSI code page of the reading thread (type 1: the name as stored).
struct MemberKeys {
  MemberCoding coding;
  bool whole = false;
  std::string whole_key;
};
MemberKeys member_keys(uint32_t type, uint32_t flags, uint32_t stored_size, bool compressed,
                       std::string_view utf8_name, std::string_view ansi_name);

// Next stored bytes in order: the count read, 0 at the end of the data or on failure.
using MemberRead = std::function<size_t(uint8_t* buffer, size_t count)>;
// Writes decoded bytes; false when they could not all be written.
using MemberWrite = std::function<bool(const uint8_t* data, size_t size)>;
// Stored bytes consumed so far of the total; answering true cancels the member. It
// is asked after every chunk read and, for a compressed member, also after every
// chunk written, so at most one chunk is written after the answer.
using MemberProgress = std::function<bool(uint32_t done, uint32_t total)>;

enum class DecodeStatus {
  kDone,         // every stored byte copied, or the compressed data ended properly
  kEndsEarly,    // the stored bytes ran out (or a read failed) first
  kCancelled,    // the progress callback asked to stop
  kWriteFailed,  // the write callback refused
  kZlibError,    // damaged compressed data (zlib_code says which error)
};

struct DecodeResult {
  DecodeStatus status = DecodeStatus::kEndsEarly;
  int zlib_code = 0;
  uint64_t written = 0;  // decoded bytes handed to `write`
};

// Reads at most stored_size bytes in chunks of kCopyChunk (stored) or kZlibChunk
// (compressed), descrambles them by the block rule when flagged and writes the
// content. `progress` may be empty.
DecodeResult decode_member(const MemberCoding& coding, const MemberRead& read, const MemberWrite& write,
                           const MemberProgress& progress);

}  // namespace qzstream
