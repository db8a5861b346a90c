#include "new_file.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <string>

namespace mksetup {

namespace {

constexpr size_t kBuffer = 1 << 16;
constexpr int kNameAttempts = 100;

std::string system_error() {
#ifdef _WIN32
  return "error " + std::to_string(GetLastError());
#else
  return std::strerror(errno);
#endif
}

}  // namespace

NewFile::NewFile(const fs::path& final_path) : final_(final_path) {
  buffer_.reserve(kBuffer);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    path_ = final_;
    // A name taken (by another pack, or by something planted) is skipped, never opened.
    path_ += ".mksetup-" + std::to_string(attempt) + ".tmp";
#ifdef _WIN32
    HANDLE h = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      handle_ = h;
      return;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
#else
    // O_EXCL also refuses a link of that name, dangling or not.
    fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) return;
    if (errno != EEXIST) break;
#endif
  }
  fail("cannot create a new file beside " + shown(final_) + " (" + shown(path_) + "): " + system_error());
}

NewFile::~NewFile() {
  if (committed_) return;
  close_handle();
  std::error_code ec;
  fs::remove(path_, ec);
}

void NewFile::close_handle() {
#ifdef _WIN32
  if (handle_) CloseHandle(handle_);
  handle_ = nullptr;
#else
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
#endif
}

void NewFile::flush() {
  size_t done = 0;
  while (done < buffer_.size()) {
#ifdef _WIN32
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(buffer_at_ + done);
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(buffer_.size() - done);
    if (!SetFilePointerEx(handle_, at, nullptr, FILE_BEGIN) || !WriteFile(handle_, buffer_.data() + done, want, &n, nullptr) ||
        n == 0)
      fail("cannot write " + shown(path_) + ": " + system_error());
#else
    const ssize_t n = pwrite(fd_, buffer_.data() + done, buffer_.size() - done, static_cast<off_t>(buffer_at_ + done));
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      fail("cannot write " + shown(path_) + ": " + (n < 0 ? system_error() : std::string("nothing written")));
    }
#endif
    done += static_cast<size_t>(n);
  }
  buffer_at_ += buffer_.size();
  buffer_.clear();
}

void NewFile::write(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size) {
    if (buffer_.size() == kBuffer) flush();
    const size_t n = std::min(size, kBuffer - buffer_.size());
    buffer_.insert(buffer_.end(), p, p + n);
    p += n;
    size -= n;
    position_ += n;
  }
  end_ = std::max(end_, position_);
}

void NewFile::seek(uint64_t position) {
  flush();
  position_ = buffer_at_ = position;
}

void NewFile::set_times(uint64_t write, uint64_t access) {
  write_time_ = write;
  access_time_ = access;
}

void NewFile::commit(uint64_t size) {
  flush();
  bool ok;
#ifdef _WIN32
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(size);
  ok = SetFilePointerEx(handle_, at, nullptr, FILE_BEGIN) && SetEndOfFile(handle_);
  if (ok && write_time_) {
    FILETIME w{static_cast<DWORD>(write_time_), static_cast<DWORD>(write_time_ >> 32)};
    FILETIME a{static_cast<DWORD>(access_time_), static_cast<DWORD>(access_time_ >> 32)};
    ok = SetFileTime(handle_, nullptr, access_time_ ? &a : &w, &w);
  }
  ok = ok && CloseHandle(handle_);
  handle_ = nullptr;
  ok = ok && MoveFileExW(path_.c_str(), final_.c_str(), MOVEFILE_REPLACE_EXISTING);
#else
  ok = ftruncate(fd_, static_cast<off_t>(size)) == 0;
  // Times from before 1970 are not kept (as the launcher's file system would not show them).
  if (ok && write_time_ >= kUnixEpochAsFiletime) {
    const uint64_t access = access_time_ >= kUnixEpochAsFiletime ? access_time_ : write_time_;
    auto ts = [](uint64_t ft) {
      const uint64_t t = ft - kUnixEpochAsFiletime;
      struct timespec s;
      s.tv_sec = static_cast<time_t>(t / 10000000ull);
      s.tv_nsec = static_cast<long>(t % 10000000ull * 100);
      return s;
    };
    const struct timespec times[2] = {ts(access), ts(write_time_)};
    ok = futimens(fd_, times) == 0;
  }
  ok = ok && ::close(fd_) == 0;
  fd_ = -1;
  ok = ok && rename(path_.c_str(), final_.c_str()) == 0;
#endif
  if (!ok) fail("cannot write " + shown(final_) + ": " + system_error());
  committed_ = true;
}

}  // namespace mksetup
