// The kernel32 file functions the support utilities use, found by name in
// "kernel32.dll" when first called (wide variants only: every supported system
// has them). A missing function fails with ERROR_PROC_NOT_FOUND.
#pragma once
#include <windows.h>

namespace qz::kfile {

HANDLE create_file(const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition,
                  DWORD flags, HANDLE template_file);
BOOL create_directory(const wchar_t* path, SECURITY_ATTRIBUTES* security);
BOOL delete_file(const wchar_t* path);
HANDLE find_first_file(const wchar_t* pattern, WIN32_FIND_DATAW* data);
BOOL find_next_file(HANDLE find, WIN32_FIND_DATAW* data);
DWORD get_file_attributes(const wchar_t* path);
BOOL set_file_attributes(const wchar_t* path, DWORD attributes);
BOOL remove_directory(const wchar_t* path);

}  // namespace qz::kfile
