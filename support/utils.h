// File-system, registry, system-information and restart utilities shared by the
// launcher's parts. File operations record their last failure (error and path).
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

namespace qz {

// Last-failure record of the file and registry operations below.
struct LastFailure {
  DWORD error = 0;
  std::wstring path;
};
const LastFailure& last_failure();
void clear_last_failure();

enum PathFlags : unsigned {
  kPathFile = 4,
  kPathFolder = 8,
  kPathAny = 12,
  kPathWildcards = 16,
  kPathThrow = 32,
};
// May throw qz::file_exception only with kPathThrow.
bool PathExists(const std::wstring& path, unsigned flags = kPathAny);
bool CreateFolderTree(const std::wstring& path);
bool CreateParentFolder(const std::wstring& file_path);
bool DeleteFileChecked(const std::wstring& path, bool respect_read_only);
bool RemoveFolderTree(const std::wstring& folder);

// Copy progress callback: code (see CopyFileWithProgress), argument, context → answer.
enum CopyProgressCode { kCopyStart = 0, kCopyDone = 1, kCopyFailed = 3, kCopyBlock = 4, kCopyTarget = 5,
                        kCopySource = 6, kCopyTotal = 7 };
enum CopyProgressAnswer { kCopyContinue = 0, kCopyAbort = 2, kCopyAgain = 4 };
using CopyProgressFn = int (*)(int code, uint64_t arg, const std::wstring* path, void* context);
void set_copy_progress(CopyProgressFn fn, void* context);
bool CopyFileWithProgress(const std::wstring& source, const std::wstring& target, DWORD block_size, bool keep_times);

// kind 1: unique file name "_qz…" (files); kind 0: "{GUID}" (folders; the holding
// folder is created). An extension (without dot) replaces the name's extension.
std::wstring TemporaryName(int kind, const std::wstring& folder, const std::wstring& extension, bool short_name);
// A new "{GUID}" folder under base (or the user's temporary folder), Administrators
// full control, Users read and execute; empty when any step fails.
std::wstring SecureTemporaryFolder(const std::wstring& base, bool short_name);
std::wstring GuidText();

std::wstring RegReadString(HKEY root, const std::wstring& key, const std::wstring& value,
                           const std::wstring& default_value, REGSAM access = 0);

LANGID SystemDefaultUILanguage();
DWORD OsMajorVersion();
bool IsX64();
bool IsItanium();
bool IsArm32();
bool IsArm64();
bool IsX86Family64();
bool Is64BitOs();
bool IsWow64Process();
// "off" (true) disables redirection and saves the state; restore (false) reverts the latest.
bool Wow64FsRedirection(bool off);
class ScopedWow64Redirection {
 public:
  ScopedWow64Redirection();
  ~ScopedWow64Redirection();
  bool switch_off();
 private:
  void* old_ = nullptr;
  bool off_ = false;
};
// True when the restart request failed.
bool RebootSystem();
// Test seam: replaces the real restart (returns the hook's answer).
void set_reboot_hook(bool (*hook)());

std::wstring InstalledProductName(const std::wstring& product_code);
int ProfileInt(const std::wstring& file, const std::wstring& section, const std::wstring& key, int default_value);
std::wstring ProfileString(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                           const std::wstring& default_value);
// The string-table block of `id` for `language` with the fallbacks by language.
bool FindStringBlock(UINT id, LANGID language, HMODULE module, std::wstring* text);

// The process token holds the Administrators group (enabled, not deny-only).
bool IsElevatedAdministrator();

}  // namespace qz
