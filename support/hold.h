// Holding files and folders against replacement. An elevated launcher works in
// places an ordinary user can write (its own folder in %TEMP%, the folder it was
// started from). While a handle opened without delete sharing lives, the entry it
// names cannot be renamed, deleted or replaced by another one; without write
// sharing a file's bytes stay as they are.
#pragma once
#include <windows.h>

#include <string>

#include "support/handles.h"

namespace qz {

// ERROR_STOPPED_ON_SYMLINK, which these headers lack: the entry is a junction or a
// symbolic link.
inline constexpr DWORD kErrorIsLink = 681;

// Opens the folder itself (a link there is opened, never followed) so that it
// cannot be renamed, removed or replaced while held; entries inside can still be
// made and deleted. Null with the thread's last error: the system's, or
// ERROR_DIRECTORY (267) for a file and kErrorIsLink for a junction or link.
file_handle hold_folder(const std::wstring& folder);

// Creates the folder, which must not exist yet, and holds it as hold_folder does in
// the same step: there is no moment in which another one could take its place.
// `security` (or null) gives its access list. Null with the thread's last error
// (ERROR_ALREADY_EXISTS when the name is taken).
file_handle create_held_folder(const std::wstring& folder, SECURITY_ATTRIBUTES* security);

// An existing file opened for reading that nobody may write, rename or delete
// while held (others may still read it, and start it as a program).
file_handle hold_file(const std::wstring& path);

// Turns `writer`, a handle of a file just written under `path`, into a hold_file
// handle on the same file; `writer` is closed. Null (last error set) when someone
// else has the file open for writing or deleting by then.
file_handle hold_written_file(file_handle writer, const std::wstring& path);

}  // namespace qz
