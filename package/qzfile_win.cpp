// qz::file over the Windows file API, and the system code-page conversion.
#include <windows.h>

#include <climits>

#include "package/file_exception.h"
#include "package/qzfile.h"

namespace qz {
namespace {

HANDLE handle(void* h) { return static_cast<HANDLE>(h); }

// Large requests are cut into pieces the DWORD-sized calls accept.
constexpr size_t kChunk = 1u << 30;

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

std::wstring system_ansi_decode(ByteView bytes, uint32_t code_page) {
  if (bytes.empty() || bytes.size() > INT_MAX) return std::wstring();
  const char* src = reinterpret_cast<const char*>(bytes.data());
  int n = MultiByteToWideChar(code_page, 0, src, static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  n = MultiByteToWideChar(code_page, 0, src, static_cast<int>(bytes.size()), out.data(), n);
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

uint32_t system_ansi_encode(std::wstring_view text, uint32_t code_page, Bytes& out) {
  if (text.empty()) return 0;
  if (text.size() > INT_MAX / 4) return ERROR_NOT_ENOUGH_MEMORY;
  int n = WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return GetLastError();
  size_t at = out.size();
  out.resize(at + static_cast<size_t>(n));
  n = WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()),
                          reinterpret_cast<char*>(out.data() + at), n, nullptr, nullptr);
  if (n <= 0) {
    DWORD err = GetLastError();
    out.resize(at);
    return err;
  }
  out.resize(at + static_cast<size_t>(n));
  return 0;
}

uint32_t file::open_local(uint32_t access, uint32_t share, uint32_t creation) {
  HANDLE h = CreateFileW(path_.c_str(), access, share, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  handle_ = h;
  return 0;
}

uint32_t file::close_local() {
  HANDLE h = handle(handle_);
  handle_ = nullptr;
  return CloseHandle(h) ? 0 : GetLastError();
}

uint64_t file::size_local() {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(handle(handle_), &size)) fail(GetLastError());
  return static_cast<uint64_t>(size.QuadPart);
}

void file::seek_local(uint64_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(handle(handle_), to, nullptr, FILE_BEGIN)) fail(GetLastError());
}

size_t file::read_local(void* buffer, size_t bytes) {
  DWORD got = 0;
  if (!ReadFile(handle(handle_), buffer, static_cast<DWORD>(bytes < kChunk ? bytes : kChunk), &got, nullptr))
    fail(GetLastError());
  return got;
}

void file::write_local(const void* data, size_t bytes) {
  const char* p = static_cast<const char*>(data);
  while (bytes) {
    DWORD put = 0;
    DWORD want = static_cast<DWORD>(bytes < kChunk ? bytes : kChunk);
    if (!WriteFile(handle(handle_), p, want, &put, nullptr)) fail(GetLastError());
    if (put == 0) fail(ERROR_WRITE_FAULT);
    p += put;
    bytes -= put;
  }
}

}  // namespace qz
