// Process-wide state shared by the launcher's parts (one launcher process, one
// user-interface thread).
#pragma once
#include <windows.h>

#include <string>

#include "support/handles.h"

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

// The launcher's own file, held (qz::hold_file) from the start of the run: the
// stream and the copy of the launcher are read through it, so a file put under
// its name later is never what is read, copied or started. False when it cannot
// be opened; own_image() is then null.
bool hold_own_image();
HANDLE own_image();
// Lets go of it (the first launcher's file may go while a waited-for clone runs).
void release_own_image();

// Folders the run works in, held (qz::hold_folder) so that nobody can rename or
// replace them while it runs. False (last error set) when the folder cannot be
// held: a file or a link there is refused. Holding a folder twice keeps one hold.
bool hold_folder(const std::wstring& folder);
// Keeps `hold`, a hold on `folder` made elsewhere (create_held_folder), for the run.
void adopt_folder_hold(const std::wstring& folder, qz::file_handle hold);
// The hold on `folder`, or null.
HANDLE folder_hold(const std::wstring& folder);
// Takes the hold out of the process's keeping (to hand it to another process).
qz::file_handle take_folder_hold(const std::wstring& folder);
// Lets go of the folder, just before the run removes it.
void release_folder(const std::wstring& folder);

// A hold (qz::hold_file) on a file whose signature passed its check, kept for the
// run so that the file used later is the file checked.
void keep_file_hold(qz::file_handle hold);
// Lets go of every kept file hold, before the clean-up deletes the run's files.
void release_file_holds();

}  // namespace qzproc
