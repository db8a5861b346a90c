#include "language_steps.h"

#include <windows.h>

#include "msi_checks.h"
#include "msi_library.h"
#include "package/LaunchSettings.h"
#include "package/error_display.h"
#include "package/languages.h"
#include "package_cache.h"
#include "package_cache_rules.h"
#include "session.h"
#include "session_ui.h"
#include "support/debuglog.h"
#include "support/error_codes.h"
#include "support/process_state.h"
#include "support/utils.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\language_steps";

namespace {

// The installed product's language ("Language" of the Windows Installer); 0 when
// the product is not installed or msi.dll is missing.
uint16_t installed_product_language(Session& session) {
  std::wstring code = session.get_value(kValueProductCode);
  if (code.empty()) code = session.settings().product_code;
  if (code.empty()) return 0;
  wchar_t text[16] = {};
  DWORD size = 16;
  if (qzmsi::GetProductInfo(code.c_str(), L"Language", text, &size) != ERROR_SUCCESS) return 0;
  return lang::parse_language_piece(text);
}

// The package's platform, when its file is already at hand before it is located:
// beside the launcher (or where /UM names it) or in the temporary folder. A package
// still in the stream or on the web counts as 32-bit, as most packages are.
bool package_at_hand_is_64bit(Session& session) {
  const std::wstring name = session.get_value(kValuePackageName);
  if (name.empty()) return false;
  std::wstring path;
  if (session.has_value(kValuePackageLocation)) {
    path = package_cache_rules::source_location_path(session.package_source_folder(),
                                                     session.get_value(kValuePackageLocation));
  } else {
    std::wstring location = msi_package_setting(session, name, L"Location");
    if (location.empty()) location = name;
    int type = msi_package_setting_int(session, name, L"Type", kLocationSource);
    if (type == kLocationSource)
      path = package_cache_rules::source_location_path(session.package_source_folder(), location);
    else if (type == kLocationTemp && !qzproc::temp_folder().empty())
      path = package_cache_rules::join_path(qzproc::temp_folder(), location);
  }
  return !path.empty() && qz::PathExists(path, qz::kPathFile) && IsPackage64Bit(path);
}

}  // namespace

void choose_language(Session& session) {
  LaunchSettings& settings = session.settings();
  uint16_t installed = installed_product_language(session);
  // Only then is the uninstall key read, whose registry view the platform decides.
  if (installed == 0 && settings.script_driven == 4) settings.package_64bit = package_at_hand_is_64bit(session);
  choose_language(settings, installed);
}

int show_language_dialog(Session& session) {
  HRESULT hr = session_ui().show_language_dialog(session.settings());
  if (hr == kLanguageDialogOk) return kLanguageChosen;
  // Either way nothing is installed: the exit code must not read as success.
  if (hr == kLanguageDialogCancelled) {
    qzproc::set_exit_code(err::kCancelled);  // like every other cancel of the launcher
    return kLanguageCancelled;
  }
  qzproc::set_exit_code(static_cast<int>(hr));
  SetLastError(hr == static_cast<HRESULT>(0x8000FFFF) ? 0 : static_cast<DWORD>(hr & 0xFFFF));
  return kLanguageDialogFailed;
}

bool check_code_page(Session& session) {
  const LaunchSettings& settings = session.settings();
  int error = check_code_page(settings, nullptr);
  if (error == 0) return true;
  report_error(settings, error, language_name(settings, settings.ui_language));
  return false;
}

bool select_transform(Session& session) {
  TransformHost host;
  host.stream_contains = [&](const std::wstring& name) { return session.stream_contains(name); };
  host.extract = [&](const std::wstring& name, const std::wstring& path) {
    return session.extract_member(name, true, true, &path, true);
  };
  host.set_value = [&](uint32_t id, const std::wstring& value) { session.set_value(id, value); };
  host.add_switch = [&](const std::wstring& sw, const std::wstring& text, bool quoted) {
    session.add_switch(sw, text, quoted);
  };
  host.temp_folder = qzproc::temp_folder();
  if (session.source_folder_from_switch()) host.source_folder = session.source_folder();
  host.patch = session.launch_mode() == kModePatch;
  host.script_driven = session.settings().script_driven;
  if (select_transform(session.settings(), host)) return true;
  QZ_LOG(L"The language transform could not be extracted");
  return false;
}
