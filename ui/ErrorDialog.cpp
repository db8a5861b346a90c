#include "ui/ErrorDialog.h"

#include "package/LaunchSettings.h"
#include "package/dialog_factory.h"
#include "package/languages.h"
#include "package/load_string.h"
#include "package/positional_text.h"
#include "support/debuglog.h"
#include "support/process_state.h"
#include "support/utils.h"
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

}  // namespace

ErrorDialog::ErrorDialog(const LaunchSettings& settings, bool restart) : restart_(restart), settings_(settings) {}

ErrorDialog::~ErrorDialog() = default;

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
      self->font_.reset(ui::create_language_font(self->settings_));
      SetWindowTextW(dialog, wizard_caption(self->settings_, false).c_str());
      HWND text = GetDlgItem(dialog, kMessageText);
      if (self->font_) SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(self->font_.get()), FALSE);
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
      if (self) self->font_.reset();
      break;
  }
  return FALSE;
}

UINT message_box_style(const LaunchSettings& settings, UINT style) {
  return is_rtl_language(settings, settings.ui_language) ? style | kRightToLeftStyles : style;
}

namespace ui {
namespace {

class ErrorDialogs : public ErrorDisplay {
 public:
  bool show_error(const LaunchSettings& settings, const std::wstring& text, bool restart) override {
    close_setup_window();
    ErrorDialog dialog(settings, restart);
    return dialog.show(text, nullptr);
  }
  bool show_message(const LaunchSettings& settings, const std::wstring& text) override {
    ErrorDialog dialog(settings, false);
    return dialog.show(text, setup_window());
  }
  int message_box(const LaunchSettings& settings, HWND parent, const std::wstring& text, UINT style) override {
    return MessageBoxW(parent, text.c_str(), wizard_caption(settings, false).c_str(),
                       message_box_style(settings, style));
  }
};

}  // namespace

ErrorDisplay& error_dialogs() {
  static ErrorDialogs dialogs;
  return dialogs;
}

}  // namespace ui
