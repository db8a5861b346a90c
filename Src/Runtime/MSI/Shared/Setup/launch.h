// Starting other programs: the relaunched copy, MSIEXEC.EXE, engine installers.
// The waits keep the thread's message queue serviced; the ended program's exit
// code is stored in the process-wide exit code.
#pragma once
#include <string>
#include <vector>

#include "support/handles.h"

class Session;

#include "support/error_codes.h"

// 0xCCCCCCCC, the exit code of a program that could not be started.
using err::kNotStarted;

// The system folder's MSIEXEC.EXE. Started by this full path, never by its bare
// name, which the system looks up in the launcher's own folder first (a download
// folder, where anyone may have put a file of that name). Empty when the system
// folder cannot be read.
std::wstring msiexec_path();

// Handles handed to a started program: it inherits these (and no other handle) and
// this process closes its own once the program has started, so what they hold
// stays held without a gap for as long as the program runs. Left open when the
// program could not be started.
using HandedOver = std::vector<qz::file_handle>;

bool launch_no_wait(const std::wstring& command_line, bool show, HandedOver* hand_over = nullptr);
int launch_and_wait(const std::wstring& command_line, bool show, HandedOver* hand_over = nullptr);
int shell_execute_and_wait(const std::wstring& file, const std::wstring& parameters, bool show, Session* session);
