// Functions of libraries that may be missing, bound by name when first used.
#pragma once
#include <windows.h>

#include <string>

namespace qz {

// A system library by its full path; its own dependencies come from the system
// folder as well.
HMODULE load_system_library(const std::wstring& path);
// A library that ships with the setup (the external user interface), by its full
// path; its dependencies come from its own folder and the system folder only.
HMODULE load_library_beside(const std::wstring& path);
// The common controls, bound on first use like the other libraries (a static
// import would be loaded before the launcher can refuse a ".local" redirection),
// and InitCommonControlsEx for the classes (ICC_*); false when unavailable.
bool init_common_controls(DWORD classes);

// The export `name` of the system library `library` (loaded from the system
// folder, never from the launcher's own folder, and kept loaded). Null with the
// thread's last error (126 library missing, 127 entry missing) when unavailable.
FARPROC bind_system_export(const wchar_t* library, const char* name);

// The export `name` of kernel32, null when this system lacks it.
FARPROC kernel32_export(const char* name);

template <typename F>
F bound(FARPROC p) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(p));
}

// The export `name` of a module already loaded (by name or by ordinal,
// MAKEINTRESOURCEA); null when the module or the export is missing.
template <typename F>
F module_export(HMODULE module, const char* name) {
  return module ? bound<F>(GetProcAddress(module, name)) : nullptr;
}

}  // namespace qz
