// Process-wide state shared by the launcher's parts (one launcher process, one
// user-interface thread).
#pragma once
#include <windows.h>

#include <string>

namespace qzproc {

// The result code the process exits with: error numbers, child exit codes,
// 7002 (restart pending), -1 (cancelled), 0xCCCCCCCC (child not started).
int exit_code();
void set_exit_code(int code);

// The user's Cancel in any of the launcher's dialogs: set once, it stays for the
// rest of the process (a later dialog does not make the launch forget it).
bool cancelled();
void set_cancelled(bool on);

HINSTANCE module();
void set_module(HINSTANCE module);

// The run's temporary folder; empty until the entry point chooses it. The
// clean-up deletes it at the end. A folder that does not fit its 1024 characters
// (terminator included) is refused: logged, false, and the folder stays as it was.
const std::wstring& temp_folder();
bool set_temp_folder(const std::wstring& folder);

// The launcher's own file name as the system reports it.
std::wstring own_file_name();

}  // namespace qzproc
