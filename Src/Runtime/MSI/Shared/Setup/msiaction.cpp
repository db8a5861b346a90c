#include "msiaction.h"

#include <shellapi.h>

#include <vector>

#include "QzMsiHelper.h"
#include "cleanup.h"
#include "engine_rules.h"
#include "feature_selection.h"
#include "launch.h"
#include "msi_checks.h"
#include "msi_library.h"
#include "msi_rules.h"
#include "net/trust.h"
#include "package/LaunchSettings.h"
#include "package/error_display.h"
#include "package/languages.h"
#include "package_cache.h"
#include "secret_mask.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/dynload.h"
#include "support/error_codes.h"
#include "support/handles.h"
#include "support/message_pump.h"
#include "support/number_text.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"
#include "test_hooks.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\msiaction";

namespace {

const wchar_t kCurrentVersionKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion";
const wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kRunOnceExKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx";
const wchar_t kRunOnceEntriesKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\RunOnceEntries";
constexpr size_t kPathCapacity = 1024;
constexpr size_t kResumeCapacity = 520;

bool set_string_value(HKEY key, const wchar_t* name, const std::wstring& data) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// Rewrites the resume entry `name` of `key_path` to start the launcher instead.
bool rewrite_entry_in(const wchar_t* key_path, const std::wstring& name, const std::wstring& launcher) {
  qz::reg_key key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.receive()) != ERROR_SUCCESS)
    return false;
  wchar_t buffer[kResumeCapacity + 1] = {};
  DWORD type = 0, bytes = kResumeCapacity * sizeof(wchar_t);
  if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return false;
  std::wstring old(buffer, wcsnlen(buffer, kResumeCapacity));
  std::wstring data;
  if (!msi_rules::rewrite_resume_entry(old, launcher, &data)) return false;
  return set_string_value(key.get(), name.c_str(), data);
}

}  // namespace

MsiAction::MsiAction(Session& session) : Action(session, kStatusText) {}
MsiAction::~MsiAction() = default;

bool MsiAction::GetScriptMode() {
  msi_rules::ScriptMode m = msi_rules::script_mode(msi_setting_int(L"Startup", L"ScriptDriven", 0));
  if (m.log_text) QZ_LOG(L"%s", m.log_text);
  if (m.engine_runs_install) script_engine_ = 1;
  return m.uses_script;
}

void MsiAction::MergeLanguageTransform(const std::wstring& transform, std::wstring& properties) {
  msi_rules::merge_language_transform(properties, transform);
}

int MsiAction::execute() {
  QZ_LOG(L"MsiAction: %s", L"Configuring Windows Installer");
  std::wstring name = session().get_value(kValuePackageName);
  if (name.empty()) name = msi_setting(L"Startup", L"PackageName");
  if (!name.empty() && name[0] == L'*') {
    std::wstring click = msi_setting(L"Startup", L"ClickOncePackage");
    if (click.empty() || click[0] == L' ') return 0;
    std::wstring path = zpath(session().launcher_folder()).join(click);
    if (!qz::PathExists(path, qz::kPathFile)) path = click;
    HINSTANCE r = ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(r) > 32 ? 1 : 0;
  }
  if (name.empty()) {
    // Without a package name there is nothing to locate, and a launch that
    // installed nothing must not end as a success.
    QZ_LOG(kNoPackageNameLog);
    report_error(session().settings(), err::kSettingsUnreadable);
    return 0;
  }
  std::wstring package;
  int type = 0;
  if (!LocatePackage(session(), &package, &type, true)) return 0;
  if (msi_setting_int(L"Startup", L"ScriptDriven", 0) == 3 && !check_engine_version(session())) return 0;
  if (msi_setting_int(L"Startup", L"Source", 1) != 0 && !CachePackage(session(), name, &package)) {
    session().close_setup_dialog();
    return 0;
  }
  if (type != kLocationWebInstall) package = qz::FullPath(package);
  // Every command line and property list logged from here on hides what the
  // package hides. A patch hides what its product does, which is not read here.
  if (type != kLocationWebInstall && session().launch_mode() != kModePatch) learn_hidden_properties(package);
#ifdef QZ_PREREQUISITES
  const std::wstring prereq_value = L"%QZ_PREREQCMD%-" + msi_setting(L"Startup", L"Product");
  bool prereq_value_written = false;
  if (session().has_value(kValueFeaturePrerequisites)) {
    if (msi_rules::asks_for_silent_install(session().get_value(kValueInstallerCommandLine)) &&
        session().launch_mode() == kModeInstall) {
      if (install_feature_prerequisites(session(), package) != 0) {
        session().close_setup_dialog();
        return 0;
      }
    } else {
      std::wstring data = session().get_value(kValueResumeCommandLine);
      if (data.empty()) data = session().strip_relaunch_switches(GetCommandLineW());
      qz::reg_key key;
      if (RegOpenKeyExW(HKEY_CURRENT_USER, kCurrentVersionKey, 0, KEY_SET_VALUE, key.receive()) == ERROR_SUCCESS)
        prereq_value_written = set_string_value(key.get(), prereq_value.c_str(), data);
    }
  }
  int result = InstallMsi(package);
  if (prereq_value_written) {
    qz::reg_key key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kCurrentVersionKey, 0, KEY_SET_VALUE, key.receive()) == ERROR_SUCCESS)
      RegDeleteValueW(key.get(), prereq_value.c_str());
  }
  return result;
#else
  return InstallMsi(package);
#endif
}

int MsiAction::InstallMsi(const std::wstring& package) {
  // The signer gate.
  std::wstring validate = msi_stream_setting_ini(L"StartUp", L"ValidateSetupAndMSISignatures", 260);
  if (validate.size() == 1 && (validate[0] == L'Y' || validate[0] == L'y') &&
      !signer_gate_passes(session().launcher_path(), package)) {
    QZ_LOG(L"MsiAction: Digital Signing mismatch between Setup.exe and MSI. Terminating the instalaltion...");
    report_error(session().settings(), err::kSignerMismatch);
    return 0;
  }

  const LaunchSettings& settings = session().settings();
  const int mode = session().launch_mode();
  msi_rules::PropertyListInput in;
  in.properties = session().get_value(kValueInstallerCommandLine);
  in.saved_properties = session().get_value(kValueSavedProperties);
  in.multiple_languages = settings.supported_languages.size() > 1;
  in.started_after_restart = session().started_with_c_or_e();
  in.launch_mode = mode;
  in.language_transform = session().get_value(kValueLanguageTransform);
  std::wstring folder;
  msi_rules::split_launcher_path(session().launcher_path(), &folder, &in.launcher_name);
  in.launcher_folder = qz::FullPath(folder);
  in.uses_script = GetScriptMode();
  in.script_command_line = session().engine_command_line();
  msi_rules::PropertyList list = msi_rules::compose_property_list(in);
  session().add_switch(L"/v", list.setup_exe_values, true);

  std::wstring command =
      msi_rules::msiexec_command_line(msiexec_path(), mode, session().get_value(kValueModeLetters), package,
                                      list.properties);
  if (mode == kModePatch) session().add_switch(L"/v", msi_rules::patch_forward_value(package, list.properties), true);

  // 1. Runtime files of the script engine.
  if (mode == kModeInstall || mode == kModeUninstall) {
    std::wstring runtime;
    QzMsiHelper::extract_runtime_files(session(), package, &runtime);
    if (!runtime.empty()) {
      std::wstring value = L"QZ_RUNTIME_FILES_LOCATION=\"" + runtime + L"\"";
      command += L" " + value;
      session().add_switch(L"/v", value, true);
    }
  }

  // 2. The engine runs the installation.
  if (script_engine_) {
    std::wstring library;
    if (!QzMsiHelper::locate_engine(session(), &library)) {
      QZ_LOG(L"Failed to locate QZSetup.dll (%s)", library.c_str());
      qzproc::set_exit_code(err::kCancelled);
      return 0;
    }
    QZ_LOG(L"Attempted unloaded of msi.dll: %d", qzmsi::Unload() ? 1 : 0);
    std::wstring target = mode == kModePatch ? msi_setting(L"Startup", L"ProductCode") : package;
    QzMsiHelper engine(library);
    if (!engine.initialise()) return 0;
    int result = engine.run_setup(session(), target);
    qzproc::set_exit_code(result);
    engine_rules::Effect effect = engine_rules::result_effect(result);
    if (effect.restart) {
      restart_pending_ = 1;
      Reboot(list.properties);
    }
    if (effect.message) report_message(settings, effect.message);
    return 1;
  }

  // 3. Billboards through the external user-interface library.
  bool done = false;
  if (try_billboards(package, list.properties, &done) && done) return 1;

  // 4. msiexec.
  run_msiexec(package, command);
  return 1;
}

bool MsiAction::try_billboards(const std::wstring& package, const std::wstring& properties, bool* done) {
  *done = false;
  const LaunchSettings& settings = session().settings();
  std::wstring type_text = session().get_value(kValueBillboardType);
  int billboard_type = type_text.empty() ? msi_setting_int(L"Startup", L"BillboardType", 0) : qz::read_integer(type_text);
  if (session().launch_mode() != kModeInstall || settings.silent || settings.auto_ ||
      msi_rules::suppresses_billboards(properties) || billboard_type == 0 ||
      product_installed(session().get_value(kValueProductCode)))
    return false;
  QZ_LOG(L"First time install uses billboard support");
  std::wstring path;
  if (!ExtractSetupMember(session(), L"QZExternalUI.dll", &path, false)) {
    QZ_LOG(L"Failed to get UI DLL from setup.exe for billboard support. This installation will run without "
           L"billboards.");
    return false;
  }
  QZ_LOG(L"Loading QZExternalUI.dll from '%s'", path.c_str());
  qz::module_handle library(qz::load_library_beside(path));
  if (!library) {
    QZ_LOG(L"Failed to load UI DLL, last error %x, install will run without billboards", GetLastError());
    return false;
  }
  using InstallFn = int(WINAPI*)(const wchar_t*, const wchar_t*, int, int);
  auto install = qz::module_export<InstallFn>(library.get(), "QZExternalUIInstall");
  if (!install) return false;
  *done = true;
  if (!session().wait_out_splash()) return true;
  session().hide_setup_dialog();
  session().close_setup_dialog();
  int result = install(package.c_str(), properties.c_str(), is_rtl_language(settings, settings.ui_language) ? 1 : 0,
                       billboard_type);
  qzproc::set_exit_code(result);
  return true;
}

void MsiAction::run_msiexec(const std::wstring& package, const std::wstring& command) {
  if (session().setup_dialog_shown()) {
    if (!session().wait_out_splash()) return;
    session().hide_setup_dialog();
  }
  session().close_setup_dialog();
  FILETIME start{};
  GetSystemTimeAsFileTime(&start);
  {
    qz::ScopedWow64Redirection redirection;
    if (qz::IsWow64Process() && IsPackage64Bit(package)) {
      QZ_LOG(L"Disabling WOW64 file system redirection to prevent issues with 64-bit MSI packages (costing error "
             L"2324)");
      redirection.switch_off();
    }
    if (command.size() > msi_rules::kMaxCommandLine) {
      // Cutting it would hand msiexec other properties than those composed.
      QZ_LOG(L"The Windows Installer command line is %d characters long, more than the system accepts",
             static_cast<int>(command.size()));
      qzproc::set_exit_code(err::kInstallerNotStarted);
    } else {
      int code = launch_and_wait(command, true);
      if (code == err::kNotStarted) {
        qzproc::set_exit_code(err::kInstallerNotStarted);
      } else if (session().restart_due() && code == err::kUserDeclined) {
        session().set_reboot_needed(true);
      }
    }
  }
  std::wstring package_folder = zpath(package).folder();
  const std::wstring& temp = qzproc::temp_folder();
  if (!temp.empty() && wide_iequals(zpath(package_folder).remove_backslash(), zpath(temp).remove_backslash()))
    restart_pending_ = RedirectResumeEntries() ? 1 : 0;
  else
    RemoveSessionTransforms(start);
}

bool MsiAction::RedirectResumeEntries() {
  qz::reg_key entries;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunOnceEntriesKey, 0, KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY,
                    entries.receive()) != ERROR_SUCCESS)
    return false;
  for (DWORD index = 0;; ++index) {
    wchar_t name[kResumeCapacity] = {};
    DWORD length = kResumeCapacity;
    LSTATUS status = RegEnumValueW(entries.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    // A name too long for the buffer is not one of ours to take over: skip it.
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) return false;
    std::wstring n(name, length);
    if (rewrite_entry_in(kRunOnceKey, n, session().launcher_path())) return true;
    if (rewrite_entry_in(kRunOnceExKey, n, session().launcher_path())) return true;
  }
}

void MsiAction::RemoveSessionTransforms(const FILETIME& start) {
  wchar_t temp[kPathCapacity] = {};
  DWORD n = GetTempPathW(kPathCapacity, temp);
  if (n == 0 || n >= kPathCapacity) return;
  zpath folder(std::wstring(temp, n));
  WIN32_FIND_DATAW data;
  qz::find_handle find(FindFirstFileW(folder.join(L"*.mst").c_str(), &data));
  if (!find) return;
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    // Only transforms this installation made: other programs' transforms that
    // were merely read meanwhile have a later access time too.
    if (CompareFileTime(&data.ftCreationTime, &start) >= 0 || CompareFileTime(&data.ftLastWriteTime, &start) >= 0)
      DeleteFileW(folder.join(data.cFileName).c_str());
  } while (FindNextFileW(find.get(), &data));
}

void MsiAction::Reboot(const std::wstring& properties) {
  const LaunchSettings& settings = session().settings();
  const std::wstring& temp = qzproc::temp_folder();
  const bool compressed = session().package_mode() == kPackageFromStream;
  // 1. The settings file the run after the restart reads.
  std::wstring settings_copy;
  if (compressed) {
    settings_copy = zpath(temp).join(L"setup.ini");
  } else {
    std::wstring original = !settings.setup_ini_path.empty() ? settings.setup_ini_path
                                                             : zpath(session().launcher_folder()).join(L"setup.ini");
    settings_copy = zpath(temp).join(zpath(original).leaf());
    if (!wide_iequals(original, settings_copy) && CopyFileW(original.c_str(), settings_copy.c_str(), FALSE)) {
      SetFileAttributesW(settings_copy.c_str(), FILE_ATTRIBUTE_NORMAL);
      record_file(settings_copy);
    }
    wchar_t lang[16];
    swprintf(lang, 16, L"0x%04x.ini", static_cast<unsigned>(settings.ui_language));
    std::wstring lang_source = zpath(original).folder().join(lang);
    std::wstring lang_copy = zpath(temp).join(lang);
    if (!wide_iequals(lang_source, lang_copy) && CopyFileW(lang_source.c_str(), lang_copy.c_str(), FALSE))
      record_file(lang_copy);
  }

  // 2-7. The entry that starts the launcher after the restart.
  const int selection = msi_setting_int(L"Startup", L"NoSuppressRebootKey", 0);
  const wchar_t* key_path = msi_rules::reboot_entry_key(selection);
  qz::reg_key key;
  if (key_path && RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY,
                                key.receive()) == ERROR_SUCCESS) {
    msi_rules::RebootCommandInput in;
    in.launcher_path = session().launcher_path();
    in.launch_mode = session().launch_mode();
    in.letters = session().get_value(kValueModeLetters);
    in.language = settings.ui_language;
    in.source_folder = session().package_source_folder();
    in.temp_folder = temp;
    in.properties = properties;
    in.compressed = compressed;
    in.debug_log_path = session().debug_log_path();
    msi_rules::RebootCommand rc = msi_rules::compose_reboot_command(in);
    {
      // The property list goes into the entry unescaped, inside quotes of its own:
      // it is masked as the list it is before the entry is masked.
      msi_rules::RebootCommandInput shown = in;
      shown.properties = secret_mask::for_log(properties);
      QZ_LOG(L"MsiAction::Reboot command line %s",
             secret_mask::for_log(msi_rules::compose_reboot_command(shown).command).c_str());
    }
    HKEY target = key.get();
    qz::reg_key sub;
    if (selection == 1 && RegCreateKeyExW(key.get(), L"0001", 0, nullptr, 0, KEY_SET_VALUE, nullptr, sub.receive(),
                                          nullptr) == ERROR_SUCCESS)
      target = sub.get();
    std::wstring command = rc.command;
    qz::reg_key current;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersionKey, 0, KEY_SET_VALUE, current.receive()) == ERROR_SUCCESS) {
      set_string_value(current.get(), L"%QZ_T%", in.source_folder);
      set_string_value(current.get(), L"%QZ_E%", in.temp_folder);
      if (!rc.properties.empty()) set_string_value(current.get(), L"%QZ_V%", rc.properties);
      command = msi_rules::apply_reboot_placeholders(command, in.source_folder, in.temp_folder, rc.properties);
    }
    if (!set_string_value(target, L"QZSetup", command)) QZ_LOG(L"The restart entry could not be written");
  }

  // 8. The run after the restart takes the package from the temporary folder.
  std::wstring name = session().get_value(kValuePackageName);
  int type = msi_package_setting_int(session(), name, L"Type", 0);
  if (!name.empty() && (session().has_value(kValuePackageLocation) || type == 1 || type == 2))
    WritePrivateProfileStringW(name.c_str(), L"Type", L"4", settings_copy.c_str());

  // 9. The restart.
  if (selection == 3) return;
  if (!settings.silent || settings.auto_) {
    std::wstring text = msi_message_text(session(), 1107);
    if (msi_message_box(session(), text, MB_YESNO | MB_ICONQUESTION, IDNO) == IDYES) qz::RebootSystem();
  } else {
    qz::RebootSystem();
  }
}

bool run_msi_action(Session& session, int* restart_pending) {
  MsiAction action(session);
  int result = action.execute();
  if (restart_pending) *restart_pending = action.restart_pending();
  return result != 0;
}

// The test launchers can hold the run open before the action or stand in for its
// result (test_hooks.h); the shipped ones never do.
int execute_msi_action(Session& session) {
  unsigned sleep_ms = 0;
  if (test_hooks::msi_action_sleep_ms(&sleep_ms)) {
    // The wait keeps the thread's windows painting and answering, as a running
    // installation would.
    qz::pump_wait(sleep_ms, session.get_setup_dialog(), [&session] { return session.setup_cancelled(); });
    if (session.setup_cancelled()) return 0;
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
