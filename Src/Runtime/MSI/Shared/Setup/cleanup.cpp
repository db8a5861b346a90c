#include "cleanup.h"

#include <windows.h>

#include <vector>

#include "process_state.h"
#include "support/debuglog.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\cleanup";

namespace {

const wchar_t kListName[] = L"_QZMSIDEL.INI";

// The profile functions keep a file in UTF-16 once it starts that way; a new
// list is therefore created with the mark before the first entry goes in.
bool ensure_unicode_list(const std::wstring& list) {
  HANDLE h = CreateFileW(list.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_EXISTS;
  static const unsigned char bom[2] = {0xFF, 0xFE};
  DWORD written = 0;
  WriteFile(h, bom, 2, &written, nullptr);
  CloseHandle(h);
  return true;
}

void record(const wchar_t* section, const std::wstring& key, const std::wstring& path) {
  qz::LastErrorKeeper keep;
  std::wstring list = deletion_list_path();
  if (list.empty() || key.empty()) return;
  if (!ensure_unicode_list(list)) return;
  WritePrivateProfileStringW(section, key.c_str(), path.c_str(), list.c_str());
}

// Key names of one section ("" separated, double "" at the end).
std::vector<std::wstring> keys_of(const wchar_t* section, const std::wstring& list) {
  std::vector<wchar_t> buf(1024);
  for (;;) {
    DWORD n = GetPrivateProfileStringW(section, nullptr, L"", buf.data(), static_cast<DWORD>(buf.size()), list.c_str());
    if (n + 2 < buf.size() || buf.size() >= (1u << 20)) {
      std::vector<std::wstring> out;
      for (const wchar_t* p = buf.data(); *p && p < buf.data() + n; p += wcslen(p) + 1) out.emplace_back(p);
      return out;
    }
    buf.resize(buf.size() * 4);
  }
}

std::wstring value_of(const wchar_t* section, const std::wstring& key, const std::wstring& list) {
  std::vector<wchar_t> buf(1024);
  DWORD n = GetPrivateProfileStringW(section, key.c_str(), L"", buf.data(), static_cast<DWORD>(buf.size()), list.c_str());
  return std::wstring(buf.data(), n);
}

bool delete_file(const std::wstring& path) {
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
  UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  bool ok = DeleteFileW(path.c_str()) != FALSE;
  SetErrorMode(old);
  return ok;
}

// Removes a folder and everything below it (a listed folder may hold files that
// were never listed one by one).
bool remove_tree(const std::wstring& folder) {
  DWORD a = GetFileAttributesW(folder.c_str());
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) return false;
  if (!(a & FILE_ATTRIBUTE_REPARSE_POINT)) {  // never follow a link out of the folder
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(zpath(folder).join(L"*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring child = zpath(folder).join(name);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          remove_tree(child);
        else
          delete_file(child);
      } while (FindNextFileW(h, &fd));
      FindClose(h);
    }
  }
  return RemoveDirectoryW(folder.c_str()) != FALSE;
}

bool same_path(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

bool starts_with_folder(const std::wstring& path, const std::wstring& folder) {
  if (folder.empty() || path.size() <= folder.size()) return false;
  return same_path(path.substr(0, folder.size()), folder) && (path[folder.size()] == L'\\' || folder.back() == L'\\');
}

// The launcher cannot delete its own running file: an interpreter started now
// removes the folder once the launcher has ended.
void start_self_removal(const std::wstring& own) {
  wchar_t sys[MAX_PATH];
  UINT n = GetSystemDirectoryW(sys, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  zpath cmd = zpath(std::wstring(sys, n)).join(L"cmd.exe");
  std::wstring line = zString::format(L"\"%s\" /c rmdir /s /q \"%s\"", cmd.c_str(), zpath(own).folder().c_str());
  std::vector<wchar_t> text(line.begin(), line.end());
  text.push_back(0);
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION pi{};
  if (CreateProcessW(nullptr, text.data(), nullptr, nullptr, FALSE, IDLE_PRIORITY_CLASS | CREATE_NO_WINDOW, nullptr,
                     nullptr, &si, &pi)) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
}

}  // namespace

std::wstring deletion_list_path() {
  const std::wstring& folder = qzproc::temp_folder();
  return folder.empty() ? std::wstring() : std::wstring(zpath(folder).join(kListName));
}

void record_file(const std::wstring& path) { record(L"Files", zpath(path).leaf(), path); }

void record_file_as(const std::wstring& path, const std::wstring& key) { record(L"Files", key, path); }

void record_folder(const std::wstring& path) {
  zpath p(path);
  p.remove_backslash();
  record(L"Folders", p.leaf(), path);
}

void process_deletion_list() {
  qz::LastErrorKeeper keep;
  std::wstring folder = qzproc::temp_folder();
  if (folder.empty()) return;
  std::wstring list = deletion_list_path();
  std::wstring own = qzproc::own_file_name();
  bool inside = starts_with_folder(own, folder);
  QZ_LOG(L"Processing the deletion list of %s", folder.c_str());
  if (GetFileAttributesW(list.c_str()) != INVALID_FILE_ATTRIBUTES) {
    for (const std::wstring& key : keys_of(L"Files", list)) {
      std::wstring path = value_of(L"Files", key, list);
      if (path.empty() || delete_file(path) || same_path(path, own))
        WritePrivateProfileStringW(L"Files", key.c_str(), nullptr, list.c_str());
    }
    for (const std::wstring& key : keys_of(L"Folders", list)) {
      std::wstring path = value_of(L"Folders", key, list);
      if (path.empty() || remove_tree(path)) WritePrivateProfileStringW(L"Folders", key.c_str(), nullptr, list.c_str());
    }
    // Entries still there (files in use) keep the list for a later clean-up.
    if (keys_of(L"Files", list).empty() && keys_of(L"Folders", list).empty()) delete_file(list);
  }
  RemoveDirectoryW(folder.c_str());  // only an empty folder goes
  if (inside && GetFileAttributesW(own.c_str()) != INVALID_FILE_ATTRIBUTES) start_self_removal(own);
}
