// Functions of libraries that may be missing, bound by name when first used.
#pragma once
#include <windows.h>

namespace qz {

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
