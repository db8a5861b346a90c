#include "QzSetup.h"

#include "CommandLineInfo.h"
#include "LaunchSettings.h"
#include "exit_code_rules.h"
#include "packaged_setting.h"
#include "process_state.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\QzSetup";

namespace {

constexpr int kInvalidCommandLine = 1203;

// The session's own run (the action chain) hooks in here.
int run_session(Session& session) { return 1; }

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

int QzSetup::run() {
  if (!session_) return 1;
  return run_session(*session_);
}

int QzSetup::exit_code(int code) {
  bool reboot_pending = session_ && (session_->reboot_needed() || session_->reboot_scheduled());
  int mapped = map_custom_exit_code(code, reboot_pending,
                                    [](const std::wstring& key) { return read_packaged_setting(L"Startup", key, 260); });
  if (mapped != code) QZ_LOG(L"Exit code %d reported as %d", code, mapped);
  return mapped;
}

bool check_single_instance(HANDLE* mutex) {
  if (mutex) *mutex = nullptr;
  return false;
}
