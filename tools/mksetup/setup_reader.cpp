#include "setup_reader.h"

#include <vector>

#include "progress.h"

namespace mksetup {

using namespace qzstream;

OpenedSetup open_setup(const fs::path& setup) {
  OpenedSetup o;
  o.source = std::make_unique<FileSource>(setup);
  o.where = locate_stream(*o.source);
  if (o.where.error) fail(shown(setup) + " is not a Windows PE image");
  if (!o.where.header.valid) fail("no setup stream in " + shown(setup));
  o.directory = read_directory(*o.source, o.where.start, ansi_decoder());
  return o;
}

DecodeResult decode_entry(ByteSource& source, const EntryInfo& e, const MemberWrite& write, Progress* progress) {
  const MemberKeys keys = member_keys(e.type, e.flags, e.stored_size, e.compressed != 0, utf8_encode(e.name),
                                      e.type == 1 ? e.narrow_name : ansi_of(e.name));
  const ScrambleKey whole_key(keys.whole_key);
  uint64_t read_at = e.data_offset, written = 0;
  std::vector<uint8_t> piece;
  return decode_member(
      keys.coding,
      [&](uint8_t* buffer, size_t count) {
        const size_t got = source.read_at(read_at, buffer, count);
        read_at += got;
        if (progress) progress->add_bytes(got);
        return got;
      },
      [&](const uint8_t* data, size_t size) {
        if (keys.whole) {
          piece.assign(data, data + size);
          whole_key.descramble(piece.data(), size, static_cast<size_t>(written));
          data = piece.data();
        }
        written += size;
        return write(data, size);
      },
      {});
}

std::string decode_problem(const DecodeResult& r) {
  switch (r.status) {
    case DecodeStatus::kDone: return {};
    case DecodeStatus::kEndsEarly: return "its stored bytes end early";
    case DecodeStatus::kWriteFailed: return "it could not be written";
    case DecodeStatus::kZlibError: return "damaged compressed data (zlib error " + std::to_string(r.zlib_code) + ")";
    case DecodeStatus::kCancelled: return "cancelled";
  }
  return "unknown failure";
}

}  // namespace mksetup
