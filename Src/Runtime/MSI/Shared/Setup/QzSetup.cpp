#include "QzSetup.h"

#include "CommandLineInfo.h"
#include "SetupPrereqMgr.h"
#include "exit_code_rules.h"
#include "launch.h"
#include "msi_library.h"
#include "package/IniProfile.h"
#include "package/LaunchSettings.h"
#include "package/error_display.h"
#include "package/languages.h"
#include "package/load_string.h"
#include "packaged_setting.h"
#include "secret_mask.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/error_codes.h"
#include "support/handles.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"
#include "switch_rules.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\QzSetup";

const wchar_t kAnotherInstanceText[] =
    L"Another instance of this setup is already running. Please wait for the other instance to finish and then try "
    L"again.";

namespace {

constexpr unsigned kAnotherInstanceTextId = 2010;

std::wstring own_module_path(HINSTANCE module) {
  wchar_t buffer[1024] = {};
  DWORD n = GetModuleFileNameW(module, buffer, 1024);
  if (n == 0 || n >= 1024) return std::wstring();  // cut names are not used as paths
  return std::wstring(buffer, n);
}

}  // namespace

QzSetup::QzSetup() = default;
QzSetup::~QzSetup() = default;

bool QzSetup::init(HINSTANCE module, int argc, wchar_t** argv, const std::wstring& clone_path,
                   const std::wstring& debug_log_path, LaunchSettings& settings) {
  module_ = module;
  session_ = std::make_unique<Session>(module, settings);
  session_->clear_setup_password();
  if (!debug_log_path.empty()) session_->set_debug_log_path(debug_log_path);
  // An elevated prerequisite pass logs to the same file.
  session_->set_origin_text(debug_log_path);

  session_->set_launcher_path(!clone_path.empty() ? clone_path : own_module_path(module));
  if (!session_->launcher_folder().empty()) settings.media_folder = session_->launcher_folder();
  if (settings.first_launcher_path.empty()) settings.first_launcher_path = session_->launcher_path();

  CommandLineInfo args(argc, argv);
  if (!args.for_each_switch(&Session::process_switch, *session_)) {
    qzproc::set_exit_code(err::kInvalidCommandLine);
    return false;
  }
  if (!session_->response_folder_writable() && !settings.silent) {
    QZ_LOG(L"The folder of the response file cannot be written");
    report_invalid_command_line(*session_);
    qzproc::set_exit_code(err::kInvalidCommandLine);
    return false;
  }
  if (settings.silent && !session_->response_file_given())
    session_->add_switch(L"/f1", zpath(session_->launcher_folder()).join(L"Setup.qzs"), true);
  return true;
}

#ifdef QZ_PREREQUISITES
int QzSetup::run_prerequisites(const std::wstring& features) {
  if (!session_ || !prepare_session(*session_)) return qzproc::exit_code();
  Session& session = *session_;
  const bool hosted = session.has_value(kValueEmbed);
  if (hosted) {
    // The resume command line the non-elevated launcher left for this pass.
    const wchar_t kCurrentVersion[] = L"Software\\Microsoft\\Windows\\CurrentVersion";
    const std::wstring name = L"%QZ_PREREQCMD%-" + session.settings().product_name;
    std::wstring value;
    if (qz::RegQueryString(HKEY_CURRENT_USER, kCurrentVersion, name, 0, &value) == ERROR_SUCCESS &&
        value.size() < 260) {
      session.set_value(kValueResumeCommandLine, value);
      qz::reg_key key;
      if (RegOpenKeyExW(HKEY_CURRENT_USER, kCurrentVersion, 0, KEY_SET_VALUE, key.receive()) == ERROR_SUCCESS)
        RegDeleteValueW(key.get(), name.c_str());
    }
  }
  MSIHANDLE installer = 0;
  int result = session.prerequisite_manager().RunPrerequisites(2, features, hosted, &installer);
  if (installer) qzmsi::CloseHandle(installer);
  if (!session.get_value(kValueChildRebootRequested).empty()) return err::kChildRequestsRestart;
  return result;
}

int QzSetup::advertise() {
  if (qz::OsMajorVersion() <= 5) {
    QZ_LOG(L"skipping advertisement on ver < 6");
    return 0;
  }
  Session& session = *session_;
  const std::wstring mode = session.advertise_while_elevated();
  const bool silent = !mode.empty() && mode[0] == L'S';
  if (mode.empty() || (mode[0] != L'Y' && !silent)) {
    QZ_LOG(L"skipping advertisement since not requested");
    return 0;
  }
  const std::wstring product = session.product_code(), package = session.package_code();
  if (product.empty()) {
    QZ_LOG(L"skipping advertisement: no product code");
    return 0;
  }
  if (package.empty()) {
    QZ_LOG(L"skipping advertisement: no package code");
    return 0;
  }
  wchar_t installed[51] = {};
  DWORD size = 51;
  if (qzmsi::GetProductInfo(product.c_str(), L"PackageCode", installed, &size) == ERROR_SUCCESS) {
    if (wide_iequals(installed, package)) return 0;
    if (qzmsi::QueryProductState(product.c_str()) != INSTALLSTATE_ADVERTISED) return 0;
    if (silent) qzmsi::SetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    qzmsi::ConfigureProduct(product.c_str(), 0, INSTALLSTATE_ABSENT);
  }
  std::wstring arguments;
  session.append_relaunch_switches(arguments);
  arguments += L" /jm";
  if (silent) arguments += L" /s /v\"/qn\"";
  const std::wstring transforms = session.prerequisite_manager().transform_list();
  if (!transforms.empty()) arguments += L" /v\"/t \\\"" + transforms + L"\\\"\"";
  if (!session.debug_log_path().empty()) arguments += L" /debuglog\"" + session.debug_log_path() + L"\"";
  QZ_LOG(L"Advertising installation with parameters: %s", secret_mask::for_log(arguments).c_str());
  return shell_execute_and_wait(own_module_path(module_), arguments, true, &session);
}
#endif

int QzSetup::exit_code(int code) {
  bool reboot_pending = session_ && (session_->reboot_needed() || session_->reboot_scheduled());
  // Once the session holds setup.ini its profile answers: the extracted file may
  // already be gone with the clean-up at the end of the run.
  qz::IniProfile* profile = session_ ? &session_->profile() : nullptr;
  if (profile && profile->path().empty()) profile = nullptr;
  StartupReader read = read_startup_ ? StartupReader(read_startup_)
                       : profile     ? StartupReader([profile](const std::wstring& key) {
                                         wchar_t buffer[261];
                                         profile->get_string(L"Startup", key.c_str(), L"", buffer, 261);
                                         return std::wstring(buffer);
                                       })
                                     : [](const std::wstring& key) { return read_packaged_setting(L"Startup", key, 260); };
  int mapped = map_custom_exit_code(code, reboot_pending, read);
  if (mapped != code) QZ_LOG(L"Exit code %d reported as %d", code, mapped);
  return mapped;
}

bool check_single_instance(HANDLE* mutex) {
  return check_single_instance(mutex, [](const std::wstring& section, const std::wstring& key) {
    return read_packaged_setting(section, key, 260);
  });
}

bool check_single_instance(HANDLE* mutex, const PackagedSettingReader& read) {
  if (mutex) *mutex = nullptr;
  if (!wide_iequals(read(L"StartUp", L"MultipleExeLaunch"), L"Y")) return false;

  std::wstring name = read(L"Startup", L"ProductCode") + L"MultipleInstance";
  HANDLE handle = CreateMutexW(nullptr, FALSE, name.c_str());
  if (!handle) {
    // A product code the system refuses as a name (a backslash, say) cannot
    // guard the run; the setup goes on without the check.
    QZ_LOG(L"The mutex %s could not be created, error %u", name.c_str(), GetLastError());
    return false;
  }
  DWORD wait = WaitForSingleObject(handle, 0);
  if (wait != WAIT_TIMEOUT) {
    // WAIT_ABANDONED also hands the mutex over: its former holder has ended.
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
      if (mutex)
        *mutex = handle;
      else
        CloseHandle(handle);
    } else {
      CloseHandle(handle);
    }
    return false;
  }
  CloseHandle(handle);

  LaunchSettings* settings = qzproc::settings();
  static LaunchSettings fallback;
  LaunchSettings& s = settings ? *settings : fallback;
  std::wstring default_language = read(L"Languages", L"Default");
  if (!default_language.empty()) s.default_language = static_cast<uint16_t>(switch_rules::parse_int_text(default_language));
  choose_language(s, previous_installation_language(s));
  std::wstring text = load_string(s, kAnotherInstanceTextId);
  if (text.empty()) text = kAnotherInstanceText;
  message_box(s, nullptr, text, MB_OK | MB_ICONINFORMATION, IDOK);
  qzproc::set_exit_code(err::kAnotherInstanceRunning);
  QZ_LOG(L"Another instance of the setup is already running, Setup exits returning %d", err::kAnotherInstanceRunning);
  return true;
}
