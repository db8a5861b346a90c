// The session run of the setup driver: the action chain for each extraction mode
// and the steps that always end a run.
#include "QzSetup.h"
#include "diskaction.h"
#include "osaction.h"
#include "package/IniProfile.h"
#include "package/LaunchSettings.h"
#include "package/load_string.h"
#include "run_steps.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/handles.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"
#include "switch_rules.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\session_run";

namespace {

constexpr int kUnsupportedSystem = 1150;
constexpr int kRestartPending = 7002;
constexpr unsigned kCheckingSystemText = 1103;
constexpr int kAnswerYes = 6;

std::wstring startup_setting(Session& session, const wchar_t* key) {
  wchar_t buffer[1024];
  settings_profile(session).get_string(L"Startup", key, L"", buffer, 1024);
  return buffer;
}

bool cancelled(Session& session) { return setup_cancelled(session); }

bool offers_language_dialog(const LaunchSettings& s) {
  return !s.silent && !s.auto_ && !s.language_from_command_line && !s.language_from_previous_install &&
         s.language_dialog && s.supported_languages.size() > 1;
}

// The restart request of a prerequisite run that ended outside this process:
// a value named after the product under the current user's CurrentVersion key.
// It is consumed here.
bool take_prerequisite_restart(const LaunchSettings& settings) {
  std::wstring name = zString::format(L"%%QZ_PREREQFREBOOT%%-%s", settings.product_name.c_str());
  qz::reg_key key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion", 0,
                    KEY_QUERY_VALUE | KEY_SET_VALUE, key.receive()) != ERROR_SUCCESS)
    return false;
  if (RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) return false;
  RegDeleteValueW(key.get(), name.c_str());
  QZ_LOG(L"A prerequisite asked for a restart (%s)", name.c_str());
  return true;
}

// The main run after a successful preparation.
void main_run(Session& session) {
  if (!upgrade_check(session)) return;
  show_splash(session);
  if (!check_code_page(session)) return;
  if (!select_transform(session)) return;
#ifdef QZ_PREREQUISITES
  if (run_prerequisites(session, 1, std::wstring()) != 0) {
    close_setup_dialog(session);
    return;
  }
#endif
  create_setup_dialog(session);
  set_status_text(session, load_string(session.settings(), kCheckingSystemText));
  if (!session.os_record().supported) {
    QZ_LOG(L"Unsupported operating system: platform %d, version %d.%d", session.os_record().platform_id,
           session.os_record().major, session.os_record().minor);
    qzproc::set_exit_code(kUnsupportedSystem);
    show_error(session, kUnsupportedSystem);
    return;
  }
  if (execute_msi_action(session)) close_setup_dialog(session);
}

}  // namespace

bool prepare_session(Session& session) {
  LaunchSettings& settings = session.settings();
  {
    OSAction os(session);
    os.execute();
  }
  if (cancelled(session)) return false;
  {
    DiskAction disk(session);
    if (!disk.execute() || cancelled(session)) return false;
  }

  // `Source` is an integer whose default (1) applies when it is empty.
  std::wstring source = startup_setting(session, L"Source");
  session.set_source_flag(source.empty() || switch_rules::parse_decimal_text(source) != 0);

  bool instances = detect_instances(session);
  choose_language(session);
  if (instances) {
    int choice = choose_instance(session);
    if (choice == kInstanceChoiceFailed) return false;
    if (choice == kInstanceChosenChooseLanguage) choose_language(session);
  }
  std::wstring ini_folder = !session.setup_ini_folder().empty() ? session.setup_ini_folder() : session.source_folder();
  settings.setup_ini_path = zpath(ini_folder).join(L"Setup.INI");

  if (offers_language_dialog(settings)) {
    int result = show_language_dialog(session);
    if (result == kLanguageCancelled) {
      QZ_LOG(L"The language dialog was cancelled");
      return false;
    }
    if (result == kLanguageDialogFailed) {
      DWORD error = GetLastError();
      QZ_LOG(L"The language dialog could not be shown, error %u", error);
      show_system_error(session, error);
      return false;
    }
  }
  if (settings.show_reboot_msg) {
    // Asked once here; the answer at the end of the run decides.
    bool pending = session.reboot_needed();
    ask_reboot(session);
    session.set_reboot_needed(pending);
  }
  return check_password(session);
}

namespace {

// The body of Session::run. The steps are free functions, which inside a member
// of Session its own members of the same names would hide.
void run_session(Session& session) {
  switch (session.extraction_mode()) {
    case kExtractNormal:
      if (prepare_session(session)) main_run(session);
      break;
    case kExtractInstallerOnly:
      execute_msi_action(session);
      break;
    default:
      QZ_LOG(L"Extraction mode %d: no action runs", session.extraction_mode());
      break;
  }

  // ask_reboot clears the restart flag, so the answer is taken once, here.
  int answer = ask_reboot(session);
  if (!session.keep_files() && !session.reboot_scheduled()) process_deletion_list(session);
  if (answer == kAnswerYes) {
    QZ_LOG(L"Restarting the computer");
    qz::RebootSystem();
  }
  dump_settings(session);
  // The registry value is consumed whatever value 21 says: left behind, it would
  // end the next run of this product with 7002 too.
  const bool prerequisite_restart = take_prerequisite_restart(session.settings());
  if (!session.get_value(kValueChildRebootRequested).empty() || prerequisite_restart) {
    QZ_LOG(L"A restart is pending: exit code %d", kRestartPending);
    qzproc::set_exit_code(kRestartPending);
  }
}

}  // namespace

int Session::run() {
  run_session(*this);
  return 1;
}

int QzSetup::run() { return session_ ? session_->run() : 1; }
