// qz::file_exception: a failed read, seek, size query or close of a qz::file.
//
// On Windows this is the support layer's class (support/errors.h: a win32_exception
// with the system error code, the system's text and the file's path); in the
// native build a class of the same shape stands in. Only platform files include this header: portable code reaches the
// exception through throw_file_error / caught_file_error (package/qzfile.h).
#pragma once
#ifdef _WIN32
#include "support/errors.h"
#else
#include <cstdint>
#include <stdexcept>
#include <string>

#include "package/text_encoding.h"

namespace qz {

class file_exception : public std::runtime_error {
 public:
  file_exception(uint32_t code, const std::wstring& path)
      : std::runtime_error("Error " + std::to_string(code) + ": " + to_utf8(path)), code_(code), path_(path),
        message_(L"Error " + std::to_wstring(code)) {}
  uint32_t code() const noexcept { return code_; }
  const std::wstring& message() const noexcept { return message_; }
  const std::wstring& path() const noexcept { return path_; }

 private:
  uint32_t code_;
  std::wstring path_;
  std::wstring message_;
};

}  // namespace qz
#endif
