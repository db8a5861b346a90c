// The session-run steps that the session and the Windows Installer action carry
// out, under the names the setup driver calls.
#include <windows.h>

#include "QzSetup.h"
#include "msiaction.h"
#include "package/IniProfile.h"
#include "package/stream.h"
#include "process_state.h"
#include "run_steps.h"
#include "session.h"
#include "test_hooks.h"

// --- session ---
qz::IniProfile& settings_profile(Session& session) { return session.profile(); }
bool stream_contains(Session& session, const std::wstring& name) { return session.stream_contains(name); }
uint64_t stream_total_size(Session& session) {
  return session.stream().is_valid() ? session.stream().total_size() : 0;
}
void set_status_text(Session& session, const std::wstring& text) { session.set_status_text(text); }
int ask_reboot(Session& session) { return session.ask_reboot(); }
void dump_settings(Session& session) { session.dump_settings(); }
void read_launch_settings(Session& session, const std::wstring& ini_path) { session.read_launch_settings(ini_path); }

// --- Windows Installer ---
// The test launchers can hold the run open before the action or stand in for its
// result (test_hooks.h); the shipped ones never do.
int execute_msi_action(Session& session) {
  unsigned sleep_ms = 0;
  if (test_hooks::msi_action_sleep_ms(&sleep_ms)) {
    // The wait keeps the thread's windows painting and answering, as a running
    // installation would.
    DWORD ms = sleep_ms;
    DWORD start = GetTickCount();
    bool quit = false;
    for (DWORD spent = 0; !quit && spent < ms; spent = GetTickCount() - start) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - spent, QS_ALLINPUT);
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
          // Handed on to the loop that owns it; the wait ends.
          PostQuitMessage(static_cast<int>(msg.wParam));
          quit = true;
          break;
        }
        HWND dialog = session.get_setup_dialog();
        if (dialog && IsDialogMessageW(dialog, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      if (session.setup_cancelled()) return 0;
    }
  }
  int result = 0;
  if (test_hooks::msi_action_result(&result)) {
    qzproc::set_exit_code(result);
    return result == 0 ? 1 : 0;
  }
  int restart_pending = 0;
  bool ok = run_msi_action(session, &restart_pending);
  if (ok && restart_pending) session.set_keep_files(true);
  return ok ? 1 : 0;
}
