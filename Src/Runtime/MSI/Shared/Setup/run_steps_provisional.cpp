// Provisional bodies of the session-run steps that other parts of the launcher
// provide. Each is replaced when its real implementation lands; until then the
// chain runs end to end with these.
//
// Test-only environment (read only by the provisional MsiAction step):
//   QZ_TEST_MSIACTION_SLEEP_MS  milliseconds the step waits (holds the run open)
//   QZ_TEST_MSIACTION_RESULT    decimal exit code the step stores
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
#include "run_steps.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/errors.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\run_steps_provisional";

namespace {

constexpr int kExtractionFailed = 1152;

STREAM* own_stream() {
  static std::unique_ptr<STREAM> stream;
  if (!stream) stream = std::make_unique<STREAM>(zpath(qzproc::own_file_name()));
  return stream.get();
}

std::wstring environment(const wchar_t* name) {
  wchar_t buffer[64] = {};
  DWORD n = GetEnvironmentVariableW(name, buffer, 64);
  return n > 0 && n < 64 ? std::wstring(buffer, n) : std::wstring();
}

}  // namespace

// --- session ---
qz::IniProfile& settings_profile(Session& session) {
  static std::map<const Session*, qz::IniProfile> profiles;
  return profiles[&session];
}
bool stream_contains(Session&, const std::wstring& name) {
  STREAM* s = own_stream();
  return s->is_valid() && s->contains(zString(name));
}
uint32_t stream_total_size(Session&) {
  STREAM* s = own_stream();
  return s->is_valid() ? s->total_size() : 0;
}
void set_status_text(Session&, const std::wstring& text) {
  if (!text.empty()) QZ_LOG(L"Status: %s", text.c_str());
}
int ask_reboot(Session& session) {
  if (!session.reboot_needed()) return 1;
  session.set_reboot_needed(false);
  return message_box(nullptr, load_string(session.settings(), 1127), MB_YESNO | MB_ICONQUESTION, IDYES, 0);
}
void dump_settings(Session&) {}
void read_launch_settings(Session&, const std::wstring&) {}

bool Session::extract_member(const std::wstring& name, bool report_error, bool force, const std::wstring* target,
                             bool delete_later) {
  if ((package_mode() == kPackageBesideLauncher && !force) || extraction_mode() != kExtractNormal) return true;
  std::wstring to = target ? *target : zpath(qzproc::temp_folder()).join(name);
  QZ_LOG(L"Extracting '%s' to %s", name.c_str(), to.c_str());
  STREAM* s = own_stream();
  if (!qzproc::temp_folder().empty() && s->is_valid() && s->extract(zString(name), zpath(to), nullptr)) {
    if (delete_later) record_file(to);
    return true;
  }
  QZ_LOG(L"Extraction of '%s' failed", name.c_str());
  if (report_error) {
    qzproc::set_exit_code(kExtractionFailed);
    show_error(*this, kExtractionFailed);
  }
  return false;
}
bool Session::extract_setup_ini() {
  if (!extract_member(L"Setup.INI", true, false, nullptr, true)) return false;
  set_source_folder(qzproc::temp_folder());
  settings().setup_ini_path = zpath(qzproc::temp_folder()).join(L"Setup.INI");
  return true;
}
bool Session::extract_string_files() {
  for (uint16_t id : settings().supported_languages)
    if (!extract_member(zString::format(L"0x%04x.ini", id), true, false, nullptr, true)) return false;
  return true;
}
bool Session::extract_all_members() {
  STREAM* s = own_stream();
  for (const auto& entry : s->entries())
    if (!extract_member(entry.first, true, true, nullptr, true)) return false;
  return true;
}

// --- languages ---
void choose_language(Session&) {}
uint16_t choose_language(LaunchSettings& settings, uint16_t requested) {
  if (requested) settings.ui_language = requested;
  return settings.ui_language;
}
uint16_t previous_installation_language(LaunchSettings&) { return 0; }
int show_language_dialog(Session&) { return kLanguageChosen; }
bool check_code_page(Session&) { return true; }
void select_transform(Session&) {}

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
int message_box(HWND parent, const std::wstring& text, UINT style, int silent_answer, unsigned flags) {
  const LaunchSettings* settings = qzproc::settings();
  if (settings && settings->silent && !(flags & 2)) return silent_answer;
  return MessageBoxW(parent, text.c_str(), L"Setup", style);
}

// --- Windows Installer ---
bool upgrade_check(Session&) { return true; }
int execute_msi_action(Session&) {
  std::wstring sleep = environment(L"QZ_TEST_MSIACTION_SLEEP_MS");
  if (!sleep.empty()) Sleep(static_cast<DWORD>(_wtoi(sleep.c_str())));
  std::wstring result = environment(L"QZ_TEST_MSIACTION_RESULT");
  if (!result.empty()) qzproc::set_exit_code(_wtoi(result.c_str()));
  QZ_LOG(L"MsiAction (provisional) ends with %d", qzproc::exit_code());
  return qzproc::exit_code() == 0 ? 1 : 0;
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
