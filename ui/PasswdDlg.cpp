#include "ui/PasswdDlg.h"

#include <vector>

#include "package/LaunchSettings.h"
#include "package/dialog_factory.h"
#include "package/load_string.h"
#include "packaged_setting.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/error_codes.h"
#include "support/process_state.h"
#include "ui/password_digest.h"

static const wchar_t kLogSource[] = L"ui\\PasswdDlg";

namespace {

constexpr int kTemplate = 1008;
constexpr int kEdit = 1000;
constexpr int kLabel = 20002;
constexpr unsigned kTextOk = 1130;
constexpr unsigned kTextCancel = 1131;
constexpr unsigned kTextLabel = 1132;
constexpr unsigned kTextCaption = 2156;

void wipe(std::vector<char>& bytes) {
  SecureZeroMemory(bytes.data(), bytes.size());
}

}  // namespace

uint32_t candidate_digest(const std::wstring& candidate) {
  int chars = static_cast<int>(candidate.size());
  if (chars == 0) return ui::password_digest(nullptr, 0);
  int need = WideCharToMultiByte(CP_THREAD_ACP, 0, candidate.data(), chars, nullptr, 0, nullptr, nullptr);
  std::vector<char> bytes(need > 0 ? static_cast<size_t>(need) : 0);
  int got = need > 0 ? WideCharToMultiByte(CP_THREAD_ACP, 0, candidate.data(), chars, bytes.data(), need, nullptr,
                                           nullptr)
                     : 0;
  // As many bytes as the candidate has characters, but never past the converted
  // text (surrogate pairs can make it shorter).
  size_t n = static_cast<size_t>(got > 0 ? got : 0);
  if (n > candidate.size()) n = candidate.size();
  uint32_t digest = ui::password_digest(reinterpret_cast<const uint8_t*>(bytes.data()), n);
  wipe(bytes);
  return digest;
}

PasswdDlg::PasswdDlg(const std::wstring& stored_digest) {
  size_t n = stored_digest.size() < kDigestCapacity - 1 ? stored_digest.size() : kDigestCapacity - 1;
  stored_digest.copy(stored_, n);
  stored_[n] = 0;
}

PasswdDlg::~PasswdDlg() = default;

bool PasswdDlg::matches(const std::wstring& candidate) const {
  return ui::digest_matches(stored_, candidate_digest(candidate));
}

bool PasswdDlg::edit_matches(HWND dialog) const {
  wchar_t buffer[kPasswordCapacity] = {};
  GetDlgItemTextW(dialog, kEdit, buffer, static_cast<int>(kPasswordCapacity));
  std::wstring candidate(buffer);
  bool ok = matches(candidate);
  SecureZeroMemory(buffer, sizeof buffer);
  SecureZeroMemory(candidate.data(), candidate.size() * sizeof(wchar_t));
  return ok;
}

INT_PTR PasswdDlg::ask(HWND parent, const LaunchSettings& settings) {
  settings_ = &settings;
  cancelled_ = false;
  return dialog_box(settings, ui::launcher_instance(), kTemplate, parent, proc, reinterpret_cast<LPARAM>(this), 0);
}

INT_PTR CALLBACK PasswdDlg::proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<PasswdDlg*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      self = reinterpret_cast<PasswdDlg*>(lparam);
      SetWindowLongPtrW(dialog, DWLP_USER, lparam);
      const LaunchSettings& s = *self->settings_;
      self->language_font_.reset(ui::create_language_font(s));
      SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(self->language_font_.get()), FALSE);
      SetDlgItemTextW(dialog, IDCANCEL, load_string(s, kTextCancel).c_str());
      SetDlgItemTextW(dialog, IDOK, load_string(s, kTextOk).c_str());
      SetDlgItemTextW(dialog, kLabel, load_string(s, kTextLabel).c_str());
      SetWindowTextW(dialog, load_string(s, kTextCaption).c_str());
      EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
      SendDlgItemMessageW(dialog, kEdit, EM_LIMITTEXT, kPasswordCapacity - 1, 0);
      if (!self->font()) self->reset(ui::create_language_font(s, L"Tahoma", 8, FW_NORMAL));
      ui::set_font_on_tree(dialog, self->font());
      SetForegroundWindow(dialog);
      return TRUE;
    }
    case WM_COMMAND:
      if (!self) break;
      if (LOWORD(wparam) == kEdit && HIWORD(wparam) == EN_CHANGE) {
        EnableWindow(GetDlgItem(dialog, IDOK), self->edit_matches(dialog));
        return TRUE;
      }
      if (LOWORD(wparam) == IDOK) {
        // Enter reaches here even while OK is disabled: only the right password ends.
        if (self->edit_matches(dialog)) EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wparam) == IDCANCEL) {
        self->cancelled_ = true;
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

bool check_installation_password(Session& session) {
  const LaunchSettings& s = session.settings();
  if (session.has_value(kValueEmbed)) {
    std::wstring title = session.get_value(kValueEmbed);
    if (FindWindowExW(HWND_MESSAGE, nullptr, L"QzPrqHook", title.c_str())) {
      QZ_LOG(L"Running under the prerequisite host: no password asked");
      return true;
    }
  }
  std::wstring stored = read_packaged_setting(L"KEY", L"PASSWORD", PasswdDlg::kDigestCapacity);
  if (stored.empty()) return true;
  PasswdDlg dialog(stored);
  bool given = dialog.matches(session.setup_password());
  if (s.silent || s.auto_) {
    if (given) return true;
    QZ_LOG(L"The setup password is missing or wrong");
    qzproc::set_exit_code(err::kWrongPassword);
    return false;
  }
  if (given) return true;
  INT_PTR result = dialog.ask(nullptr, s);
  if (result == IDOK) {
    QZ_LOG(L"The setup password was accepted");
    return true;
  }
  if (dialog.cancelled()) {
    QZ_LOG(L"The password dialog was cancelled");
    qzproc::set_exit_code(err::kCancelled);
    return false;
  }
  // A protected package never installs without the password being checked.
  QZ_LOG(L"The password dialog could not be shown, error %u", GetLastError());
  qzproc::set_exit_code(err::kWrongPassword);
  return false;
}
