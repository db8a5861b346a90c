// Shared by the program stand-ins: their own folder, and a log beside them that
// collects each command line they were started with (one UTF-16LE line each).
#pragma once
#include <windows.h>

#include <string>

inline std::wstring standin_folder() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path, n);
  return p.substr(0, p.find_last_of(L'\\') + 1);
}

inline void standin_record(const wchar_t* log_name) {
  std::wstring line = std::wstring(GetCommandLineW()) + L"\r\n";
  HANDLE h = CreateFileW((standin_folder() + log_name).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD put = 0;
  WriteFile(h, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &put, nullptr);
  CloseHandle(h);
}
