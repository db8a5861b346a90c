// Numbered errors, notices and questions as every layer of the launcher raises
// them. The user interface installs the dialogs that show them; until it has (and
// in programs without one) texts only reach the debug log and questions take the
// answer their caller gives for a silent run.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct LaunchSettings;

// What the launcher's dialogs do for the functions below.
class ErrorDisplay {
 public:
  virtual ~ErrorDisplay() = default;
  // The error dialog with a finished text, the initialisation dialog closed first.
  // With `restart` it offers to restart the computer; true only when it ended
  // normally (in the restart form: through Restart).
  virtual bool show_error(const LaunchSettings& settings, const std::wstring& text, bool restart) = 0;
  // The error dialog over the initialisation dialog, which stays open.
  virtual bool show_message(const LaunchSettings& settings, const std::wstring& text) = 0;
  // A system message box with the wizard caption; the button pressed (0 when none
  // could be shown).
  virtual int message_box(const LaunchSettings& settings, HWND parent, const std::wstring& text, UINT style) = 0;
};
// Null removes the installed display.
void set_error_display(ErrorDisplay* display);

// The one way a step fails with a numbered error: the exit code becomes `code`,
// the log gets "Error <code>: <text>" and, unless the run is silent, the error
// dialog shows "<code>: <text>", the text being the string-table text of `code`
// with its printf-style markers filled by `arg`.
void report_error(const LaunchSettings& settings, int code, const std::wstring& arg = std::wstring());
// The same with the process's published launch settings.
void report_error(int code, const std::wstring& arg = std::wstring());
// report_error's log line and dialog without touching the result code, for an
// outcome whose result code is another number (the script engine's own answer).
void report_message(const LaunchSettings& settings, unsigned id, const std::wstring& arg = std::wstring());

// "<id>: <text of id>" with the text's printf-style markers filled by `args` in
// order, at most 1023 characters (what the error dialog holds).
std::wstring numbered_error_text(const LaunchSettings& settings, unsigned id, const std::vector<std::wstring>& args);

// A finished text: logged, then shown in the error dialog (nothing when silent).
bool show_error_text(const LaunchSettings& settings, const std::wstring& text, bool restart);
// The same over the initialisation dialog, which stays open.
bool show_message(const LaunchSettings& settings, const std::wstring& text);
// "<prefix> <system text of code>" through show_message; nothing when the system
// has no text for the code. Always 1.
int show_system_error(const LaunchSettings& settings, const std::wstring& prefix, DWORD code);
// A question or notice in a system message box: the button pressed, 0 when no box
// could be shown. Silent runs (unless flags hold 2) get `silent_answer` without one.
int message_box(const LaunchSettings& settings, HWND parent, const std::wstring& text, UINT style, int silent_answer,
                unsigned flags = 0);
