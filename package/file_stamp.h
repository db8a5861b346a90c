// A file read once and kept while its size and write time stay the same, for the
// readers of setup.ini and the string tables; a file that cannot be read is not
// kept, so one extracted later is found.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace qz {

struct FileStamp {
  uint64_t size = 0;
  uint64_t written = 0;
  bool operator==(const FileStamp&) const = default;
};

// False for a folder or a path the system cannot describe.
inline bool stamp_of(const std::wstring& path, FileStamp* stamp) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  stamp->size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  stamp->written = (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  return true;
}

template <typename Doc>
struct StampedDocument {
  FileStamp stamp;
  std::shared_ptr<Doc> doc;
};

}  // namespace qz
