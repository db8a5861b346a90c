// Process entry of both launchers: decides the role of this process and carries it out.
#pragma once
#include <windows.h>

// Runs the launcher for one process and returns its exit code.
int launcher_main(HINSTANCE module, const wchar_t* command_line);
