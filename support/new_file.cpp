#include "support/new_file.h"

#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "support/dynload.h"

#include "support/utils.h"
#include "support/zstring.h"

namespace qz {
namespace {

constexpr int kNameAttempts = 100;

bool name_taken(DWORD error) {
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED ||
         error == ERROR_SHARING_VIOLATION;
}

// The rename goes to the system call itself, with the target's full NT path: the
// Win32 forms of it differ in how they read a bare name.
bool rename_by_handle(HANDLE file, const std::wstring& target) {
  struct RenameInformation {
    BOOLEAN replace_if_exists;
    HANDLE root_directory;
    ULONG name_length;
    WCHAR name[1];
  };
  using ToNtPath = BOOLEAN(NTAPI*)(PCWSTR, UNICODE_STRING*, PWSTR*, void*);
  using SetInformation = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
  using FreeString = VOID(NTAPI*)(UNICODE_STRING*);
  using ToWin32 = ULONG(NTAPI*)(NTSTATUS);
  constexpr ULONG kFileRenameInformation = 10;
  static const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  static const auto to_nt_path = bound<ToNtPath>(ntdll ? GetProcAddress(ntdll, "RtlDosPathNameToNtPathName_U") : nullptr);
  static const auto set = bound<SetInformation>(ntdll ? GetProcAddress(ntdll, "NtSetInformationFile") : nullptr);
  static const auto free_string = bound<FreeString>(ntdll ? GetProcAddress(ntdll, "RtlFreeUnicodeString") : nullptr);
  static const auto to_win32 = bound<ToWin32>(ntdll ? GetProcAddress(ntdll, "RtlNtStatusToDosError") : nullptr);
  if (!to_nt_path || !set || !free_string || !to_win32) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
  }
  UNICODE_STRING name{};
  if (!to_nt_path(FullPath(target).c_str(), &name, nullptr, nullptr)) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  std::vector<unsigned char> buffer(offsetof(RenameInformation, name) + name.Length + sizeof(WCHAR));
  auto* info = reinterpret_cast<RenameInformation*>(buffer.data());
  info->replace_if_exists = TRUE;
  info->root_directory = nullptr;
  info->name_length = name.Length;
  memcpy(info->name, name.Buffer, name.Length);
  free_string(&name);
  IO_STATUS_BLOCK io{};
  const NTSTATUS status = set(file, &io, info, static_cast<ULONG>(buffer.size()), kFileRenameInformation);
  if (status < 0) {
    SetLastError(to_win32(status));
    return false;
  }
  return true;
}

}  // namespace

bool new_file::create(const std::wstring& path, bool share_write) {
  discard();
  committed_ = false;
  path_ = path;
  const zpath folder = zpath(path).folder();
  const DWORD share = FILE_SHARE_READ | (share_write ? FILE_SHARE_WRITE : 0);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::wstring guid = GuidText();
    if (guid.size() < 9) return false;
    const std::wstring name = L"~qz" + guid.substr(1, 8) + L".tmp";
    const std::wstring working = folder.empty() ? name : std::wstring(folder.join(name));
    h_ = file_handle(CreateFileW(working.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, share, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (h_) return true;
    if (!name_taken(GetLastError())) return false;
  }
  return false;
}

bool new_file::commit() {
  if (!h_ || committed_) return committed_;
  if (rename_by_handle(h_.get(), path_)) {
    committed_ = true;
    return true;
  }
  discard();
  return false;
}

void new_file::discard() {
  if (!h_) return;
  if (!committed_) {
    DWORD keep = GetLastError();
    FILE_DISPOSITION_INFO gone{TRUE};
    SetFileInformationByHandle(h_.get(), FileDispositionInfo, &gone, sizeof(gone));
    SetLastError(keep);
  }
  h_.reset();
}

file_handle copy_to_new_file(HANDLE source, const std::wstring& target) {
  constexpr DWORD kBlock = 64 << 10;
  new_file out;
  if (!out.create(target)) return file_handle();
  std::vector<unsigned char> buffer(kBlock);
  uint64_t offset = 0;
  for (;;) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0, put = 0;
    if (!ReadFile(source, buffer.data(), kBlock, &got, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return file_handle();
    }
    if (got == 0) break;
    if (!WriteFile(out.get(), buffer.data(), got, &put, nullptr) || put != got) return file_handle();
    offset += got;
  }
  if (!out.commit()) return file_handle();
  return out.release();
}

}  // namespace qz
