// Provisional bodies of the session-run steps that other parts of the launcher
// provide. Each is replaced when its real implementation lands; until then the
// chain runs end to end with these.
//
#include <windows.h>

#include <map>
#include <memory>

#include "LaunchSettings.h"
#include "QzSetup.h"
#include "cleanup.h"
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

// --- user interface ---
bool check_password(Session&) { return true; }
void show_splash(Session&) {}
int create_setup_dialog(Session&) { return 1; }
void close_setup_dialog(Session&) {}
bool setup_cancelled(Session&) { return false; }
void show_error(Session& session, unsigned id) {
  std::wstring text = load_string(session.settings(), id);
  QZ_LOG(L"Error %u: %s", id, text.c_str());
  if (!session.settings().silent) MessageBoxW(nullptr, text.c_str(), L"Setup", MB_OK | MB_ICONERROR);
}
void show_system_error(Session& session, DWORD error) {
  std::wstring text = qz::system_message(error);
  QZ_LOG(L"Error %u: %s", error, text.c_str());
  if (!session.settings().silent) MessageBoxW(nullptr, text.c_str(), L"Setup", MB_OK | MB_ICONERROR);
}
// The error display of the language checks (text already composed).
bool show_error_text(const std::wstring& text, bool restart) {
  QZ_LOG(L"Error: %s", text.c_str());
  const LaunchSettings* settings = qzproc::settings();
  if (!(settings && settings->silent)) MessageBoxW(nullptr, text.c_str(), L"Setup", MB_OK | MB_ICONERROR);
  return false;
}
int message_box(HWND parent, const std::wstring& text, UINT style, int silent_answer, unsigned flags) {
  const LaunchSettings* settings = qzproc::settings();
  if (settings && settings->silent && !(flags & 2)) return silent_answer;
  return MessageBoxW(parent, text.c_str(), L"Setup", style);
}

// --- Windows Installer ---
// Test-only environment, for the driver's tests that need a run held open or a
// given installation result without a package:
//   QZ_TEST_MSIACTION_SLEEP_MS  milliseconds to wait before the action
//   QZ_TEST_MSIACTION_RESULT    decimal exit code stored instead of running it
int execute_msi_action(Session& session) {
  std::wstring sleep = environment(L"QZ_TEST_MSIACTION_SLEEP_MS");
  if (!sleep.empty()) Sleep(static_cast<DWORD>(_wtoi(sleep.c_str())));
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

// --- clean-up ---
void process_deletion_list(Session&) { process_deletion_list(); }

#ifdef QZ_PREREQUISITES
int run_prerequisites(Session&, int, const std::wstring&) { return 0; }

int QzSetup::run_prerequisites(const std::wstring&) {
  if (!session_ || !prepare_session(*session_)) return qzproc::exit_code();
  return 0;
}
int QzSetup::advertise() { return 0; }
#endif
