#include "package/error_display.h"

#include "package/LaunchSettings.h"
#include "package/load_string.h"
#include "package/positional_text.h"
#include "support/debuglog.h"
#include "support/errors.h"
#include "support/process_state.h"

static const wchar_t kLogSource[] = L"package\\error_display";

namespace {

constexpr size_t kDialogTextCapacity = 1024;  // characters the error dialog holds, terminator included
ErrorDisplay* g_display = nullptr;

void log_text(const std::wstring& text) {
  if (dbglog::is_enabled()) QZ_LOG(L"%s", text.c_str());
}

}  // namespace

void set_error_display(ErrorDisplay* display) { g_display = display; }

std::wstring numbered_error_text(const LaunchSettings& settings, unsigned id, const std::vector<std::wstring>& args) {
  std::wstring text = std::to_wstring(id) + L": " + lang::fill_printf_style(load_string(settings, id), args);
  if (text.size() > kDialogTextCapacity - 1) text.resize(kDialogTextCapacity - 1);
  return text;
}

void report_message(const LaunchSettings& settings, unsigned id, const std::wstring& arg) {
  QZ_LOG(L"Error %u: %s", id, lang::fill_printf_style(load_string(settings, id), {arg}).c_str());
  if (!settings.silent && g_display) g_display->show_error(settings, numbered_error_text(settings, id, {arg}), false);
}

void report_error(const LaunchSettings& settings, int code, const std::wstring& arg) {
  qzproc::set_exit_code(code);
  report_message(settings, static_cast<unsigned>(code), arg);
}

void report_error(int code, const std::wstring& arg) {
  static const LaunchSettings blank;
  const LaunchSettings* s = qzproc::settings();
  report_error(s ? *s : blank, code, arg);
}

bool show_error_text(const LaunchSettings& settings, const std::wstring& text, bool restart) {
  log_text(text);
  return !settings.silent && g_display && g_display->show_error(settings, text, restart);
}

bool show_message(const LaunchSettings& settings, const std::wstring& text) {
  log_text(text);
  return !settings.silent && g_display && g_display->show_message(settings, text);
}

int show_system_error(const LaunchSettings& settings, const std::wstring& prefix, DWORD code) {
  std::wstring message = qz::system_text(code);
  if (message.empty())
    QZ_LOG(L"No system text for error %u", code);
  else
    show_message(settings, prefix.empty() ? message : prefix + L" " + message);
  return 1;
}

int message_box(const LaunchSettings& settings, HWND parent, const std::wstring& text, UINT style, int silent_answer,
                unsigned flags) {
  if (settings.silent && !(flags & 2)) return silent_answer;
  return g_display ? g_display->message_box(settings, parent, text, style) : 0;
}
