// Directory links for tests: a symbolic link where the system makes one; under
// Wine, whose CreateSymbolicLinkW does nothing, a host symbolic link, which Wine
// reports as a reparse point.
#pragma once
#include <windows.h>

#include <cstring>
#include <string>

#include "wait_for.h"

namespace test_links {

// Runs a host program (Wine runs Unix executables too); true when it ran.
inline bool run_host(const std::wstring& program, const std::wstring& arguments) {
  std::wstring command = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return false;
  WaitForSingleObject(pi.hProcess, test_wait::kBoundMs);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

inline std::wstring unix_name(const std::wstring& path) {
  using Fn = char*(CDECL*)(const wchar_t*);
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!fn) return L"";
  char* name = fn(path.c_str());
  if (!name) return L"";
  std::wstring out(name, name + strlen(name));
  HeapFree(GetProcessHeap(), 0, name);
  return out;
}

inline bool is_link(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A directory link `link` -> `target` (see above); false when none can be made.
inline bool make_directory_link(const std::wstring& link, const std::wstring& target) {
  if (CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) && is_link(link)) return true;
  std::wstring t = unix_name(target), l = unix_name(link);
  if (t.empty() || l.empty() || !run_host(L"Z:\\bin\\ln", L"-s \"" + t + L"\" \"" + l + L"\"")) return false;
  // A host program's handle may signal before the program has run: wait for its effect.
  return test_wait::wait_for([&] { return is_link(link); });
}

// A file link `link` -> `target` (an existing file), made as above; under Wine it
// does not show as a reparse point, only as the file it leads to.
inline bool make_file_link(const std::wstring& link, const std::wstring& target) {
  if (CreateSymbolicLinkW(link.c_str(), target.c_str(), 0) && is_link(link)) return true;
  std::wstring t = unix_name(target), l = unix_name(link);
  if (t.empty() || l.empty() || !run_host(L"Z:\\bin\\ln", L"-s \"" + t + L"\" \"" + l + L"\"")) return false;
  return test_wait::wait_for([&] { return GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; });
}

// Removes a link the code under test may have left (Wine cannot remove host links).
inline void drop_link(const std::wstring& link) {
  if (!is_link(link)) return;
  // Under Wine the host removes its own link: RemoveDirectoryW would remove an
  // empty target folder instead and leave the link.
  const std::wstring name = unix_name(link);
  if (name.empty()) {
    RemoveDirectoryW(link.c_str());
    return;
  }
  if (!run_host(L"Z:\\bin\\rm", L"-f \"" + name + L"\"")) return;
  test_wait::wait_for([&] { return !is_link(link); });
}

}  // namespace test_links
