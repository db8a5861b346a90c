#include "support/kfile.h"

#include "support/dynload.h"

namespace qz::kfile {
namespace {

// Resolves once per function; a missing entry leaves `fail` as the result.
#define QZ_KERNEL_CALL(name, fail, ...)                                    \
  static const auto fn = bound<decltype(&::name)>(kernel32_export(#name)); \
  if (!fn) {                                                               \
    SetLastError(ERROR_PROC_NOT_FOUND);                                    \
    return fail;                                                           \
  }                                                                        \
  return fn(__VA_ARGS__)

}  // namespace

HANDLE create_file(const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition,
                  DWORD flags, HANDLE template_file) {
  QZ_KERNEL_CALL(CreateFileW, INVALID_HANDLE_VALUE, path, access, share, security, disposition, flags, template_file);
}
BOOL create_directory(const wchar_t* path, SECURITY_ATTRIBUTES* security) {
  QZ_KERNEL_CALL(CreateDirectoryW, FALSE, path, security);
}
BOOL delete_file(const wchar_t* path) { QZ_KERNEL_CALL(DeleteFileW, FALSE, path); }
HANDLE find_first_file(const wchar_t* pattern, WIN32_FIND_DATAW* data) {
  QZ_KERNEL_CALL(FindFirstFileW, INVALID_HANDLE_VALUE, pattern, data);
}
BOOL find_next_file(HANDLE find, WIN32_FIND_DATAW* data) { QZ_KERNEL_CALL(FindNextFileW, FALSE, find, data); }
DWORD get_file_attributes(const wchar_t* path) { QZ_KERNEL_CALL(GetFileAttributesW, INVALID_FILE_ATTRIBUTES, path); }
BOOL set_file_attributes(const wchar_t* path, DWORD attributes) {
  QZ_KERNEL_CALL(SetFileAttributesW, FALSE, path, attributes);
}
BOOL remove_directory(const wchar_t* path) { QZ_KERNEL_CALL(RemoveDirectoryW, FALSE, path); }

}  // namespace qz::kfile
