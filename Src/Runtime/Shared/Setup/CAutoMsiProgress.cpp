#include "CAutoMsiProgress.h"

#include <commctrl.h>

#include <vector>

#include "prereq_command_rules.h"
#include "prereq_host.h"
#include "prereq_msi.h"

namespace {

constexpr DWORD kFilter = INSTALLLOGMODE_USER | INSTALLLOGMODE_ACTIONSTART | INSTALLLOGMODE_ACTIONDATA |
                          INSTALLLOGMODE_PROGRESS;  // 0x708

int WINAPI callback(LPVOID context, UINT type, LPCWSTR message) {
  return static_cast<CAutoMsiProgress*>(context)->handle(type, message);
}

// Timer, input and paint messages only: a posted message may belong to a loop
// further up that must not run inside the installation.
void pump_input() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) DispatchMessageW(&msg);
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT | PM_QS_PAINT)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

uint32_t number(const std::wstring& text) { return static_cast<uint32_t>(wcstoul(text.c_str(), nullptr, 10)); }

int host_code(UINT kind) {
  switch (kind) {
    case INSTALLMESSAGE_FATALEXIT: return 9;
    case INSTALLMESSAGE_ERROR: return 10;
    case INSTALLMESSAGE_WARNING: return 11;
    case INSTALLMESSAGE_USER: return 12;
    case INSTALLMESSAGE_INFO: return 13;
    case INSTALLMESSAGE_FILESINUSE: return 14;
    case INSTALLMESSAGE_RESOLVESOURCE: return 15;
    case INSTALLMESSAGE_RMFILESINUSE: return 16;
    case INSTALLMESSAGE_OUTOFDISKSPACE: return 17;
    case INSTALLMESSAGE_ACTIONDATA: return 19;
    case INSTALLMESSAGE_COMMONDATA: return 21;
  }
  return 0;
}

}  // namespace

CAutoMsiProgress::CAutoMsiProgress(HWND progress_bar, HWND status, bool* cancel, bool right_to_left, bool silent)
    : bar_(progress_bar), status_(status), cancel_(cancel), rtl_(right_to_left), silent_(silent) {
  previous_level_ = prq::msi::SetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  previous_handler_ = prq::msi::SetExternalUI(&callback, kFilter, this);
}

CAutoMsiProgress::~CAutoMsiProgress() {
  prq::msi::SetExternalUI(previous_handler_, 0, nullptr);
  if (previous_level_ != INSTALLUILEVEL_NOCHANGE) prq::msi::SetInternalUI(previous_level_, nullptr);
  prq::msi::EnableLog(0, nullptr, 0);
}

int CAutoMsiProgress::handle(UINT type, const wchar_t* message) {
  const UINT kind = type & 0xFF000000u;
  const UINT flags = type & 0x00FFFFFFu;
  const std::wstring text = message ? message : L"";
  if (bar_ && bar_ == status_) return forward_to_host(kind, text);
  int answer = handle_local(kind, flags, text);
  pump_input();
  if (kind == INSTALLMESSAGE_USER || kind == INSTALLMESSAGE_ERROR || kind == INSTALLMESSAGE_WARNING) return answer;
  return cancel_ && *cancel_ ? IDCANCEL : answer;
}

int CAutoMsiProgress::handle_local(UINT kind, UINT flags, const std::wstring& text) {
  switch (kind) {
    case INSTALLMESSAGE_USER:
    case INSTALLMESSAGE_ERROR:
    case INSTALLMESSAGE_WARNING:
      return ask(kind, flags, text);
    case INSTALLMESSAGE_ACTIONSTART:
      if (status_) SetWindowTextW(status_, prq::action_text(text).c_str());
      step_on_action_data_ = false;
      return 0;
    case INSTALLMESSAGE_ACTIONDATA:
      if (total_ == 0) return 0;
      if (status_ && !text.empty()) SetWindowTextW(status_, text.c_str());
      if (step_on_action_data_) {
        position_ += static_cast<uint32_t>(step_);
        if (bar_) SendMessageW(bar_, PBM_STEPIT, 0, 0);
      }
      return 0;
    case INSTALLMESSAGE_PROGRESS:
      progress(text);
      return 0;
  }
  return 0;
}

void CAutoMsiProgress::progress(const std::wstring& text) {
  std::vector<std::wstring> f = prq::progress_fields(text);
  if (f.empty()) return;
  if (f[0] == L"0" && f.size() >= 4) {
    total_ = number(f[1]);
    direction_ = f[2] == L"0" ? 1 : -1;
    position_ = direction_ > 0 ? 0 : total_;
    if (bar_) {
      SendMessageW(bar_, PBM_SETRANGE32, 0, static_cast<LPARAM>(total_));
      SendMessageW(bar_, PBM_SETPOS, f[3] == L"1" ? total_ : position_, 0);
    }
    on_progress(position_, total_);
  } else if (f[0] == L"1" && f.size() >= 3) {
    step_on_action_data_ = number(f[2]) != 0;
    step_ = static_cast<int>(number(f[1])) * direction_;
    if (step_on_action_data_ && bar_) SendMessageW(bar_, PBM_SETSTEP, static_cast<WPARAM>(step_), 0);
  } else if (f[0] == L"2" && f.size() >= 2) {
    if (total_ == 0) return;
    position_ += static_cast<uint32_t>(static_cast<int>(number(f[1])) * direction_);
    if (bar_) SendMessageW(bar_, PBM_SETPOS, position_, 0);
    on_progress(position_, total_);
  }
}

int CAutoMsiProgress::ask(UINT kind, UINT flags, const std::wstring& text) {
  // A silent launch never stops at a box; the installer then takes its default.
  if (silent_) return 0;
  HWND owner = bar_ ? GetParent(bar_) : nullptr;
  wchar_t caption[256] = {};
  if (owner) GetWindowTextW(owner, caption, 256);
  UINT style = flags & (MB_TYPEMASK | MB_ICONMASK | MB_DEFMASK);
  if (!(style & MB_ICONMASK)) {
    if (kind == INSTALLMESSAGE_ERROR) style |= MB_ICONERROR;
    if (kind == INSTALLMESSAGE_WARNING) style |= MB_ICONWARNING;
    if (kind == INSTALLMESSAGE_USER) style |= MB_ICONINFORMATION;
  }
  if (rtl_) style |= MB_RTLREADING | MB_RIGHT;
  return MessageBoxW(owner, text.c_str(), caption, style);
}

int CAutoMsiProgress::forward_to_host(UINT kind, const std::wstring& text) {
  HWND host = bar_;
  if (kind == INSTALLMESSAGE_PROGRESS) {
    for (const std::wstring& field : prq::progress_fields(text)) prq::host::send_text(host, field);
    return static_cast<int>(prq::host::send_command(host, prq::host::kInstallerProgress));
  }
  if (kind == INSTALLMESSAGE_ACTIONSTART) {
    size_t at = text.find(L". ");
    std::wstring action = at == std::wstring::npos ? std::wstring() : text.substr(at + 2);
    for (int i = 0; i < 3; ++i) prq::host::send_text(host, action);
    return static_cast<int>(prq::host::send_command(host, prq::host::kInstallerActionStart));
  }
  prq::host::send_text(host, text);
  return static_cast<int>(prq::host::send_command(host, host_code(kind)));
}
