// portable
// The custom return codes of setup.ini applied to the launcher's result code.
#pragma once
#include <functional>
#include <string>

// Reads one key of the `Startup` section.
using StartupReader = std::function<std::wstring(const std::wstring& key)>;

// `CustomRetCode` true: the code is classified as abort (ScriptDriven 1: -3; else
// -1 or 1602), fail (other non-zero) or success (0) and replaced by
// `CustomRetCodeOnAbort`/`OnFail`/`OnSuccess` when that key is not empty ("0x"
// hexadecimal, else decimal). Unchanged while a restart is needed or scheduled.
int map_custom_exit_code(int code, bool reboot_pending, const StartupReader& read);
