// The Windows Installer calls of the prerequisite subsystem, bound by name from
// the system's msi.dll on first use: installing a prerequisite package in-process
// and formatting command lines through the running main installation. A missing
// library or entry point answers ERROR_MOD_NOT_FOUND or ERROR_PROC_NOT_FOUND (or
// the value each function names), never a crash.
#pragma once
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>

namespace prq::msi {

// INSTALLUILEVEL_NOCHANGE when unavailable.
INSTALLUILEVEL SetInternalUI(INSTALLUILEVEL level, HWND* window);
// Null when unavailable (and then nothing was installed).
INSTALLUI_HANDLERW SetExternalUI(INSTALLUI_HANDLERW handler, DWORD filter, void* context);
UINT EnableLog(DWORD mode, const wchar_t* file, DWORD attributes);
UINT InstallProduct(const wchar_t* package, const wchar_t* command_line);
UINT SetProperty(MSIHANDLE install, const wchar_t* name, const wchar_t* value);
// 0 when unavailable.
MSIHANDLE CreateRecord(UINT fields);
UINT RecordSetString(MSIHANDLE record, UINT field, const wchar_t* value);
UINT FormatRecord(MSIHANDLE install, MSIHANDLE record, wchar_t* buffer, DWORD* size);
UINT CloseHandle(MSIHANDLE handle);

// `text` formatted by the installation `install` through a one-field record: a
// buffer of 260 characters, grown once when the installer asks for more. The text
// unchanged when formatting fails.
std::wstring format_text(MSIHANDLE install, const std::wstring& text);

}  // namespace prq::msi
