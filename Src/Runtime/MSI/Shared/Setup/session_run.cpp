// The session run of the setup driver: the action chain for each extraction mode
// and the steps that always end a run. Built once per deliverable: chainsetup
// installs its prerequisites before the product.
#include "QzSetup.h"
#include "SetupPrereqMgr.h"
#include "cleanup.h"
#include "diskaction.h"
#include "instances.h"
#include "language_steps.h"
#include "msi_checks.h"
#include "msiaction.h"
#include "osaction.h"
#include "package/IniProfile.h"
#include "package/LaunchSettings.h"
#include "package/error_display.h"
#include "package/load_string.h"
#include "session.h"
#include "session_ui.h"
#include "support/debuglog.h"
#include "support/error_codes.h"
#include "support/handles.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"
#include "switch_rules.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\session_run";

namespace {

constexpr unsigned kCheckingSystemText = 1103;
constexpr int kAnswerYes = 6;

std::wstring startup_setting(Session& session, const wchar_t* key) {
  wchar_t buffer[1024];
  session.profile().get_string(L"Startup", key, L"", buffer, 1024);
  return buffer;
}

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
  session_ui().show_splash(session);
  if (!check_code_page(session)) return;
  if (!select_transform(session)) return;
#ifdef QZ_PREREQUISITES
  // With the RunOnce entry a pass that ends for a restart resumes after it.
  int prerequisites = session.prerequisite_manager().RunPrerequisites(1, std::wstring(), true, nullptr);
  if (prerequisites != CSetupPrereqMgr::kCarryOn) {
    // A restart this process leaves to others (the user, a deployment tool) ends
    // with 3010; one the waiting parent performs ends with 7002 below.
    if (prerequisites == CSetupPrereqMgr::kRestartPending && session.get_value(kValueChildRebootRequested).empty())
      qzproc::set_exit_code(err::kRestartRequired);
    // A stop whose step left no reason would otherwise end as a success.
    if (prerequisites == CSetupPrereqMgr::kStop && qzproc::exit_code() == 0)
      qzproc::set_exit_code(err::kPrerequisiteFailed);
    session.close_setup_dialog();
    return;
  }
#endif
  session.create_setup_dialog();
  session.set_status_text(load_string(session.settings(), kCheckingSystemText));
  if (!session.os_record().supported) {
    QZ_LOG(L"Unsupported operating system: platform %d, version %d.%d", session.os_record().platform_id,
           session.os_record().major, session.os_record().minor);
    report_error(session.settings(), err::kUnsupportedSystem);
    return;
  }
  if (execute_msi_action(session)) session.close_setup_dialog();
}

}  // namespace

bool prepare_session(Session& session) {
  LaunchSettings& settings = session.settings();
  {
    OSAction os(session);
    os.execute();
  }
  if (session.setup_cancelled()) return false;
  {
    DiskAction disk(session);
    if (!disk.execute() || session.setup_cancelled()) return false;
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
      show_system_error(settings, std::wstring(), error);
      return false;
    }
  }
  if (settings.show_reboot_msg) {
    // Asked once here; the answer at the end of the run decides.
    bool pending = session.reboot_needed();
    session.ask_reboot();
    session.set_reboot_needed(pending);
  }
  return session_ui().check_password(session);
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
  int answer = session.ask_reboot();
  if (!session.keep_files() && !session.reboot_scheduled()) process_deletion_list();
  if (answer == kAnswerYes) {
    QZ_LOG(L"Restarting the computer");
    qz::RebootSystem();
  }
  session.dump_settings();
  // The registry value is consumed whatever value 21 says: left behind, it would
  // end the next run of this product with 7002 too.
  const bool prerequisite_restart = take_prerequisite_restart(session.settings());
  if (!session.get_value(kValueChildRebootRequested).empty() || prerequisite_restart) {
    QZ_LOG(L"A restart is pending: exit code %d", err::kRestartPending);
    qzproc::set_exit_code(err::kRestartPending);
  }
}

}  // namespace

int Session::run() {
  run_session(*this);
  return 1;
}

int QzSetup::run() { return session_ ? session_->run() : 1; }
