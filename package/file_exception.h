// The exception of the file object: a failed read, seek, size query or close.
//
// Carries the system error code and the file's name. It derives from std::exception
// directly for now; once the shared system-error exception exists it becomes its
// subclass (same code()/what() shape: a DWORD-sized code and a message).
#pragma once
#include <cstdint>
#include <exception>
#include <string>

#include "package/text_encoding.h"

namespace qz {

class file_exception : public std::exception {
 public:
  file_exception(uint32_t code, std::wstring file_name)
      : code_(code), file_name_(std::move(file_name)),
        what_("file error " + std::to_string(code) + ": " + to_utf8(file_name_)) {}
  uint32_t code() const noexcept { return code_; }
  const std::wstring& file_name() const noexcept { return file_name_; }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  uint32_t code_;
  std::wstring file_name_;
  std::string what_;
};

}  // namespace qz
