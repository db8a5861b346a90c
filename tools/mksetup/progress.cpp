#include "progress.h"

#include <algorithm>
#include <cstdio>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace mksetup {

namespace {

bool stderr_is_terminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

std::string mib(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

}  // namespace

Progress::Progress(std::string verb, uint64_t total_bytes, size_t total_members)
    : verb_(std::move(verb)), total_bytes_(total_bytes), total_members_(total_members), enabled_(stderr_is_terminal()) {}

Progress::~Progress() { clear(); }

void Progress::clear() {
  if (!shown_) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
  std::fflush(stderr);
  shown_ = false;
}

void Progress::add_bytes(uint64_t bytes) {
  bytes_ += bytes;
  show(false);
}

void Progress::next_member() {
  ++member_;
  show(true);
}

void Progress::show(bool force) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (shown_ && !force && now - last_ < std::chrono::milliseconds(100)) return;
  if (shown_ && force && now - last_ < std::chrono::milliseconds(20)) return;
  last_ = now;
  std::string line = verb_ + ": " + mib(bytes_) + " of " + mib(total_bytes_) + " MiB, member " +
                     std::to_string(member_) + " of " + std::to_string(total_members_);
  const size_t width = line.size();
  if (width < width_) line.append(width_ - width, ' ');
  width_ = std::max(width_, width);
  std::fprintf(stderr, "\r%s", line.c_str());
  std::fflush(stderr);
  shown_ = true;
}

}  // namespace mksetup
