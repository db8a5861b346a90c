// Shared pieces of the packing tool: failures, paths and names at the platform's
// edge, the input files, file times.
#pragma once
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "package/stream_format.h"

namespace mksetup {

namespace fs = std::filesystem;

// A refusal or failure the tool reports as "mksetup: MESSAGE" with exit code 1.
struct Failure {
  std::string message;
};
[[noreturn]] void fail(const std::string& message);

// Paths and names: wide text inside the tool, the platform's form at the edges;
// arguments arrive as UTF-8.
fs::path to_path(const std::wstring& w);
std::wstring from_path(const fs::path& p);
fs::path upath(const std::string& utf8);
std::string shown(const std::wstring& w);
std::string shown(const fs::path& p);

bool is_ascii(const std::wstring& w);
// The name as the launcher's member map folds it (ASCII and Latin-1 letters).
std::wstring launcher_fold(const std::wstring& w);
// The name with every letter case-mapped as a Windows file system compares names.
std::wstring unicode_fold(const std::wstring& w);
// A name in the ANSI code page, as the launcher's thread converts it for the keys
// of stored and whole-file scrambled members (Windows-1252 in the Linux build).
std::string ansi_of(const std::wstring& w);
// How the directory reader turns type-1 names into text here.
qzstream::AnsiDecoder ansi_decoder();

// A file read at offsets; a failed read is a failure, never a short member.
class FileSource : public qzstream::ByteSource {
 public:
  explicit FileSource(const fs::path& p);
  size_t read_at(uint64_t offset, void* buffer, size_t count) override;
  uint64_t size() override { return size_; }

 private:
  fs::path path_;
  std::ifstream f_;
  uint64_t size_ = 0;
};

constexpr uint64_t kUnixEpochAsFiletime = 116444736000000000ull;

struct Times {
  uint64_t creation = 0, write = 0, access = 0;  // FILETIME
};
// The file's times (Linux has no creation time: the last-write time stands in).
Times file_times(const fs::path& p);
// The moment SOURCE_DATE_EPOCH names, as every member's three times; false when it
// is not set. A value that is not a plain number of seconds is refused.
bool source_date_epoch(Times* times);
// "2024-05-01T12:00:00Z", "before-1970" or "-" for none.
std::string format_filetime(uint64_t filetime);

}  // namespace mksetup
