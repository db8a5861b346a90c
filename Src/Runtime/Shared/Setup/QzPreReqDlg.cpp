#include "QzPreReqDlg.h"

#include <commctrl.h>

#include "SetupPrereqMgr.h"
#include "package/LaunchSettings.h"
#include "package/dialog_factory.h"
#include "package/error_display.h"
#include "package/languages.h"
#include "package/load_string.h"
#include "package/positional_text.h"
#include "prereq_host.h"
#include "prereq_manager_rules.h"
#include "prereq_msi.h"
#include "support/debuglog.h"
#include "support/error_codes.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\Shared\\Setup\\QzPreReqDlg";

namespace {

constexpr int kTemplate = 1034;
constexpr int kList = 1035;
constexpr int kIntroText = 1006;
constexpr int kStatusLine = 1003;
constexpr int kMainText = 1001;
constexpr int kProgressBar = 301;
constexpr int kDetail1 = 1004;
constexpr int kDetail2 = 1005;
constexpr int kInstallButton = IDOK;
constexpr int kCancelButton = 9;
constexpr unsigned kTextCancel = 1131, kTextInstall = 1133, kTextIntro = 1652, kTextCancelAfter = 1654;
constexpr unsigned kTextPending = 1659, kTextStatus = 1661, kTextRequirement = 1662, kTextDownloadFailed = 1614;
constexpr unsigned kTextNoPrivileges = 2196;
constexpr UINT kMarqueePeriodMs = 100;
#ifndef BCM_SETSHIELD
constexpr UINT BCM_SETSHIELD = 0x160C;
#endif

// One prerequisite dialog per process.
QzPreReqDlg* g_dialog = nullptr;

INT_PTR CALLBACK dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      reinterpret_cast<QzPreReqDlg*>(lparam)->init_dialog(window);
      return TRUE;
    case WM_COMMAND:
      if (!g_dialog) break;
      if (LOWORD(wparam) == kInstallButton) g_dialog->on_install();
      if (LOWORD(wparam) == kCancelButton || LOWORD(wparam) == IDCANCEL) g_dialog->on_cancel();
      return TRUE;
    case WM_CLOSE:
      if (g_dialog) g_dialog->on_cancel();
      return TRUE;
    case WM_DESTROY:
      if (g_dialog) g_dialog->on_destroy();
      break;
  }
  return FALSE;
}

void autosize_columns(HWND list) {
  for (int c = 0; c < 2; ++c) SendMessageW(list, LVM_SETCOLUMNWIDTH, c, LVSCW_AUTOSIZE_USEHEADER);
}

int copy_progress(int code, uint64_t arg, const std::wstring* path, void* context) {
  return static_cast<QzPreReqDlg*>(context)->on_copy_progress(code, arg, path);
}

}  // namespace

std::wstring prerequisite_display_name(const std::wstring& prq_path) {
  std::wstring name = zpath(prq_path).leaf();
  size_t dot = name.rfind(L'.');
  return dot == std::wstring::npos || dot == 0 ? name : name.substr(0, dot);
}

QzPreReqDlg::QzPreReqDlg(CSetupPrereqMgr& manager, int dialog_mode, bool register_resume)
    : mgr_(manager),
      mode_(dialog_mode),
      register_resume_(register_resume),
      calculator_(manager.get_launch_settings()) {
  g_dialog = this;
}

QzPreReqDlg::~QzPreReqDlg() {
  if (dialog_) DestroyWindow(dialog_);
  if (g_dialog == this) g_dialog = nullptr;
}

LaunchSettings& QzPreReqDlg::settings() { return mgr_.get_launch_settings(); }

bool QzPreReqDlg::silent() { return settings().silent || settings().auto_; }

HWND QzPreReqDlg::find_host() {
  return host_present_ ? prq::host::find(mgr_.get_value(prq::kValueHostWindow)) : nullptr;
}

int QzPreReqDlg::stop(int exit_code) {
  qzproc::set_exit_code(exit_code);
  return prq::kSequenceStop;
}

int QzPreReqDlg::RunPrerequisiteDialog(const std::wstring& features, bool all_hidden, MSIHANDLE* installer) {
  dialog_ = nullptr;
  features_ = features;
  all_hidden_ = all_hidden;
  host_present_ = mgr_.has_value(prq::kValueHostWindow);
  execute_none_ = mgr_.get_value(prq::kValueInstallerCommandLine).find(L"EXECUTEMODE=None") != std::wstring::npos;
  if (silent()) {
    if (needs_elevation_) {
      QZ_LOG(L"Administrative privileges are required, but setup is silent. Exiting setup.");
      return stop(err::kEngineNoPrivileges);
    }
    return InstallPrerequisites(installer);
  }
  MSIHANDLE own = 0;
  auto without_dialog = [&] {
    int result = InstallPrerequisites(&own);
    if (own) {
      prq::msi::CloseHandle(own);
      own = 0;
    }
    return result;
  };
  if (host_present_) return without_dialog();
  if (all_hidden) {
    if (needs_elevation_ && mode_ != 1) {
      QZ_LOG(L"Hidden prerequisites require, but did not receive, elevation. Exiting setup.");
      return stop(err::kEngineNoPrivileges);
    }
    return without_dialog();
  }
  if (needs_elevation_ && mode_ != 1) {
    QZ_LOG(L"Visible prerequisites require, but did not receive, elevation. Prompting user.");
    if (message(load_string(settings(), kTextNoPrivileges), MB_RETRYCANCEL | MB_ICONWARNING, IDCANCEL) != IDRETRY)
      return stop(err::kCancelled);
  }
  installer_ = installer;
  HINSTANCE module = settings().module ? static_cast<HINSTANCE>(settings().module) : GetModuleHandleW(nullptr);
  INT_PTR result = dialog_box(settings(), module, kTemplate, mgr_.get_setup_dialog(), dialog_proc,
                              reinterpret_cast<LPARAM>(this), 0);
  installer_ = nullptr;
  if (result == -1) {
    // Without the dialog the prerequisites are still installed; skipping them would
    // install the product without what it needs.
    QZ_LOG(L"The prerequisite dialog could not be shown, error %u; installing without it", GetLastError());
    all_hidden_ = true;
    return InstallPrerequisites(installer);
  }
  return static_cast<int>(result);
}

void QzPreReqDlg::init_dialog(HWND dialog) {
  dialog_ = dialog;
  LaunchSettings& s = settings();
  mgr_.show_dialog(this);
  mgr_.attach_status_window(control(kMainText), control(kStatusLine));
  SetWindowTextW(dialog, wizard_caption(s, false).c_str());
  SetDlgItemTextW(dialog, kCancelButton, load_string(s, kTextCancel).c_str());
  SetDlgItemTextW(dialog, kInstallButton, load_string(s, kTextInstall).c_str());
  ShowWindow(control(kProgressBar), SW_HIDE);
  SendMessageW(control(kProgressBar), PBM_SETRANGE32, 0, 100);
  SetDlgItemTextW(dialog, kIntroText, lang::fill_printf_style(load_string(s, kTextIntro), {s.product_name}).c_str());

  HWND list = control(kList);
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  const unsigned headers[] = {kTextStatus, kTextRequirement};
  for (int c = 0; c < 2; ++c) {
    std::wstring text = load_string(s, headers[c]);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.cx = 170;
    column.pszText = text.data();
    column.iSubItem = c;
    SendMessageW(list, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
  }
  std::wstring pending = load_string(s, kTextPending);
  int row = 0;
  for (const auto& [index, entry] : mgr_.entries()) {
    if (entry.hidden) continue;
    std::wstring name = prerequisite_display_name(entry.path);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = pending.data();
    SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    item.iSubItem = 1;
    item.pszText = name.data();
    SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    ++row;
  }
  autosize_columns(list);

  if (needs_elevation_) {
    if (mode_ == 2) mode_ = 1;
    SendMessageW(control(kInstallButton), BCM_SETSHIELD, 0, TRUE);
  }
  if (mode_ != 1) PostMessageW(dialog, WM_COMMAND, kInstallButton, 0);
}

void QzPreReqDlg::on_install() {
  if (busy_) return;
  EnableWindow(control(kInstallButton), FALSE);
  ShowWindow(control(kProgressBar), SW_SHOW);
  if (execute_none_) {
    EndDialog(dialog_, kNothingDone);
    return;
  }
  busy_ = true;
  int result = InstallPrerequisites(installer_);
  busy_ = false;
  if (installer_ && *installer_) {
    prq::msi::CloseHandle(*installer_);
    *installer_ = 0;
  }
  EndDialog(dialog_, result);
}

void QzPreReqDlg::on_cancel() {
  if (!busy_) {
    qzproc::set_exit_code(err::kCancelled);
    EndDialog(dialog_, prq::kSequenceStop);
  } else if (placing_) {
    cancel_ = true;
  } else {
    cancel_request();
  }
}

void QzPreReqDlg::on_destroy() {
  mgr_.show_dialog(nullptr);
  // The session's status texts go back to the initialisation dialog, if it is open.
  HWND setup = mgr_.get_setup_dialog();
  mgr_.attach_status_window(setup ? GetDlgItem(setup, kMainText) : nullptr,
                            setup ? GetDlgItem(setup, kStatusLine) : nullptr);
  dialog_ = nullptr;
}

void QzPreReqDlg::cancel_request() {
  if (host_) {
    cancel_ = true;
    return;
  }
  std::wstring text = lang::fill_printf_style(load_string(settings(), kTextCancelAfter), {current_name_});
  if (message(text, MB_YESNO | MB_ICONQUESTION, IDYES) != IDYES) return;
  cancel_ = true;
  EnableWindow(control(kCancelButton), FALSE);
}

bool QzPreReqDlg::cancel_requested() { return dialog_ ? cancel_ : mgr_.setup_cancelled(); }

void QzPreReqDlg::set_row_status(int row, unsigned text_id) {
  HWND list = control(kList);
  if (!list || current_hidden_) return;
  std::wstring text = load_string(settings(), text_id);
  LVITEMW item{};
  item.iSubItem = 0;
  item.pszText = text.data();
  SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
  autosize_columns(list);
}

int QzPreReqDlg::message(const std::wstring& text, UINT type, int silent_answer) {
  if (host_) {
    LRESULT answer = prq::host::message_box(host_, text, type);
    if (answer == prq::host::kCancelAnswer) cancel_request();
    return static_cast<int>(answer);
  }
  HWND owner = dialog_ ? dialog_ : mgr_.get_setup_dialog();
  return message_box(settings(), owner, text, type, silent_answer);
}

void QzPreReqDlg::status_text(const std::wstring& text) {
  if (host_) {
    prq::host::send_text(host_, text);
    if (prq::host::send_command(host_, prq::host::kStatusText) == prq::host::kStatusCancelAnswer) cancel_request();
  } else if (dialog_) {
    SetDlgItemTextW(dialog_, kStatusLine, text.c_str());
  } else if (all_hidden_ || !silent()) {
    mgr_.set_status_text(text);
  }
}

void QzPreReqDlg::progress(int percent) {
  if (!dialog_) {
    mgr_.set_progress(percent);
    return;
  }
  if (percent != last_percent_) {
    SendMessageW(control(kProgressBar), PBM_SETPOS, percent, 0);
    last_percent_ = percent;
  }
  MSG msg;
  while (!cancel_ && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (!IsDialogMessageW(dialog_, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

bool QzPreReqDlg::set_progress(int percent) {
  progress(percent);
  return cancel_;
}

void QzPreReqDlg::StartStopProgress(bool start) {
  HWND bar = control(kProgressBar);
  if (!bar && !host_) return;
  if (!host_) {
    // Nested calls (a program started by the process launcher inside a run) change nothing.
    if (start == marquee_on_) return;
    marquee_on_ = start;
    // 64-bit Windows is XP x64 or later: the bar's own marquee animates it.
    if (start) {
      saved_bar_style_ = GetWindowLongPtrW(bar, GWL_STYLE);
      SetWindowLongPtrW(bar, GWL_STYLE, saved_bar_style_ | PBS_MARQUEE);
      SendMessageW(bar, PBM_SETMARQUEE, TRUE, kMarqueePeriodMs);
    } else {
      SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
      SetWindowLongPtrW(bar, GWL_STYLE, saved_bar_style_);
      SendMessageW(bar, PBM_SETPOS, 0, 0);
      last_percent_ = 0;
    }
    return;
  }
  QZ_LOG(L"StartStopProgress - Embedded");
  prq::OsFacts os = mgr_.system().os();
  LRESULT answer = 0;
  if (os.major == 5 && (os.minor == 1 || os.minor == 2)) {
    QZ_LOG(L"StartStopProgress - Embedded Looping");
    answer = prq::host::send_command(host_, start ? prq::host::kMarqueeStart : prq::host::kMarqueeStop);
  } else if (start) {
    int scheduled = static_cast<int>(mgr_.entries().size());
    QZ_LOG(L"StartStopProgress - Fallback - %d of %d", handled_, scheduled);
    answer = SendMessageW(host_, PBM_SETRANGE32, 1, scheduled + 1);
    if (answer != prq::host::kCancelAnswer) answer = SendMessageW(host_, PBM_SETPOS, 0, 0);
    if (answer != prq::host::kCancelAnswer) answer = SendMessageW(host_, PBM_SETPOS, handled_, 0);
  }
  if (answer == prq::host::kCancelAnswer) cancel_request();
}

void QzPreReqDlg::layout_for_downloads() {
  if (!dialog_ || laid_out_) return;
  laid_out_ = true;
  auto rect_of = [this](int id) {
    RECT r{};
    GetWindowRect(control(id), &r);
    MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&r), 2);
    return r;
  };
  RECT detail = rect_of(kDetail1), bar = rect_of(kProgressBar), status = rect_of(kStatusLine);
  const bool rtl = is_rtl_language(settings(), settings().ui_language);
  int bar_width = bar.right - bar.left, bar_height = bar.bottom - bar.top;
  int bar_x = rtl ? detail.right - bar_width : detail.left;
  int bar_y = detail.top - bar_height - 2;
  SetWindowPos(control(kProgressBar), nullptr, bar_x, bar_y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(control(kStatusLine), nullptr, status.left, bar_y - (status.bottom - status.top) - 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int QzPreReqDlg::on_copy_progress(int code, uint64_t arg, const std::wstring* path) {
  switch (code) {
    case qz::kCopyStart:
      return cancel_requested() ? qz::kCopyAbort : qz::kCopyContinue;
    case qz::kCopySource:
      if (path) copy_source_ = *path;
      return qz::kCopyContinue;
    case qz::kCopyTarget:
      if (path) copy_target_ = *path;
      return qz::kCopyContinue;
    case qz::kCopyTotal:
      copy_total_ = arg;
      for (copy_shift_ = 0; (arg >> copy_shift_) > 0xFFFFFFFFull; copy_shift_ += 10) {
      }
      calculator_.start(static_cast<uint32_t>(arg >> copy_shift_));
      last_text_tick_ = GetTickCount() - 1000;
      return qz::kCopyContinue;
    case qz::kCopyBlock: {
      if (cancel_requested()) return qz::kCopyAbort;
      int percent = 0;
      uint32_t rate = 0, left = 0;
      calculator_.update(static_cast<uint32_t>(arg >> copy_shift_), &percent, &rate, &left);
      if (dialog_ && GetTickCount() - last_text_tick_ >= 1000) {
        last_text_tick_ = GetTickCount();
        SetDlgItemTextW(dialog_, kDetail1, calculator_.remaining_text(left).c_str());
        SetDlgItemTextW(dialog_, kDetail2,
                        calculator_.transfer_text(rate, static_cast<uint32_t>(arg >> copy_shift_), 0).c_str());
      }
      progress(percent);
      return cancel_ ? qz::kCopyAbort : qz::kCopyContinue;
    }
    case qz::kCopyDone:
      copy_source_.clear();
      copy_target_.clear();
      progress(100);
      return qz::kCopyContinue;
    case qz::kCopyFailed: {
      if (cancel_requested() || (!dialog_ && !mgr_.get_setup_dialog())) return qz::kCopyAbort;
      std::wstring text = lang::fill_printf_style(load_string(settings(), kTextDownloadFailed), {copy_source_});
      QZ_LOG(L"DownloadFiles: %s", text.c_str());
      UINT type = MB_RETRYCANCEL | MB_ICONERROR;
      if (is_rtl_language(settings(), settings().ui_language)) type |= MB_RIGHT | MB_RTLREADING;
      int answer = message(text, type, IDCANCEL);
      if (!copy_target_.empty()) DeleteFileW(copy_target_.c_str());
      return answer == IDRETRY ? qz::kCopyAgain : qz::kCopyAbort;
    }
  }
  return qz::kCopyContinue;
}

bool QzPreReqDlg::copy(const std::wstring& source, const std::wstring& target) {
  qz::ScopedCopyProgress scope(&copy_progress, this);
  bool ok = qz::CopyFileWithProgress(source, target, 32768, false);
  if (!ok) QZ_LOG(L"Copying %s to %s failed, error %u", source.c_str(), target.c_str(), qz::last_failure().error);
  return ok;
}
