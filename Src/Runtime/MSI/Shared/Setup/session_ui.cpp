// The session's user-interface edge: numbered errors go to the error dialog and
// questions to the launcher's message box.
#include <windows.h>

#include "package/LaunchSettings.h"
#include "session.h"
#include "ui/ErrorDialog.h"

void show_session_error(const LaunchSettings& settings, unsigned id, const std::wstring& arg) {
  show_error_text(settings, numbered_error_text(settings, id, {arg}), false);
}

int ask_session_question(const LaunchSettings& settings, const std::wstring& text, UINT style, int silent_answer) {
  return message_box(settings, nullptr, text, style, silent_answer, 0);
}
