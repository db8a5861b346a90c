// portable
#include "package/qzfile.h"

#include <algorithm>
#include <cstring>

#include "support/support_rules.h"

namespace qz {

namespace {
InternetFileReader g_internet_reader = nullptr;
}

void set_internet_file_reader(InternetFileReader reader) { g_internet_reader = reader; }

file::~file() {
  if (handle_) close_local();  // a destructor cannot report; close() does
}

uint32_t file::open(const std::wstring& path, uint32_t access, uint32_t share, uint32_t creation) {
  if (is_open()) close();
  path_ = path;
  code_page_ = kCodePageAnsi;
  bom_ = false;
  if (rules::is_internet_address(path)) {
    if (!g_internet_reader) return kErrorNotSupported;  // no transport in this program
    Bytes body;
    uint32_t err = g_internet_reader(path, body);
    if (err) return err;
    memory_ = std::move(body);
    memory_pos_ = 0;
    in_memory_ = true;
    return 0;
  }
  uint32_t err = open_local(access, share, creation);
  if (err) return err;
  if (access & kFileRead) detect();  // a write-only handle cannot be read
  return 0;
}

void file::open_memory(Bytes bytes, std::wstring name) {
  if (is_open()) close();
  path_ = std::move(name);
  memory_ = std::move(bytes);
  memory_pos_ = 0;
  in_memory_ = true;
  detect();
}

void file::detect() {
  // Only the first three bytes matter; a short file simply has no mark.
  uint8_t head[3] = {0, 0, 0};
  seek(0);
  size_t got = 0;
  while (got < sizeof head) {
    size_t n = read(head + got, sizeof head - got);
    if (n == 0) break;
    got += n;
  }
  DetectedEncoding e = detect_encoding(ByteView(head, got));
  code_page_ = e.code_page;
  bom_ = e.bom_size != 0;
  seek(0);
}

void file::close() {
  if (in_memory_) {
    in_memory_ = false;
    memory_.clear();
    memory_.shrink_to_fit();
    return;
  }
  if (!handle_) return;
  uint32_t err = close_local();
  if (err) fail(err);
}

uint64_t file::size() {
  if (in_memory_) return memory_.size();
  if (!handle_) fail(6);  // ERROR_INVALID_HANDLE
  return size_local();
}

void file::seek(uint64_t offset) {
  if (in_memory_) {
    memory_pos_ = static_cast<size_t>(std::min<uint64_t>(offset, memory_.size()));
    return;
  }
  if (!handle_) fail(6);
  seek_local(offset);
}

size_t file::read(void* buffer, size_t bytes) {
  if (in_memory_) {
    size_t n = std::min(bytes, memory_.size() - memory_pos_);
    if (n) std::memcpy(buffer, memory_.data() + memory_pos_, n);
    memory_pos_ += n;
    return n;
  }
  if (!handle_) fail(6);
  return read_local(buffer, bytes);
}

void file::write(const void* data, size_t bytes) {
  if (in_memory_) fail(kErrorAccessDenied);
  if (!handle_) fail(6);
  if (bytes) write_local(data, bytes);
}

Bytes file::read_all() {
  uint64_t total = size();
  if (total > kMaxTextFileBytes) fail(kErrorFileTooLarge);
  seek(0);
  Bytes out(static_cast<size_t>(total));
  size_t got = 0;
  while (got < out.size()) {
    size_t n = read(out.data() + got, out.size() - got);
    if (n == 0) break;  // the file shrank meanwhile: keep what is there
    got += n;
  }
  out.resize(got);
  return out;
}

std::wstring file::read_text() {
  Bytes all = read_all();
  size_t skip = std::min(bom_size(code_page_, bom_), all.size());
  return decode_text(ByteView(all).subspan(skip), code_page_, system_ansi_decode);
}

void file::write_text(std::wstring_view text, int32_t code_page, bool has_bom) {
  Bytes bytes;
  uint32_t err = encode_text(text, code_page, has_bom, system_ansi_encode, bytes);
  if (err) fail(err);
  write(bytes.data(), bytes.size());
}

}  // namespace qz
