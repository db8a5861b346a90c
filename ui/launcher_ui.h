// The launcher's dialogs behind the run's user-interface seams (the error path of
// package/error_display.h and the session's SessionUi). The executables install
// them before the launcher runs; so do test programs that show dialogs.
#pragma once

namespace ui {
void install_launcher_ui();
}  // namespace ui
