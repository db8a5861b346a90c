// Provisional bodies of the session-run steps that other parts of the launcher
// provide. Each is replaced when its real implementation lands; until then the
// chain runs end to end with these.
//
#include <windows.h>

#include <map>
#include <memory>

#include "LaunchSettings.h"
#include "QzSetup.h"
#include "package/IniProfile.h"
#include "package/load_string.h"
#include "package/stream.h"
#include "process_state.h"
#include "msiaction.h"
#include "run_steps.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/errors.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\run_steps_provisional";

namespace {

std::wstring environment(const wchar_t* name) {
  wchar_t buffer[64] = {};
  DWORD n = GetEnvironmentVariableW(name, buffer, 64);
  return n > 0 && n < 64 ? std::wstring(buffer, n) : std::wstring();
}

}  // namespace

// --- session ---
qz::IniProfile& settings_profile(Session& session) { return session.profile(); }
bool stream_contains(Session& session, const std::wstring& name) { return session.stream_contains(name); }
uint32_t stream_total_size(Session& session) {
  return session.stream().is_valid() ? session.stream().total_size() : 0;
}
void set_status_text(Session& session, const std::wstring& text) { session.set_status_text(text); }
int ask_reboot(Session& session) { return session.ask_reboot(); }
void dump_settings(Session& session) { session.dump_settings(); }
void read_launch_settings(Session& session, const std::wstring& ini_path) { session.read_launch_settings(ini_path); }

// --- multiple instances ---
bool detect_instances(Session&) { return false; }
int choose_instance(Session&) { return kInstanceChosen; }

// --- Windows Installer ---
// Test-only environment, for the driver's tests that need a run held open or a
// given installation result without a package:
//   QZ_TEST_MSIACTION_SLEEP_MS  milliseconds to wait before the action
//   QZ_TEST_MSIACTION_RESULT    decimal exit code stored instead of running it
int execute_msi_action(Session& session) {
  std::wstring sleep = environment(L"QZ_TEST_MSIACTION_SLEEP_MS");
  if (!sleep.empty()) {
    // The wait keeps the thread's windows painting and answering, as a running
    // installation would.
    DWORD ms = static_cast<DWORD>(_wtoi(sleep.c_str()));
    DWORD start = GetTickCount();
    for (DWORD spent = 0; spent < ms; spent = GetTickCount() - start) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - spent, QS_ALLINPUT);
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) break;
        HWND dialog = session.get_setup_dialog();
        if (dialog && IsDialogMessageW(dialog, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      if (session.setup_cancelled()) return 0;
    }
  }
  std::wstring result = environment(L"QZ_TEST_MSIACTION_RESULT");
  if (!result.empty()) {
    qzproc::set_exit_code(_wtoi(result.c_str()));
    return qzproc::exit_code() == 0 ? 1 : 0;
  }
  int restart_pending = 0;
  bool ok = run_msi_action(session, &restart_pending);
  if (ok && restart_pending) session.set_keep_files(true);
  return ok ? 1 : 0;
}

#ifdef QZ_PREREQUISITES
int run_prerequisites(Session&, int, const std::wstring&) { return 0; }

int QzSetup::run_prerequisites(const std::wstring&) {
  if (!session_ || !prepare_session(*session_)) return qzproc::exit_code();
  return 0;
}
int QzSetup::advertise() { return 0; }
#endif
