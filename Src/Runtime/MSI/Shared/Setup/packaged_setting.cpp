#include "packaged_setting.h"

#include <windows.h>

#include <vector>

#include "process_state.h"
#include "support/zstring.h"

namespace {

// Where the value comes from. For now the setup.ini lying beside the launcher's
// own file (the parent finds it beside the first launcher, the clone in its
// temporary folder, where the parent copied it). Reading the stream's member
// through the project's INI reader replaces this one function.
std::wstring packaged_value(const std::wstring& section, const std::wstring& key) {
  zpath ini = zpath(qzproc::own_file_name()).folder().join(L"setup.ini");
  std::vector<wchar_t> buf(1024);
  for (;;) {
    DWORD n = GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", buf.data(), static_cast<DWORD>(buf.size()),
                                       ini.c_str());
    // n == size - 1 means the value may have been cut: read again with room to spare.
    if (n + 1 < buf.size() || buf.size() >= (1u << 20)) return std::wstring(buf.data(), n);
    buf.resize(buf.size() * 4);
  }
}

}  // namespace

std::wstring read_packaged_setting(const std::wstring& section, const std::wstring& key, size_t capacity) {
  qz::LastErrorKeeper keep;
  std::wstring value = packaged_value(section, key);
  if (value.size() > capacity) value.resize(capacity);
  return value;
}
