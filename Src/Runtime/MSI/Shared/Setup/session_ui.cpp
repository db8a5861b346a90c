// The session's user-interface edge: numbered errors go to the error dialog and
// questions to the launcher's message box.
#include <windows.h>

#include "LaunchSettings.h"
#include "session.h"
#include "ui/ErrorDialog.h"

void show_session_error(const LaunchSettings& settings, unsigned id, const std::wstring& arg) {
  show_numbered_error(id, {arg});
}

int ask_session_question(const LaunchSettings& settings, const std::wstring& text, UINT style, int silent_answer) {
  return message_box(nullptr, text, style, silent_answer, 0);
}
