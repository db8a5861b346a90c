#include "support/dynload.h"

#include <string>

namespace qz {

FARPROC bind_system_export(const wchar_t* library, const char* name) {
  wchar_t folder[MAX_PATH];
  UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  std::wstring path(folder, n);
  path += L'\\';
  path += library;
  HMODULE module = GetModuleHandleW(path.c_str());
  if (!module) module = LoadLibraryW(path.c_str());
  if (!module) {
    if (GetLastError() == 0) SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  FARPROC p = GetProcAddress(module, name);
  if (!p) SetLastError(ERROR_PROC_NOT_FOUND);
  return p;
}

FARPROC kernel32_export(const char* name) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  return kernel ? GetProcAddress(kernel, name) : nullptr;
}

}  // namespace qz
