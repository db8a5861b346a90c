// Progress of a long operation on the terminal: bytes and members done of the
// whole, one line rewritten in place on standard error at most ten times a second
// and cleared at the end. Nothing at all when standard error is not a terminal,
// so logs and pipes see only the results.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace mksetup {

class Progress {
 public:
  Progress(std::string verb, uint64_t total_bytes, size_t total_members);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void add_bytes(uint64_t bytes);
  void next_member();
  // Clears the line before other output; the next update draws it again.
  void clear();

 private:
  void show(bool force);

  std::string verb_;
  uint64_t total_bytes_, bytes_ = 0;
  size_t total_members_, member_ = 0;
  bool shown_ = false, enabled_;
  size_t width_ = 0;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace mksetup
