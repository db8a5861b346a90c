#include "launch.h"

#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "secret_mask.h"
#include "session.h"
#include "support/dynload.h"
#include "support/debuglog.h"
#include "support/process_state.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\launch";

namespace {

// Owns the two handles CreateProcessW hands back.
struct ProcessHandles {
  PROCESS_INFORMATION pi{};
  ~ProcessHandles() {
    if (pi.hThread) CloseHandle(pi.hThread);
    if (pi.hProcess) CloseHandle(pi.hProcess);
  }
};

constexpr DWORD kRetryDelayMs = 250;
constexpr DWORD kElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED, absent from these headers

bool transient_start_failure(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_INVALID_PARAMETER:
    case ERROR_CANCELLED:
    case kElevationRequired:  // the same token is refused again
      return false;
    default:
      return true;
  }
}

// The attribute list that limits inheritance to the handed-over handles.
class InheritList {
 public:
  using Init = BOOL(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD, PSIZE_T);
  using Update = BOOL(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD_PTR, PVOID, SIZE_T, PVOID, PSIZE_T);
  using Delete = VOID(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST);

  explicit InheritList(const HandedOver* handles) {
    if (handles)
      for (const qz::file_handle& h : *handles)
        if (h) handles_.push_back(h.get());
    if (handles_.empty()) return;
    auto init = qz::bound<Init>(qz::kernel32_export("InitializeProcThreadAttributeList"));
    auto update = qz::bound<Update>(qz::kernel32_export("UpdateProcThreadAttribute"));
    delete_ = qz::bound<Delete>(qz::kernel32_export("DeleteProcThreadAttributeList"));
    for (HANDLE h : handles_) SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    SIZE_T size = 0;
    if (!init || !update || !delete_) return;  // the marked handles are inherited with any others
    init(nullptr, 1, 0, &size);
    buffer_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
    if (!init(list, 1, 0, &size)) return;
    if (!update(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(), handles_.size() * sizeof(HANDLE),
                nullptr, nullptr)) {
      delete_(list);
      return;
    }
    list_ = list;
  }
  ~InheritList() {
    if (list_) delete_(list_);
    for (HANDLE h : handles_) SetHandleInformation(h, HANDLE_FLAG_INHERIT, 0);
  }
  InheritList(const InheritList&) = delete;
  InheritList& operator=(const InheritList&) = delete;

  bool any() const { return !handles_.empty(); }
  LPPROC_THREAD_ATTRIBUTE_LIST list() const { return list_; }

 private:
  std::vector<HANDLE> handles_;
  std::vector<unsigned char> buffer_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
  Delete delete_ = nullptr;
};

bool create(const std::wstring& command_line, bool show, bool inherit, HandedOver* hand_over, ProcessHandles& out) {
  if (command_line.empty() || command_line[0] == L' ' || command_line.compare(0, 2, L"\"\"") == 0) {
    // Without a program name the system would look for one in the launcher's folder.
    QZ_LOG(L"The program could not be started, error %u", static_cast<unsigned>(ERROR_FILE_NOT_FOUND));
    return false;
  }
  STARTUPINFOEXW si{};
  si.StartupInfo.cb = sizeof(si.StartupInfo);
  si.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
  si.StartupInfo.wShowWindow = show ? SW_SHOWNORMAL : SW_HIDE;
  InheritList handed(hand_over);
  DWORD flags = NORMAL_PRIORITY_CLASS;
  if (handed.list()) {
    si.StartupInfo.cb = sizeof(si);
    si.lpAttributeList = handed.list();
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  const BOOL inherits = inherit || handed.any() ? TRUE : FALSE;
  // CreateProcessW may write into the command line: hand it a private copy.
  std::vector<wchar_t> text(command_line.begin(), command_line.end());
  text.push_back(0);
  for (int attempt = 0;; ++attempt) {
    if (CreateProcessW(nullptr, text.data(), nullptr, nullptr, inherits, flags, nullptr, nullptr, &si.StartupInfo,
                       &out.pi)) {
      if (hand_over) hand_over->clear();  // the program holds them now
      return true;
    }
    DWORD error = GetLastError();
    QZ_LOG(L"The program could not be started, error %u", static_cast<unsigned>(error));
    // A missing or unusable program stays so; anything else (a busy or short-of-memory
    // system) gets one more try, since a setup that ends here installs nothing.
    if (attempt > 0 || !transient_start_failure(error)) return false;
    Sleep(kRetryDelayMs);
    text.assign(command_line.begin(), command_line.end());
    text.push_back(0);
  }
}

bool is_wait_breaker(UINT message) {
  return message == WM_CLOSE || message == WM_QUERYENDSESSION || message == WM_QUIT;
}

// The dialogs that keep moving while a shell-started program runs.
SessionDialog* prerequisite_dialog(Session* session) { return session ? session->prerequisite_dialog() : nullptr; }
void step_setup_dialog_progress(Session* session) {
  if (SessionDialog* dialog = session ? session->setup_dialog() : nullptr) dialog->advance_bar(1);
}

}  // namespace

std::wstring msiexec_path() {
  wchar_t folder[MAX_PATH];
  UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  return std::wstring(folder, n) + L"\\MSIEXEC.EXE";
}

bool launch_no_wait(const std::wstring& command_line, bool show, HandedOver* hand_over) {
  QZ_LOG(L"Attempting to launch (no wait): %s", secret_mask::for_log(command_line).c_str());
  ProcessHandles p;
  bool created = create(command_line, show, true, hand_over, p);
  QZ_LOG(L"Launch result %d", created ? 1 : 0);
  if (!created) return false;
  WaitForInputIdle(p.pi.hProcess, 1000);
  return true;
}

int launch_and_wait(const std::wstring& command_line, bool show, HandedOver* hand_over) {
  QZ_LOG(L"Attempting to launch: %s", secret_mask::for_log(command_line).c_str());
  ProcessHandles p;
  if (!create(command_line, show, false, hand_over, p)) return kNotStarted;
  // A process that has not loaded the window system has no message queue, so no
  // input can arrive: it waits plainly rather than load it now (a first launcher
  // would do so beside its clone's start, which needs the same system services).
  if (!GetModuleHandleW(L"user32.dll")) {
    WaitForSingleObject(p.pi.hProcess, INFINITE);
  } else {
    for (;;) {
      DWORD r = MsgWaitForMultipleObjects(1, &p.pi.hProcess, FALSE, INFINITE, QS_ALLINPUT);
      if (r != WAIT_OBJECT_0 + 1) break;  // the program ended, or the wait failed
      // Look without removing: the messages stay queued for the launcher's own loop.
      MSG msg;
      if (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE) && is_wait_breaker(msg.message)) break;
    }
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(p.pi.hProcess, &code)) code = STILL_ACTIVE;
  int result = static_cast<int>(code);
  qzproc::set_exit_code(result);
  QZ_LOG(L"Launch result %d, exit code %d", 1, result);
  return result;
}

int shell_execute_and_wait(const std::wstring& file, const std::wstring& parameters, bool show, Session* session) {
  SessionDialog* animated = prerequisite_dialog(session);
  if (animated) animated->start_stop_progress(true);
  SHELLEXECUTEINFOW sei{};
  sei.cbSize = sizeof(sei);
  // No shell error box for a missing file: failures go back to the caller, and a
  // silent run must never stop at a dialog.
  sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  sei.lpFile = file.c_str();
  sei.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
  sei.nShow = show ? SW_SHOWNORMAL : SW_HIDE;
  int result = kNotStarted;
  bool quit_seen = false;
  int quit_code = 0;
  if (ShellExecuteExW(&sei) && sei.hProcess) {
    for (;;) {
      DWORD r = MsgWaitForMultipleObjects(1, &sei.hProcess, FALSE, INFINITE, QS_ALLINPUT);
      if (r != WAIT_OBJECT_0 + 1) break;
      MSG msg;
      while (WaitForSingleObject(sei.hProcess, 0) == WAIT_TIMEOUT && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        bool prq = prerequisite_dialog(session) != nullptr;
        if (msg.message == WM_PAINT) {
          DispatchMessageW(&msg);
        } else if (msg.message == WM_TIMER) {
          if (prq)
            DispatchMessageW(&msg);
          else
            step_setup_dialog_progress(session);
        } else if (msg.message == WM_USER + 2) {
          if (prq) DispatchMessageW(&msg);
        } else if (msg.message == WM_QUIT) {
          // Input is dropped while the program runs, but a quit request must
          // survive the wait or the launcher's own loop would never end.
          quit_seen = true;
          quit_code = static_cast<int>(msg.wParam);
        }
      }
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(sei.hProcess, &code)) code = STILL_ACTIVE;
    result = static_cast<int>(code);
    qzproc::set_exit_code(result);
    CloseHandle(sei.hProcess);
  }
  if (animated) animated->start_stop_progress(false);
  if (quit_seen) PostQuitMessage(quit_code);
  return result;
}
