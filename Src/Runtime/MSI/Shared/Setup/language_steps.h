// The language steps of a run: the UI language, the language dialog, the
// code-page check and the language transform.
#pragma once
#include <cstdint>

class Session;

// Chooses the UI language (the installed product's when it has one) and stores it.
void choose_language(Session& session);

enum LanguageDialogResult { kLanguageChosen = 1, kLanguageCancelled = 0, kLanguageDialogFailed = -1 };
// kLanguageDialogFailed leaves the system error in GetLastError. Both endings
// other than a choice set the exit code (-1 when cancelled, else the dialog's
// failure result, 0x80070000 with the system error).
int show_language_dialog(Session& session);
// False: the current language's code page is not installed; the exit code holds
// 1208 and the error has been shown.
bool check_code_page(Session& session);
// The language transform for the chosen language (session value 6). False when
// the transform in the stream could not be extracted: the launch stops (the error
// has been reported).
bool select_transform(Session& session);
