// Exceptions of the support layer. They carry the Win32 error code and the system's
// own text for it; a file error also carries the file's name. They stay inside
// their layer: callers above turn them into error numbers.
#pragma once
#include <windows.h>

#include <stdexcept>
#include <string>

namespace qz {

// The system's message text for a Win32 error code, without the trailing line
// break; "Error <code>" when the system has no text for it.
std::wstring system_message(DWORD code);
// The system's own text for the error, without the trailing line break; empty when
// it has none.
std::wstring system_text(DWORD code);

class win32_exception : public std::runtime_error {
 public:
  explicit win32_exception(DWORD code);
  win32_exception(DWORD code, const std::wstring& message);
  DWORD code() const noexcept { return code_; }
  const std::wstring& message() const noexcept { return message_; }

 private:
  DWORD code_;
  std::wstring message_;
};

class file_exception : public win32_exception {
 public:
  file_exception(DWORD code, const std::wstring& path);
  const std::wstring& path() const noexcept { return path_; }

 private:
  std::wstring path_;
};

}  // namespace qz
