// Starting other programs: the relaunched copy, MSIEXEC.EXE, engine installers.
// The waits keep the thread's message queue serviced; the ended program's exit
// code is stored in the process-wide exit code.
#pragma once
#include <string>

class Session;

constexpr int kNotStarted = static_cast<int>(0xCCCCCCCC);

bool launch_no_wait(const std::wstring& command_line, bool show);
int launch_and_wait(const std::wstring& command_line, bool show);
int shell_execute_and_wait(const std::wstring& file, const std::wstring& parameters, bool show, Session* session);
