// The launcher's own error dialog (template 1026) and its message boxes. Numbered
// errors show as "<number>: <text>"; the caller has set the result code to the
// same number first.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

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
  HFONT font_ = nullptr;
};

// The published launch settings (a blank record before the entry point sets them).
const LaunchSettings& ui_settings();

// Logs the text, closes the initialisation dialog and shows the error dialog.
// With `restart`, true only when the user chose to restart.
bool show_error_text(const std::wstring& text, bool restart);
// The same with the given launch settings instead of the published ones.
bool show_error_text(const LaunchSettings& settings, const std::wstring& text, bool restart);
bool show_error_id(unsigned id, bool restart);
void show_error(unsigned id);
// "<id>: <text of id>" with the text's printf-style markers filled by `args` in
// order (only texts are substituted; see ui::fill_printf_style), at most 1023
// characters, through show_error_text.
bool show_numbered_error(unsigned id, const std::vector<std::wstring>& args = {});
// The composed numbered-error text (exposed for tests).
std::wstring numbered_error_text(const LaunchSettings& settings, unsigned id, const std::vector<std::wstring>& args);
// Logs the text and shows the error dialog over the initialisation dialog, which
// stays open.
bool show_message(const std::wstring& text);
// A system message box with the wizard caption; right-aligned right-to-left
// reading for right-to-left languages. Silent launches (unless flags hold 2)
// answer `silent_answer` without showing anything.
int message_box(HWND parent, const std::wstring& text, UINT style, int silent_answer, unsigned flags);
int message_box(const LaunchSettings& settings, HWND parent, const std::wstring& text, UINT style, int silent_answer,
                unsigned flags);
// The style message_box gives the system (exposed for tests).
UINT message_box_style(const LaunchSettings& settings, UINT style);
// "<prefix> <system text of code>" through show_message; nothing when the system
// has no text for the code. Always 1.
int show_system_error(const std::wstring& prefix, DWORD code);
