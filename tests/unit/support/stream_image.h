// Setup images for tests: the running test program's image cut at its PE image
// end, with a setup stream of the given members appended.
#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "package/stream_format.h"
#include "scratch.h"

namespace test_image {

using Members = std::vector<std::pair<std::wstring, std::string>>;

inline std::string own_image() {
  wchar_t self[1024];
  GetModuleFileNameW(nullptr, self, 1024);
  std::string bytes = read_whole_file(self);
  qzstream::MemorySource src(bytes.data(), bytes.size());
  uint32_t end = qzstream::pe_stream_start(src, false);
  return bytes.substr(0, end);
}

// The stream's bytes: header, then each member stored as it is.
inline std::string stream_bytes(const Members& members) {
  std::vector<uint8_t> out = qzstream::build_stream_header(static_cast<uint16_t>(members.size()));
  for (const auto& [name, data] : members) {
    std::string n = qzstream::utf16le_encode(name);
    qzstream::EntryInfo e;
    e.stored_size = static_cast<uint32_t>(data.size());
    auto h = qzstream::build_entry_header(e, static_cast<uint32_t>(n.size()));
    out.insert(out.end(), h.begin(), h.end());
    out.insert(out.end(), n.begin(), n.end());
    out.insert(out.end(), data.begin(), data.end());
  }
  return std::string(out.begin(), out.end());
}

}  // namespace test_image
