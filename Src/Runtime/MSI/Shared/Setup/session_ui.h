// What a run asks of the user interface beyond errors and questions (those go
// through package/error_display.h): the initialisation dialog, the splash, the
// password and the language dialog. The user interface installs its dialogs at
// start; without them (test programs) a run shows nothing and a protected
// package is refused as when no dialog can ask.
#pragma once
#include <windows.h>

#include <memory>

#include "package/session_dialog.h"

class Session;
struct LaunchSettings;

class SessionUi {
 public:
  virtual ~SessionUi() = default;
  // The initialisation dialog from `template_id` (null when none can be shown),
  // out of the splash bitmap's way when that is shown.
  virtual std::unique_ptr<SessionDialog> create_setup_dialog(Session& session, int template_id) = 0;
  // Closes the initialisation dialog and the splash, whichever is shown.
  virtual void close_setup_windows() = 0;
  // The splash bitmap unless silent or quiet; true when it is shown.
  virtual bool show_splash(Session& session) = 0;
  // The installation password check; false stops the launch (the exit code holds
  // 1209 or -1).
  virtual bool check_password(Session& session) = 0;
  // The language dialog; HRESULTs as show_language_dialog gives them.
  virtual HRESULT show_language_dialog(LaunchSettings& settings) = 0;
};
// Null removes the installed dialogs.
void set_session_ui(SessionUi* ui);
// The installed dialogs, or the stand-in that shows nothing.
SessionUi& session_ui();
