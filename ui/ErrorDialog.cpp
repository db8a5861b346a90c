#include "ui/ErrorDialog.h"

#include "package/LaunchSettings.h"
#include "package/dialog_factory.h"
#include "package/languages.h"
#include "package/load_string.h"
#include "support/debuglog.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "ui/positional_text.h"
#include "ui/setup_window.h"
#include "ui/ui_fonts.h"

static const wchar_t kLogSource[] = L"ui\\ErrorDialog";

namespace {

constexpr int kTemplate = 1026;
constexpr int kMessageText = 1028;
constexpr int kRestartButton = 102;
constexpr unsigned kTextRestart = 1200;
constexpr unsigned kTextOk = 1813;
constexpr UINT kRightToLeftStyles = MB_RIGHT | MB_RTLREADING;  // 0x180000

void log_text(const std::wstring& text) {
  if (dbglog::is_enabled()) QZ_LOG(L"%s", text.c_str());
}

}  // namespace

const LaunchSettings& ui_settings() {
  static const LaunchSettings blank;
  const LaunchSettings* s = qzproc::settings();
  return s ? *s : blank;
}

ErrorDialog::ErrorDialog(const LaunchSettings& settings, bool restart) : restart_(restart), settings_(settings) {}

ErrorDialog::~ErrorDialog() {
  if (font_) DeleteObject(font_);
}

bool ErrorDialog::show(const std::wstring& text, HWND parent) {
  size_t n = text.size() < kTextCapacity - 1 ? text.size() : kTextCapacity - 1;
  text.copy(text_, n);
  text_[n] = 0;
  result_ = dialog_box(settings_, ui::launcher_instance(), kTemplate, parent, proc, reinterpret_cast<LPARAM>(this), 0);
  return result_ == kAcknowledged;
}

INT_PTR CALLBACK ErrorDialog::proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<ErrorDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      self = reinterpret_cast<ErrorDialog*>(lparam);
      SetWindowLongPtrW(dialog, DWLP_USER, lparam);
      self->font_ = ui::create_language_font(self->settings_);
      SetWindowTextW(dialog, wizard_caption(self->settings_, false).c_str());
      HWND text = GetDlgItem(dialog, kMessageText);
      if (self->font_) SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(self->font_), FALSE);
      SetWindowTextW(text, self->text_);
      int shown = self->restart_ ? kRestartButton : IDOK;
      int hidden = self->restart_ ? IDOK : kRestartButton;
      ShowWindow(GetDlgItem(dialog, hidden), SW_HIDE);
      SetDlgItemTextW(dialog, shown, load_string(self->settings_, self->restart_ ? kTextRestart : kTextOk).c_str());
      SendMessageW(dialog, DM_SETDEFID, shown, 0);
      SetFocus(GetDlgItem(dialog, shown));
      SetForegroundWindow(dialog);
      return FALSE;  // focus set here
    }
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDOK:
          if (self && self->restart_) return TRUE;  // hidden in the restart form
          EndDialog(dialog, kAcknowledged);
          return TRUE;
        case IDCANCEL:
          // Esc and the close box acknowledge a notice like OK; a restart they
          // only put off, so the caller must not take it as done.
          if (self && self->restart_) {
            QZ_LOG(L"The restart offered by the error dialog was put off");
            EndDialog(dialog, kDeclined);
          } else {
            EndDialog(dialog, kAcknowledged);
          }
          return TRUE;
        case kRestartButton:
          if (self && self->restart_) {
            QZ_LOG(L"Restarting the computer from the error dialog");
            qz::RebootSystem();
            EndDialog(dialog, kAcknowledged);
          }
          return TRUE;
      }
      break;
    case WM_DESTROY:
      if (self && self->font_) {
        DeleteObject(self->font_);
        self->font_ = nullptr;
      }
      break;
  }
  return FALSE;
}

bool show_error_text(const LaunchSettings& settings, const std::wstring& text, bool restart) {
  log_text(text);
  close_setup_window();
  ErrorDialog dialog(settings, restart);
  return dialog.show(text, nullptr);
}

bool show_error_text(const std::wstring& text, bool restart) { return show_error_text(ui_settings(), text, restart); }

bool show_error_id(unsigned id, bool restart) { return show_error_text(load_string(ui_settings(), id), restart); }

void show_error(unsigned id) { show_error_id(id, false); }

std::wstring numbered_error_text(const LaunchSettings& settings, unsigned id, const std::vector<std::wstring>& args) {
  std::wstring text = std::to_wstring(id) + L": " + ui::fill_printf_style(load_string(settings, id), args);
  if (text.size() > ErrorDialog::kTextCapacity - 1) text.resize(ErrorDialog::kTextCapacity - 1);
  return text;
}

bool show_numbered_error(unsigned id, const std::vector<std::wstring>& args) {
  return show_error_text(numbered_error_text(ui_settings(), id, args), false);
}

bool show_message(const std::wstring& text) {
  log_text(text);
  ErrorDialog dialog(ui_settings(), false);
  return dialog.show(text, setup_window());
}

UINT message_box_style(const LaunchSettings& settings, UINT style) {
  return is_rtl_language(settings, settings.ui_language) ? style | kRightToLeftStyles : style;
}

int message_box(HWND parent, const std::wstring& text, UINT style, int silent_answer, unsigned flags) {
  return message_box(ui_settings(), parent, text, style, silent_answer, flags);
}

int message_box(const LaunchSettings& s, HWND parent, const std::wstring& text, UINT style, int silent_answer,
                unsigned flags) {
  if (s.silent && !(flags & 2)) return silent_answer;
  return MessageBoxW(parent, text.c_str(), wizard_caption(s, false).c_str(), message_box_style(s, style));
}

int show_system_error(const std::wstring& prefix, DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  if (n == 0 || !buffer) {
    QZ_LOG(L"No system text for error %u", code);
    return 1;
  }
  std::wstring message(buffer, n);
  LocalFree(buffer);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
    message.pop_back();
  show_message(prefix.empty() ? message : prefix + L" " + message);
  return 1;
}
