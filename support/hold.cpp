#include "support/hold.h"

#include <winternl.h>

namespace qz {
namespace {

constexpr DWORD kFolderHoldAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kFolderHoldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;  // never delete

// The system calls under CreateDirectoryW, which can create a folder and open it
// at once; ntdll is in every process.
struct NtFolderCalls {
  using ToNtPath = BOOLEAN(NTAPI*)(PCWSTR, UNICODE_STRING*, PWSTR*, void*);
  using Create = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG,
                                  ULONG, ULONG, ULONG, PVOID, ULONG);
  using FreeString = VOID(NTAPI*)(UNICODE_STRING*);
  using ToWin32 = ULONG(NTAPI*)(NTSTATUS);
  ToNtPath to_nt_path = nullptr;
  Create create = nullptr;
  FreeString free_string = nullptr;
  ToWin32 to_win32 = nullptr;

  NtFolderCalls() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll) return;
    to_nt_path = reinterpret_cast<ToNtPath>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlDosPathNameToNtPathName_U")));
    create = reinterpret_cast<Create>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateFile")));
    free_string = reinterpret_cast<FreeString>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlFreeUnicodeString")));
    to_win32 = reinterpret_cast<ToWin32>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
  }
  bool usable() const { return to_nt_path && create && free_string && to_win32; }
};

}  // namespace

file_handle create_held_folder(const std::wstring& folder, SECURITY_ATTRIBUTES* security) {
  static const NtFolderCalls nt;
  if (!nt.usable()) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return file_handle();
  }
  UNICODE_STRING name{};
  if (!nt.to_nt_path(folder.c_str(), &name, nullptr, nullptr)) {
    SetLastError(ERROR_INVALID_NAME);
    return file_handle();
  }
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr,
                             security ? security->lpSecurityDescriptor : nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE h = nullptr;
  const NTSTATUS status = nt.create(&h, kFolderHoldAccess, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                                    kFolderHoldShare, FILE_CREATE,
                                    FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT,
                                    nullptr, 0);
  nt.free_string(&name);
  if (status < 0) {
    SetLastError(nt.to_win32(status));
    return file_handle();
  }
  return file_handle(h);
}

file_handle hold_folder(const std::wstring& folder) {
  file_handle h(CreateFileW(folder.c_str(), kFolderHoldAccess, kFolderHoldShare, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h) return h;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h.get(), &info)) return file_handle();
  // Judged by the handle (what is held is what was checked) and, once held, by the
  // name too: Wine shows a host link as one only there.
  const DWORD by_name = GetFileAttributesW(folder.c_str());
  DWORD refusal = 0;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      (by_name != INVALID_FILE_ATTRIBUTES && (by_name & FILE_ATTRIBUTE_REPARSE_POINT)))
    refusal = kErrorIsLink;
  else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    refusal = ERROR_DIRECTORY;
  if (refusal) {
    h.reset();
    SetLastError(refusal);
  }
  return h;
}

file_handle hold_file(const std::wstring& path) {
  return file_handle(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

file_handle hold_written_file(file_handle writer, const std::wstring& path) {
  if (!writer) return file_handle();
  // The bridge shares what the writer has (write and delete access); once the
  // writer is closed, the hold shares reading alone. For the moment between the
  // two, the file lies in a folder the run holds.
  file_handle bridge(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!bridge) return file_handle();
  writer.reset();
  return hold_file(path);
}

}  // namespace qz
