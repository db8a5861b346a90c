#include "QzMsiHelper.h"

#include "ScriptInitProgress.h"
#include "engine_rules.h"
#include "package/IniProfile.h"
#include "package/LaunchSettings.h"
#include "package/error_display.h"
#include "package_cache.h"
#include "secret_mask.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/dynload.h"
#include "support/error_codes.h"
#include "support/errors.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\QzMsiHelper";

namespace {

const wchar_t kEngineName[] = L"QZSetup.dll";

using RunSetupFn = int(WINAPI*)(const wchar_t*, int, const wchar_t*, ISetupInitializationProgress*, int,
                                const wchar_t*);
using RemovalFn = int(WINAPI*)(const wchar_t*, int, int, const wchar_t*);

const LaunchSettings& current_settings() {
  static const LaunchSettings blank;
  const LaunchSettings* s = qzproc::settings();
  return s ? *s : blank;
}

// 1670 has no text of its own: the number, the library and the system's reason.
void report_unusable(const std::wstring& path, DWORD error) {
  qzproc::set_exit_code(err::kEngineNotLoaded);
  const LaunchSettings& settings = current_settings();
  std::wstring text = numbered_error_text(settings, err::kEngineNotLoaded, {}) + path + L"\r\n" +
                      qz::system_message(error);
  show_error_text(settings, text, false);
}

// Calls the engine's setup with a progress object of its own; the launcher's
// reference is released after the call, the engine may keep others.
int call_engine(RunSetupFn run, const std::wstring& target, int is_product_code, const std::wstring& command_line,
                Session* session, bool remove_only, int language, const std::wstring& setup_name) {
  QZ_LOG(L"Launching Scriptwork engine: %s, %s, %d", target.c_str(), secret_mask::for_log(command_line).c_str(),
         language);
  auto* progress = new CScriptInitProgressHandler(session, remove_only);
  int result = run(target.c_str(), is_product_code, command_line.c_str(), progress, language, setup_name.c_str());
  progress->Release();
  QZ_LOG(L"Scriptwork engine returned %d", result);
  return result;
}

}  // namespace

std::wstring QzMsiHelper::default_location(const std::wstring& launcher_path) {
  return zpath(launcher_path).folder().join(kEngineName);
}

bool QzMsiHelper::locate_engine(Session& session, std::wstring* path) {
  // Only a carried library is extracted; a failed attempt is no error of the run
  // (the one beside the launcher is tried next), so the result code stays.
  if (session.stream_contains(kEngineName)) {
    const int code = qzproc::exit_code();
    bool extracted = ExtractSetupMember(session, kEngineName, path, false);
    qzproc::set_exit_code(code);
    if (extracted) return true;
  }
  *path = zpath(session.launcher_folder()).join(kEngineName);
  return qz::PathExists(*path, qz::kPathFile);
}

QzMsiHelper::QzMsiHelper(const std::wstring& library) : path_(library) {
  module_ = qz::load_library_beside(library);
  if (!module_) {
    DWORD error = GetLastError();
    QZ_LOG(L"Failed to load QZSetup.dll");
    report_unusable(library, error);
  }
}

QzMsiHelper::~QzMsiHelper() {
  if (module_) FreeLibrary(module_);
}

bool QzMsiHelper::initialise() {
  if (!module_) return false;
  if (qz::module_export<RunSetupFn>(module_, "RunQZMSISetup")) return true;
  QZ_LOG(L"%s has no entry point RunQZMSISetup", path_.c_str());
  report_unusable(path_, ERROR_PROC_NOT_FOUND);
  return false;
}

int QzMsiHelper::run_setup(Session& session, const std::wstring& package_path) {
  const LaunchSettings& settings = session.settings();
  const int language = engine_rules::engine_language(settings.ui_language, settings.supported_languages.size());
  const std::wstring& command_line = session.engine_command_line();
  auto run = qz::module_export<RunSetupFn>(module_, "RunQZMSISetup");
  if (!run) {
    QZ_LOG(L"Could not find entry point in QZSetup.dll");
    return 0;
  }
  std::wstring product_code = session.get_value(kValueProductCode);
  if (product_code.empty()) product_code = session.product_code();
  engine_rules::Target target = engine_rules::setup_target(session.source(), package_path, product_code);
  std::wstring name = engine_rules::setup_name(session.stream_contains(kEngineName), session.launcher_path());
  return call_engine(run, target.text, target.is_product_code, command_line, &session,
                     engine_rules::remove_only(command_line), language, name);
}

int QzMsiHelper::run_from_settings(const std::wstring& command_line) {
  auto run = qz::module_export<RunSetupFn>(module_, "RunQZMSISetup");
  if (!run) return 0;
  const std::wstring own = qzproc::own_file_name();
  qz::IniProfile profile(zpath(own).folder().join(L"setup.ini"));
  wchar_t product[260] = {};
  if (!profile.load() || !profile.get_string(L"Startup", L"ProductCode", L"", product, 260)) product[0] = 0;
  return call_engine(run, product, 1, command_line, nullptr, false, 0, zpath(own).leaf());
}

int QzMsiHelper::major_upgrade_removal(const std::wstring& product_code, int first, int second,
                                       const std::wstring& text) {
  auto remove = qz::module_export<RemovalFn>(module_, "RunQZMSIMajorUpgradeRemoval");
  if (!remove) {
    QZ_LOG(L"Could not find entry point RunQZMSIMajorUpgradeRemoval in QZSetup.dll");
    return 0;
  }
  QZ_LOG(L"Launching Scriptwork engine removal: %s, %d, %d", product_code.c_str(), first, second);
  int result = remove(product_code.c_str(), first, second, text.c_str());
  QZ_LOG(L"Scriptwork engine returned %d", result);
  return result;
}
