// Shared helpers of the fuzz targets: input bytes as wide text (UTF-8, so the
// dictionaries' words reach the parsers as written), split into lines, and a check
// that stops the run with a message.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "package/stream_format.h"

#define FUZZ_CHECK(cond)                                                      \
  do {                                                                        \
    if (!(cond)) {                                                            \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                           \
    }                                                                         \
  } while (0)

inline std::wstring fuzz_text(const uint8_t* data, size_t size) {
  return qzstream::utf8_decode(std::string_view(reinterpret_cast<const char*>(data), size));
}

// The text split at LF; always at least one (possibly empty) line.
inline std::vector<std::wstring> fuzz_lines(const uint8_t* data, size_t size) {
  std::vector<std::wstring> lines;
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == '\n') {
      lines.push_back(fuzz_text(data + start, i - start));
      start = i + 1;
    }
  }
  return lines;
}
