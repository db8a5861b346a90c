// The launcher's only log: an optional UTF-16LE text file, one line per call.
// Off unless the `debuglog` switch or the per-user registry switch turns it on.
// Logging never fails visibly and never changes the thread's last error.
#pragma once
#include <string>

namespace dbglog {

void enable();
void set_detailed(bool detailed);
void set_log_path(const std::wstring& path);
// The folder from `VerboseLogPath` (or else the default folder) joined with
// "Brackenwright.log".
std::wstring default_log_path();
// The default folder: the launcher's own folder unless set (empty restores it).
void set_default_folder(const std::wstring& folder);
// The path lines go to now (the set path, or the default one).
std::wstring current_log_path();
bool is_enabled();
// Undecided (registry not yet read) or enabled: worth building a message for.
bool is_possibly_on();
void log(const std::wstring& message, const wchar_t* source, int line);
// printf-style; %s takes a wide string (the Windows wide printf rules).
void logf(const wchar_t* source, int line, const wchar_t* format, ...);

// Test hook: forget everything decided so far (as at process start).
void reset_for_tests();

}  // namespace dbglog

// Each source file defines its fixed source name once, e.g.
//   static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\Setup";
// and logs with QZ_LOG(L"Launch result %d", 1).
#define QZ_LOG(...) ::dbglog::logf(kLogSource, __LINE__, __VA_ARGS__)
