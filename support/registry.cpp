// Registry string reads and profile (INI file) values.
#include <vector>

#include "support/handles.h"
#include "support/support_rules.h"
#include "support/utils.h"

namespace qz {
namespace {
constexpr DWORD kMaxProfileText = 1u << 20;  // characters; longer values are cut here
}

LSTATUS RegQueryString(HKEY root, const std::wstring& key, const std::wstring& value, REGSAM access,
                       std::wstring* text) {
  reg_key k;
  LSTATUS status = RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | access, k.receive());
  if (status != ERROR_SUCCESS) return status;
  std::vector<BYTE> data(512);
  DWORD type = 0, size = 0;
  for (int attempt = 0; attempt < 8; ++attempt) {
    size = static_cast<DWORD>(data.size());
    status = RegQueryValueExW(k.get(), value.c_str(), nullptr, &type, data.data(), &size);
    if (status != ERROR_MORE_DATA) break;
    data.resize(size + sizeof(wchar_t));  // the value may have grown in between
  }
  if (status != ERROR_SUCCESS) return status;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_UNSUPPORTED_TYPE;
  // Stored strings need not be terminated; an odd last byte is ignored.
  const wchar_t* chars = reinterpret_cast<const wchar_t*>(data.data());
  size_t count = size / sizeof(wchar_t);
  size_t end = 0;
  while (end < count && chars[end] != 0) ++end;
  if (text) text->assign(chars, end);
  return ERROR_SUCCESS;
}

std::wstring RegReadString(HKEY root, const std::wstring& key, const std::wstring& value,
                           const std::wstring& default_value, REGSAM access) {
  clear_last_failure();
  std::wstring text;
  LSTATUS status = RegQueryString(root, key, value, access, &text);
  if (status == ERROR_SUCCESS) return text;
  record_failure(static_cast<DWORD>(status), key + L"\\" + value);
  SetLastError(static_cast<DWORD>(status));
  return default_value;
}

// Read through the system's profile functions for now; the launcher's own INI
// reader is to take this over.
std::wstring ProfileString(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                           const std::wstring& default_value) {
  // The profile functions look for a bare name in the Windows folder; callers mean
  // the current folder.
  wchar_t full[MAX_PATH * 2];
  DWORD n = GetFullPathNameW(file.c_str(), MAX_PATH * 2, full, nullptr);
  std::wstring path = (n > 0 && n < MAX_PATH * 2) ? std::wstring(full, n) : file;
  std::vector<wchar_t> buffer(1024);
  for (;;) {
    DWORD got = GetPrivateProfileStringW(section.c_str(), key.c_str(), default_value.c_str(), buffer.data(),
                                         static_cast<DWORD>(buffer.size()), path.c_str());
    if (got + 1 < buffer.size() || buffer.size() >= kMaxProfileText) return std::wstring(buffer.data(), got);
    buffer.resize(buffer.size() * 2);
  }
}

int ProfileInt(const std::wstring& file, const std::wstring& section, const std::wstring& key, int default_value) {
  return rules::parse_profile_int(ProfileString(file, section, key, L""), default_value);
}

}  // namespace qz
