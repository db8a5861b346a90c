// The run's deletion list "_QZMSIDEL.INI" in the temporary folder: whoever puts
// a file or folder there that must go at the end records it here.
#pragma once
#include <string>

// [Files] <last component of path> = path
void record_file(const std::wstring& path);
// [Files] key = path
void record_file_as(const std::wstring& path, const std::wstring& key);
// [Folders] <last component of path> = path
void record_folder(const std::wstring& path);

// The deletion list's full path ("" while there is no temporary folder).
std::wstring deletion_list_path();

// Works the deletion list of the process's temporary folder off: one pass that
// deletes the listed files and folders, the list and the then empty folder, and
// hands the folder to a command interpreter when the launcher runs from it.
// Stands in for the full clean-up with its retries until that replaces it.
void process_deletion_list();
