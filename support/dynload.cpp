#include "support/dynload.h"

#include <commctrl.h>

#include <string>

namespace qz {

HMODULE load_system_library(const std::wstring& path) {
  // The library's own dependencies are searched in the system folder too.
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // A system without the search flags (before KB2533623) refuses them: its
  // dependencies then come from the library's own folder first.
  if (!module && GetLastError() == ERROR_INVALID_PARAMETER)
    module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  return module;
}

HMODULE load_library_beside(const std::wstring& path) {
  HMODULE module =
      LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module && GetLastError() == ERROR_INVALID_PARAMETER)
    module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  return module;
}

bool init_common_controls(DWORD classes) {
  using InitEx = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  // By its bare name, which the manifest's activation context resolves to version 6;
  // kept loaded while the launcher's windows use its classes.
  static HMODULE comctl = LoadLibraryW(L"COMCTL32.dll");
  if (auto ex = module_export<InitEx>(comctl, "InitCommonControlsEx")) {
    INITCOMMONCONTROLSEX icc{sizeof(icc), classes};
    return ex(&icc) != FALSE;
  }
  if (auto plain = module_export<void(WINAPI*)()>(comctl, MAKEINTRESOURCEA(17))) {
    plain();
    return true;
  }
  return false;
}

FARPROC bind_system_export(const wchar_t* library, const char* name) {
  wchar_t folder[MAX_PATH];
  UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  std::wstring path(folder, n);
  path += L'\\';
  path += library;
  HMODULE module = GetModuleHandleW(path.c_str());
  if (!module) module = load_system_library(path);
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
