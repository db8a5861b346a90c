// portable
// qz::file over stdio for the native build (tests and fuzzing); the Windows build
// uses qzfile_win.cpp. Sharing modes have no meaning here and are ignored.
#ifndef _WIN32
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "package/file_exception.h"
#include "package/qzfile.h"

namespace qz {
namespace {

uint32_t from_errno(int e) {
  switch (e) {
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return 3;  // ERROR_PATH_NOT_FOUND
    case EACCES:
    case EPERM:
    case EISDIR: return kErrorAccessDenied;
    case EEXIST: return 80;  // ERROR_FILE_EXISTS
    case ENOSPC: return 112;  // ERROR_DISK_FULL
    default: return 31;  // ERROR_GEN_FAILURE
  }
}

FILE* handle(void* h) { return static_cast<FILE*>(h); }

}  // namespace

[[noreturn]] void throw_file_error(uint32_t code, const std::wstring& path) { throw file_exception(code, path); }

uint32_t caught_file_error() {
  try {
    throw;
  } catch (const file_exception& e) {
    return e.code() ? static_cast<uint32_t>(e.code()) : 31;
  } catch (...) {
    return 0;
  }
}

std::wstring system_ansi_decode(ByteView bytes, uint32_t code_page) { return latin1_decode(bytes, code_page); }

uint32_t system_ansi_encode(std::wstring_view text, uint32_t code_page, Bytes& out) {
  return latin1_encode(text, code_page, out);
}

uint32_t file::open_local(uint32_t access, uint32_t, uint32_t creation) {
  std::string name = to_utf8(path_);
  struct stat st;
  bool exists = ::stat(name.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return kErrorAccessDenied;
  bool writing = (access & kFileWrite) != 0, reading = (access & kFileRead) != 0;
  const char* mode = nullptr;
  switch (creation) {
    case kOpenExisting:
      if (!exists) return kErrorFileNotFound;
      mode = writing ? "r+b" : "rb";
      break;
    case kCreateAlways: mode = reading ? "w+b" : "wb"; break;
    case kCreateNew:
      if (exists) return 80;
      mode = reading ? "w+b" : "wb";
      break;
    case kOpenAlways: mode = exists ? (writing ? "r+b" : "rb") : "w+b"; break;
    case kTruncateExisting:
      if (!exists) return kErrorFileNotFound;
      mode = reading ? "w+b" : "wb";
      break;
    default: return 87;  // ERROR_INVALID_PARAMETER
  }
  errno = 0;
  FILE* f = std::fopen(name.c_str(), mode);
  if (!f) return from_errno(errno);
  handle_ = f;
  return 0;
}

uint32_t file::close_local() {
  FILE* f = handle(handle_);
  handle_ = nullptr;
  return std::fclose(f) == 0 ? 0 : from_errno(errno);
}

uint64_t file::size_local() {
  struct stat st;
  if (::fstat(fileno(handle(handle_)), &st) != 0) fail(from_errno(errno));
  return static_cast<uint64_t>(st.st_size);
}

void file::seek_local(uint64_t offset) {
  if (fseeko(handle(handle_), static_cast<off_t>(offset), SEEK_SET) != 0) fail(from_errno(errno));
}

size_t file::read_local(void* buffer, size_t bytes) {
  size_t n = std::fread(buffer, 1, bytes, handle(handle_));
  if (n == 0 && std::ferror(handle(handle_))) fail(from_errno(errno));
  return n;
}

void file::write_local(const void* data, size_t bytes) {
  if (std::fwrite(data, 1, bytes, handle(handle_)) != bytes || std::fflush(handle(handle_)) != 0)
    fail(from_errno(errno));
}

}  // namespace qz
#endif
