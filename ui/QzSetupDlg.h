// The setup initialisation dialog: a modeless window with the product's caption,
// a main text, a status line, a progress bar and Cancel, shown while the launcher
// prepares the installation; and the splash bitmap before it. One per process:
// the state is process-wide, the object is the session's handle on it.
#pragma once
#include <windows.h>

#include <string>

class Session;

#include "package/session_dialog.h"
#include "ui/setup_window.h"

class QzSetupDlg : public SessionDialog {
 public:
  static constexpr int kLargeLayout = 1001;
  static constexpr int kSmallLayout = 1000;
  static constexpr UINT kCancelMessage = WM_APP + 0x32;  // posted to the thread on Cancel
  static constexpr UINT kPauseAnimation = WM_USER + 1;   // lParam 1 pauses, others resume

  QzSetupDlg() = default;
  ~QzSetupDlg() override;

  // Creates the dialog from `template_id` unless the launch is silent, the
  // session hides its progress or a dialog exists. With `splash_shown` the
  // dialog moves to the lower-right corner. False when there is no window.
  bool start(HWND parent, Session& session, int template_id, bool splash_shown);

  HWND window() const override;
  // Pumps messages and moves the bar (nothing when it already shows `percent`);
  // the cancel flag.
  bool set_progress(int percent) override;
  bool cancelled() const override;
  void advance_bar(int amount) override;
  bool wait_out_splash() override { return !wait_splash(); }
  void hide() override;
  void close() override;
  // Pumps, then advances the bar by `amount` (back to 0 once it reached 100).
  void step_progress(int amount);
  // Dispatches queued messages until none is left or Cancel was pressed.
  bool pump();
  // Pumps until `SplashTime` seconds have passed since the dialog was created;
  // the cancel flag.
  bool wait_splash();

 private:
  bool owns_ = false;  // this object created the window: it closes it at its end
};
