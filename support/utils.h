// File-system, registry, system-information and restart utilities shared by the
// launcher's parts. File operations record their last failure (error and path).
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "support/errors.h"
#include "support/handles.h"

namespace qz {

// Last-failure record of the file and registry operations below.
struct LastFailure {
  DWORD error = 0;
  std::wstring path;
};
const LastFailure& last_failure();
void clear_last_failure();
// Fills the record (for operations built on top of these).
void record_failure(DWORD error, const std::wstring& path);

enum PathFlags : unsigned {
  kPathFile = 4,
  kPathFolder = 8,
  kPathAny = 12,
  kPathWildcards = 16,
  kPathThrow = 32,
};
// Flags 4 / 8 / 12: must be a file / a folder / either (neither bit means either).
// With kPathWildcards the path is a search pattern: true when an entry of the wanted
// kind matches ("." and ".." do not count). Missing file or path gives false; with
// kPathThrow any other failure throws qz::file_exception (and is recorded).
bool PathExists(const std::wstring& path, unsigned flags = kPathAny);
// Two paths name the same entry as the file system compares names: ordinal,
// without case (no normalisation of the texts).
bool SamePath(const std::wstring& a, const std::wstring& b);
// The full path, or the path unchanged when the system cannot give one that fits
// 1024 characters: a cut path would name another file.
std::wstring FullPath(const std::wstring& path);
// Creates every missing folder of the path (never the drive, server or share).
// False, recorded, when a component cannot be created or exists as a file.
bool CreateFolderTree(const std::wstring& path);
// CreateFolderTree of the folder part; true for a bare file name.
bool CreateParentFolder(const std::wstring& file_path);
// Deletes a file. With respect_read_only a read-only file is refused
// (ERROR_ACCESS_DENIED); otherwise its attributes are cleared first.
bool DeleteFileChecked(const std::wstring& path, bool respect_read_only);
// Deletes the folder with everything in it; true when it does not exist. Refuses
// an empty path and a drive root. Junctions and symbolic links inside (or the
// folder itself being one) are removed as links: their targets stay untouched.
bool RemoveFolderTree(const std::wstring& folder);

// Copy progress callback: code (see CopyFileWithProgress), argument, context → answer.
enum CopyProgressCode { kCopyStart = 0, kCopyDone = 1, kCopyFailed = 3, kCopyBlock = 4, kCopyTarget = 5,
                        kCopySource = 6, kCopyTotal = 7 };
enum CopyProgressAnswer { kCopyContinue = 0, kCopyAbort = 2, kCopyAgain = 4 };
// `path` is the source (6) or target (5) path, null for the other codes.
using CopyProgressFn = int (*)(int code, uint64_t arg, const std::wstring* path, void* context);
void set_copy_progress(CopyProgressFn fn, void* context);
// Installs a callback for one copy and removes it at the end of the scope.
class ScopedCopyProgress {
 public:
  ScopedCopyProgress(CopyProgressFn fn, void* context) { set_copy_progress(fn, context); }
  ~ScopedCopyProgress() { set_copy_progress(nullptr, nullptr); }
  ScopedCopyProgress(const ScopedCopyProgress&) = delete;
  ScopedCopyProgress& operator=(const ScopedCopyProgress&) = delete;
};
// Copies source to target (overwriting) in blocks (0: 32768 bytes), announcing
// progress to the installed callback. A target left incomplete by a failed or
// aborted copy is deleted. The source may be an http, https or ftp address.
bool CopyFileWithProgress(const std::wstring& source, const std::wstring& target, DWORD block_size, bool keep_times);

// A copy source read through something other than the file system.
class CopySource {
 public:
  virtual ~CopySource() = default;
  // Up to `size` bytes; *got == 0 at the end. False (thread's last error set) on failure.
  virtual bool read(void* buffer, DWORD size, DWORD* got) = 0;
  // Total size in bytes, 0 when unknown.
  virtual uint64_t size() = 0;
  // Creation, last access and last write times; false when not known.
  virtual bool times(FILETIME* creation, FILETIME* access, FILETIME* write) = 0;
};
using UrlSourceOpener = std::unique_ptr<CopySource> (*)(const std::wstring& url);
// The Internet seam of CopyFileWithProgress: opens an Internet address through
// the installed opener. Until the Internet transport installs one, it fails with
// ERROR_NOT_SUPPORTED.
std::unique_ptr<CopySource> OpenUrlCopySource(const std::wstring& url);
void set_url_source_opener(UrlSourceOpener opener);

// kind 1: unique file name "_qz…" (files); kind 0: "{GUID}" (folders; the holding
// folder is created). An extension (without dot) replaces the name's extension.
std::wstring TemporaryName(int kind, const std::wstring& folder, const std::wstring& extension, bool short_name);
// A new "{GUID}" folder under base (or the user's temporary folder), Administrators
// full control, Users read and execute; empty when any step fails. With `hold`, the
// folder is created held (create_held_folder) and the hold handed back there.
std::wstring SecureTemporaryFolder(const std::wstring& base, bool short_name, file_handle* hold = nullptr);
// The access list those folders are made with, in the system's descriptor language.
extern const wchar_t kSecureFolderAccess[];
std::wstring GuidText();
// Creates a new, empty file "<prefix><8 hex digits>.tmp" in the folder (the user's
// temporary folder when empty) and returns its path; empty when none could be made.
// Unlike GetTempFileName, the name is never one the call failed to create, so it is
// never another process's file.
std::wstring CreateOwnTemporaryFile(const std::wstring& folder, const std::wstring& prefix);

// The string value (REG_SZ or REG_EXPAND_SZ, unexpanded) or the default on any
// failure, which is recorded. `access` adds e.g. KEY_WOW64_64KEY.
std::wstring RegReadString(HKEY root, const std::wstring& key, const std::wstring& value,
                           const std::wstring& default_value, REGSAM access = 0);
// The same read returning its status and leaving the last-failure record alone.
LSTATUS RegQueryString(HKEY root, const std::wstring& key, const std::wstring& value, REGSAM access,
                       std::wstring* text);

// The system's query where it exists; otherwise the default user's
// "ResourceLocale" or "Locale" (hexadecimal); else 1033.
LANGID SystemDefaultUILanguage();
// Major version of the running system (not the manifest-dependent one); 0 when unknown.
DWORD OsMajorVersion();
// A file's fixed file version (most and least significant halves); false when the
// file has no readable version resource.
bool FileVersion(const std::wstring& path, DWORD* ms, DWORD* ls);
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
  ScopedWow64Redirection(const ScopedWow64Redirection&) = delete;
  ScopedWow64Redirection& operator=(const ScopedWow64Redirection&) = delete;
  // Disables redirection until the end of the scope; false outside WOW64.
  bool switch_off();
 private:
  void* old_ = nullptr;
  bool off_ = false;
};
// True when the restart request failed.
bool RebootSystem();
// Test seam: replaces the real restart (returns the hook's answer).
void set_reboot_hook(bool (*hook)());

// Values of an INI file ("=" separator); the default when the file or key cannot
// be read. A relative file name means the current folder.
int ProfileInt(const std::wstring& file, const std::wstring& section, const std::wstring& key, int default_value);
std::wstring ProfileString(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                           const std::wstring& default_value);
// String `id` of the module's string table: the block (id / 16 + 1) for the
// language, the language with the default sublanguage, neutral with the default
// sublanguage, then neutral; the first block holding a non-empty string gives it.
bool FindStringBlock(UINT id, LANGID language, HMODULE module, std::wstring* text);

// The process token holds the Administrators group (enabled, not deny-only).
bool IsElevatedAdministrator();

}  // namespace qz
