#include "support/errors.h"

#include "support/zstring.h"

namespace qz {
namespace {

std::string utf8(const std::wstring& s) {
  if (s.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

std::wstring system_message(DWORD code) {
  std::wstring out = system_text(code);
  if (out.empty()) out = zString::format(L"Error %lu", static_cast<unsigned long>(code));
  return out;
}

std::wstring system_text(DWORD code) {
  LastErrorKeeper keep;
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring out;
  if (n && text) out.assign(text, n);
  if (text) LocalFree(text);
  while (!out.empty() && (out.back() == L'\n' || out.back() == L'\r' || out.back() == L' ')) out.pop_back();
  return out;
}

win32_exception::win32_exception(DWORD code) : win32_exception(code, system_message(code)) {}

win32_exception::win32_exception(DWORD code, const std::wstring& message)
    : std::runtime_error(utf8(message)), code_(code), message_(message) {}

file_exception::file_exception(DWORD code, const std::wstring& path)
    : win32_exception(code), path_(path) {}

}  // namespace qz
