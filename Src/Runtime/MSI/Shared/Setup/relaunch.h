// The parent role's steps that touch the system: companion-file copies, the UNC
// form of the first launcher's folder, the return-code settings and the end of
// a waited-for clone.
#pragma once
#include <windows.h>

#include <string>

#include "support/handles.h"

// Copies the launcher (copy_name), "Setup.INI", "QZSetup.dll", the skin and the
// language files of `Supported` from source to temp, recording them in the
// deletion list (the first three always, the others when copied). The launcher's
// bytes come from `launcher`, the handle held on the running launcher's file (by
// name from source when null). Each copy is a new file that takes its name only
// once complete. Returns the hold (qz::hold_written_file) on the launcher's copy;
// null when it could not be made whole.
qz::file_handle copy_companion_files(HANDLE launcher, const std::wstring& source, const std::wstring& temp,
                                     const std::wstring& copy_name);

// The UNC form of a folder on a network drive; "" for a local or already UNC folder
// or when mpr.dll cannot tell.
std::wstring universal_name(const std::wstring& folder);

struct ReturnCodeSettings {
  bool wait_installation = false;
  bool custom = false;    // CustomRetCode
  int on_success = -1;    // CustomRetCodeOnSuccess, -1 when unset
  int on_fail = -1;       // CustomRetCodeOnFail, -1 when unset
};
ReturnCodeSettings read_return_code_settings();

// After the wait for the clone: a clone that reported 7002 (restart) makes this
// process restart the computer; a clone that never started gives the custom
// failure code when one is set. Returns the parent's exit code.
int finish_waited_clone(int result, const ReturnCodeSettings& codes);

// The parent's exit code when the copy of the launcher could not be made: 1151
// (the temporary location cannot be written), or the custom failure code.
int copy_failed_exit_code(const ReturnCodeSettings& codes);

// The no-wait parent's exit code once the clone started.
int started_clone_exit_code(const ReturnCodeSettings& codes);
