// The setup stream's header and member directory, and where a launcher file's stream
// starts (the PE image-end rule). The input is a whole launcher file or a bare
// stream: the directory is read at the located start and at offset 0.
#include "fuzz_input.h"
#include "package/stream_format.h"

using namespace qzstream;

namespace {

void check_directory(const Directory& dir, uint64_t file_size) {
  if (!dir.header.valid) FUZZ_CHECK(dir.entries.empty());
  FUZZ_CHECK(dir.entries.size() <= dir.header.count);
  for (const EntryInfo& e : dir.entries) {
    FUZZ_CHECK(static_cast<uint64_t>(e.data_offset) + e.stored_size <= file_size);
    (void)is_safe_member_name(e.name);
    (void)utf8_encode(e.name);
    (void)utf16le_encode(e.name);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemorySource source(data, size);
  (void)parse_header(data, size);
  uint32_t error = 0;
  const uint32_t plain = pe_stream_start(source, false, &error);
  FUZZ_CHECK(error == 0 || plain == 0);
  const uint32_t signed_start = pe_stream_start(source, true);
  // 0: the certificate table would put the start beyond the 32-bit range.
  if (error == 0) FUZZ_CHECK(signed_start == 0 || signed_start >= plain);

  Located where = locate_stream(source);
  if (where.error == 0) check_directory(read_directory(source, where.start), size);
  check_directory(read_directory(source, 0), size);
  return 0;
}
