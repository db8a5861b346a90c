// Product information from the Windows Installer, bound on first use.
#include <vector>

#include "support/dynload.h"
#include "support/utils.h"

namespace qz {

std::wstring InstalledProductName(const std::wstring& product_code) {
  using GetInfoFn = UINT(WINAPI*)(LPCWSTR, LPCWSTR, LPWSTR, LPDWORD);
  static const GetInfoFn get_info = bound<GetInfoFn>(bind_system_export(L"msi.dll", "MsiGetProductInfoW"));
  if (!get_info) return std::wstring();
  std::vector<wchar_t> buffer(1024);
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD size = static_cast<DWORD>(buffer.size());
    UINT status = get_info(product_code.c_str(), L"InstalledProductName", buffer.data(), &size);
    if (status == ERROR_SUCCESS) return std::wstring(buffer.data(), size < buffer.size() ? size : buffer.size() - 1);
    if (status != ERROR_MORE_DATA) {
      SetLastError(status);
      return std::wstring();
    }
    buffer.resize(size + 1);
  }
  return std::wstring();
}

}  // namespace qz
