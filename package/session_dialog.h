// What the session needs of a dialog that shows its progress: the initialisation
// dialog (owned by the session) or, in chainsetup, the prerequisite dialog while
// it shows (owned by the prerequisite manager).
#pragma once
#include <windows.h>

class SessionDialog {
 public:
  virtual ~SessionDialog() = default;
  // Null once the window is gone.
  virtual HWND window() const = 0;
  // Pumps messages and shows the percentage; true when the user has cancelled.
  virtual bool set_progress(int percent) = 0;
  virtual bool cancelled() const = 0;
  // Moves the bar by `amount` (back to 0 once it reached 100) without dispatching
  // input: a program is running and must not get the user's clicks.
  virtual void advance_bar(int amount) {}
  // Pumps until the splash time since the dialog appeared has passed; false when
  // the user cancelled.
  virtual bool wait_out_splash() { return !cancelled(); }
  // The progress animation while a program runs (the prerequisite dialog).
  virtual void start_stop_progress(bool start) {}
  virtual void hide() {}
  virtual void close() {}
};
