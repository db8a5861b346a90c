// The process's initialisation dialog and splash window, for the parts of the
// launcher that only need to reach the windows (no session involved).
#pragma once
#include <windows.h>

class Session;

// The dialog window of the process (null when none).
HWND setup_window();
// Closes the dialog and the splash window when they exist.
void close_setup_window();
// Hides both without destroying them.
void hide_setup_window();
// Moves the bar by `amount` without pumping (back to 0 once it reached 100), for
// waits that must not dispatch input.
void advance_setup_bar(int amount);
// Dispatches queued messages (dialog messages through the dialog) until none is
// left or Cancel was pressed; the cancel flag.
bool pump_setup_messages();
// QzSetupDlg::wait_splash for the process's dialog (the cancel flag; at once
// without a dialog).
bool wait_setup_splash();
// The process-wide cancel flag (set by the dialog's Cancel).
bool setup_cancel_flag();
// Clears the flag. Only for tests, which run many dialogs in one process; a
// launch never forgets a Cancel.
void reset_setup_cancel_flag_for_tests();

// The splash bitmap (`Setup.bmp` settings or member): true when it is shown.
bool show_splash_bitmap(Session& session);
// Whether the splash was shown (the dialog then keeps out of its way).
bool splash_was_shown();

// Where the dialog's lower-right corner goes after a splash, for a work area
// (taskbar subtracted or not) of the screen.
POINT corner_after_splash(const RECT& work, bool taskbar_subtracted);
