// The launcher's own error dialog (template 1026) and its message boxes: what the
// layers' error path shows (package/error_display.h).
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "package/error_display.h"
#include "support/handles.h"

struct LaunchSettings;

class ErrorDialog {
 public:
  static constexpr size_t kTextCapacity = 1024;  // characters with the terminator

  // With `restart` the dialog offers "Restart" (which restarts the computer)
  // instead of "OK".
  ErrorDialog(const LaunchSettings& settings, bool restart);
  virtual ~ErrorDialog();
  ErrorDialog(const ErrorDialog&) = delete;
  ErrorDialog& operator=(const ErrorDialog&) = delete;

  // Runs the dialog modally with a copy of `text` cut to 1023 characters; true
  // when it ended normally: acknowledged, or in the restart form only through
  // Restart. False when it could not be created (or the launch is silent), and
  // in the restart form when Esc or the close box put the restart off.
  bool show(const std::wstring& text, HWND parent);
  // The restart form ended without restarting (Esc or the close box), as against
  // a dialog that could not be shown: show() answers false for both. No caller of
  // the launcher needs the difference yet; it is kept for callers and the tests.
  bool declined() const { return result_ == kDeclined; }

  const wchar_t* text() const { return text_; }

 private:
  static constexpr INT_PTR kAcknowledged = 1;
  static constexpr INT_PTR kDeclined = 2;

  static INT_PTR CALLBACK proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

  wchar_t text_[kTextCapacity] = {};
  INT_PTR result_ = -1;
  bool restart_;
  const LaunchSettings& settings_;
  qz::gdi_object<HFONT> font_;
};

// The style a message box gets from the launcher: right-aligned right-to-left
// reading added for right-to-left languages (exposed for tests).
UINT message_box_style(const LaunchSettings& settings, UINT style);

namespace ui {
// The error dialog and message boxes behind the layers' error path
// (package/error_display.h).
ErrorDisplay& error_dialogs();
}  // namespace ui
