// portable
// Hiding the setup password (the /p switch) before a command line is logged.
#pragma once
#include <string>

// The text with the value of every /p or -p argument (either case) replaced by
// "***". Arguments are found the way the process argument splitter and the
// switch tokenizer find them, so a value that either of them would hand to the
// switch handler is hidden: quotes, tabs and backslashes do not let it through.
std::wstring mask_password_in_command_line(const std::wstring& text);
