#include "QzSetup.h"

#include "CommandLineInfo.h"
#include "exit_code_rules.h"
#include "package/IniProfile.h"
#include "package/LaunchSettings.h"
#include "package/load_string.h"
#include "packaged_setting.h"
#include "run_steps.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/process_state.h"
#include "support/zstring.h"
#include "switch_rules.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\QzSetup";

const wchar_t kAnotherInstanceText[] =
    L"Another instance of this setup is already running. Please wait for the other instance to finish and then try "
    L"again.";

namespace {

constexpr int kInvalidCommandLine = 1203;
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

  session_->set_launcher_path(!clone_path.empty() ? clone_path : own_module_path(module));
  if (!session_->launcher_folder().empty()) settings.media_folder = session_->launcher_folder();

  CommandLineInfo args(argc, argv);
  if (!args.for_each_switch(&Session::process_switch, *session_)) {
    qzproc::set_exit_code(kInvalidCommandLine);
    return false;
  }
  if (!session_->response_folder_writable() && !settings.silent) {
    QZ_LOG(L"The folder of the response file cannot be written");
    report_invalid_command_line(*session_);
    qzproc::set_exit_code(kInvalidCommandLine);
    return false;
  }
  if (settings.silent && !session_->response_file_given())
    session_->add_switch(L"/f1", zpath(session_->launcher_folder()).join(L"Setup.qzs"), true);
  return true;
}

int QzSetup::exit_code(int code) {
  bool reboot_pending = session_ && (session_->reboot_needed() || session_->reboot_scheduled());
  // Once the session holds setup.ini its profile answers: the extracted file may
  // already be gone with the clean-up at the end of the run.
  qz::IniProfile* profile = session_ ? &settings_profile(*session_) : nullptr;
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
  if (!s.silent) message_box(nullptr, text, MB_OK | MB_ICONINFORMATION, IDOK, 0);
  qzproc::set_exit_code(kAnotherInstanceRunning);
  QZ_LOG(L"Another instance of the setup is already running, Setup exits returning %d", kAnotherInstanceRunning);
  return true;
}
