// Starting other programs: the relaunched copy, MSIEXEC.EXE, engine installers.
// The waits keep the thread's message queue serviced; the ended program's exit
// code is stored in the process-wide exit code.
#pragma once
#include <string>

class Session;

#include "support/error_codes.h"

// 0xCCCCCCCC, the exit code of a program that could not be started.
using err::kNotStarted;

// The system folder's MSIEXEC.EXE. Started by this full path, never by its bare
// name, which the system looks up in the launcher's own folder first (a download
// folder, where anyone may have put a file of that name). Empty when the system
// folder cannot be read.
std::wstring msiexec_path();

bool launch_no_wait(const std::wstring& command_line, bool show);
int launch_and_wait(const std::wstring& command_line, bool show);
int shell_execute_and_wait(const std::wstring& file, const std::wstring& parameters, bool show, Session* session);
