// The language dialog (template 121): the supported languages by name, the
// current one selected; OK makes the chosen one current.
#pragma once
#include <windows.h>

struct LaunchSettings;

// kLanguageDialogOk (package/languages.h) when a language was chosen,
// kLanguageDialogCancelled when cancelled; a dialog that cannot be created gives
// 0x80070000 | the system error (0x8000FFFF without one).
HRESULT show_language_dialog(LaunchSettings& settings, HWND parent = nullptr);
