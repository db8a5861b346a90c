// qz::file: the file object under the INI readers.
//
// A local file through the system (CreateFileW on Windows, stdio elsewhere), or an
// Internet address read whole through the installed transport. After a
// local open the text encoding is detected from the byte order mark and the position
// is at the start. Read, seek, size and close failures throw qz::file_exception
// (package/file_exception.h).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "package/text_encoding.h"

namespace qz {

// The CreateFileW values, so callers pass what the system expects.
inline constexpr uint32_t kFileRead = 0x80000000u;   // GENERIC_READ
inline constexpr uint32_t kFileWrite = 0x40000000u;  // GENERIC_WRITE
inline constexpr uint32_t kShareRead = 1, kShareWrite = 2, kShareDelete = 4;
inline constexpr uint32_t kCreateNew = 1, kCreateAlways = 2, kOpenExisting = 3, kOpenAlways = 4,
                          kTruncateExisting = 5;

inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorFileTooLarge = 223;

// Text files above this size are refused rather than read into memory.
inline constexpr uint64_t kMaxTextFileBytes = 128ull << 20;

// The system's code-page conversion (Windows: MultiByteToWideChar/WideCharToMultiByte,
// code page 0 = CP_ACP, 3 = CP_THREAD_ACP). Elsewhere the Latin-1 stand-ins.
std::wstring system_ansi_decode(ByteView bytes, uint32_t code_page);
uint32_t system_ansi_encode(std::wstring_view text, uint32_t code_page, Bytes& out);

// Throws qz::file_exception for the file. Defined by the platform file, so that
// portable code needs no system header for the exception.
[[noreturn]] void throw_file_error(uint32_t code, const std::wstring& path);
// Inside a catch block: the code of the qz::file_exception being handled (31 when it
// carries none), or 0 when the exception is of another kind.
uint32_t caught_file_error();

// Reads an Internet address whole into `body`: 0, or the error. The Internet
// transport installs its reader at the launcher's start; without one, addresses
// fail with kErrorNotSupported.
using InternetFileReader = uint32_t (*)(const std::wstring& url, Bytes& body);
void set_internet_file_reader(InternetFileReader reader);

class file {
 public:
  file() = default;
  ~file();
  file(const file&) = delete;
  file& operator=(const file&) = delete;

  // 0 or the system error. Internet addresses go to the installed reader.
  uint32_t open(const std::wstring& path, uint32_t access, uint32_t share, uint32_t creation);
  // Serves bytes held in memory as a local file (encoding detected as for one).
  void open_memory(Bytes bytes, std::wstring name);
  bool is_open() const { return handle_ != nullptr || in_memory_; }
  void close();  // throws when the system cannot close the handle
  uint64_t size();
  void seek(uint64_t offset);
  // Bytes read (0 at the end).
  size_t read(void* buffer, size_t bytes);
  void write(const void* data, size_t bytes);

  // The whole content from the start; more than kMaxTextFileBytes throws with
  // kErrorFileTooLarge.
  Bytes read_all();
  // The whole content as text: byte order mark skipped, decoded in code_page().
  std::wstring read_text();
  // The text (lines already joined) in the code page, with the mark when has_bom
  // and the code page carries one. Throws on conversion or write failure.
  void write_text(std::wstring_view text, int32_t code_page, bool has_bom);

  int32_t code_page() const { return code_page_; }
  void set_code_page(int32_t code_page) { code_page_ = code_page; }
  bool has_bom() const { return bom_; }
  const std::wstring& path() const { return path_; }

 private:
  // Platform part (qzfile_win.cpp / qzfile_posix.cpp).
  uint32_t open_local(uint32_t access, uint32_t share, uint32_t creation);
  uint32_t close_local();  // 0 or the system error; the handle is gone either way
  uint64_t size_local();
  void seek_local(uint64_t offset);
  size_t read_local(void* buffer, size_t bytes);
  void write_local(const void* data, size_t bytes);

  void detect();
  [[noreturn]] void fail(uint32_t code) const { throw_file_error(code, path_); }

  std::wstring path_;
  void* handle_ = nullptr;  // HANDLE or FILE*
  bool in_memory_ = false;
  Bytes memory_;
  size_t memory_pos_ = 0;
  int32_t code_page_ = kCodePageAnsi;
  bool bom_ = false;
};

}  // namespace qz
