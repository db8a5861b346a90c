// A file written under a temporary name beside its final name and given that name
// only when complete: a failure leaves no file that looks finished (and an older
// one as it was). The temporary file is always created new, so a link planted
// under its name is never written through, and taking the final name replaces
// whatever is there (a link included) instead of writing into it.
#pragma once
#include <cstdint>
#include <vector>

#include "tool.h"

namespace mksetup {

class NewFile {
 public:
  explicit NewFile(const fs::path& final_path);
  ~NewFile();
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  void write(const void* data, size_t size);
  uint64_t tell() const { return position_; }
  void seek(uint64_t position);
  // Last-write and last-access times (FILETIME) of the finished file.
  void set_times(uint64_t write, uint64_t access);
  // Cuts the file at `size`, closes it and gives it the final name.
  void commit(uint64_t size);
  void commit() { commit(end_); }

 private:
  void flush();
  void close_handle();

  fs::path final_, path_;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
  std::vector<uint8_t> buffer_;
  uint64_t position_ = 0, end_ = 0, buffer_at_ = 0;
  uint64_t write_time_ = 0, access_time_ = 0;
  bool committed_ = false;
};

}  // namespace mksetup
