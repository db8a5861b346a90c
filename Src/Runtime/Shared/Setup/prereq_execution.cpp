#include "prereq_execution.h"

#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "CAutoMsiProgress.h"
#include "package/LaunchSettings.h"
#include "package/languages.h"
#include "prereq_host.h"
#include "prereq_msi.h"
#include "prereq_rules.h"
#include "prereq_system_win.h"
#include "support/debuglog.h"
#include "support/handles.h"
#include "support/process_state.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\Shared\\Setup\\SetupPreRequisite";

namespace {

const wchar_t kRunOnce[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kRunOnceEx[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx";
const wchar_t kRenames[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\FileRenameOperations";
const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

// Makes the folder current for its lifetime and restores the previous one.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::wstring& folder) {
    wchar_t buffer[MAX_PATH * 4];
    DWORD n = GetCurrentDirectoryW(MAX_PATH * 4, buffer);
    if (n > 0 && n < MAX_PATH * 4) previous_.assign(buffer, n);
    SetCurrentDirectoryW(folder.c_str());
  }
  ~CurrentFolder() {
    if (!previous_.empty()) SetCurrentDirectoryW(previous_.c_str());
  }
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;

 private:
  std::wstring previous_;
};

uint32_t value_count(const wchar_t* key) {
  qz::reg_key k;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, k.receive()) != ERROR_SUCCESS) return 0;
  uint32_t n = 0;
  // Value names reach 16383 characters: a smaller buffer would end the count early.
  std::vector<wchar_t> name(16384);
  for (;; ++n) {
    DWORD size = static_cast<DWORD>(name.size());
    if (RegEnumValueW(k.get(), n, name.data(), &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) return n;
  }
}

// The PendingFileRenameOperations value, when it is a multi-string.
std::vector<uint8_t> pending_renames() {
  qz::reg_key k;
  std::vector<uint8_t> data;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, k.receive()) != ERROR_SUCCESS) return data;
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(k.get(), kPendingRenames, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ)
      return {};
    data.resize(size);
    LSTATUS s = RegQueryValueExW(k.get(), kPendingRenames, nullptr, &type, data.data(), &size);
    if (s == ERROR_SUCCESS && type == REG_MULTI_SZ) {
      data.resize(size);
      return data;
    }
    if (s != ERROR_MORE_DATA) return {};
  }
  return {};
}

prq::RebootCounters read_counters() {
  prq::RebootCounters c;
  c.run_once = value_count(kRunOnce);
  c.run_once_ex = value_count(kRunOnceEx);
  c.rename_entries = value_count(kRenames);
  c.pending_rename_bytes = static_cast<uint32_t>(pending_renames().size());
  // The Wininit.ini renames belong to the Windows 9x family, which never runs this program.
  c.legacy_renames = 0;
  return c;
}

std::wstring original_launcher(const LaunchSettings& s) {
  return !s.first_launcher_path.empty() ? s.first_launcher_path : s.launcher_path;
}

}  // namespace

std::wstring PrerequisiteExecution::ResolveCommandLine(const std::wstring& command_line) {
  if (command_line.empty()) return command_line;
  const std::wstring folder = prq::with_backslash(p_.fields().data_file_location);
  if (HWND host = static_cast<HWND>(p_.host_window())) return prq::host::format(host, folder, command_line);
  prq::LauncherNames names;
  if (const LaunchSettings* s = p_.settings()) {
    zpath launcher(original_launcher(*s));
    names.ui_language = s->ui_language;
    names.launcher_file_name = launcher.leaf();
    names.launcher_folder = launcher.folder();
  }
  return prq::resolve_command_line(command_line, names, folder);
}

bool PrerequisiteExecution::IsRebootExitCode(uint32_t code) const {
  return prq::is_reboot_exit_code(p_.fields().reboot_codes, code,
                                  prq::file_kind(p_.fields().execute_file) == prq::FileKind::kInstallerPackage);
}

void PrerequisiteExecution::RecordRebootState() { snapshot_ = read_counters(); }

bool PrerequisiteExecution::DetectPendingReboot() {
  prq::RebootCounters now = read_counters();
  if (p_.fields().ignore_tmp_rename && now.pending_rename_bytes > snapshot_.pending_rename_bytes) {
    const std::wstring& temp = qzproc::temp_folder();
    p_.set_ignore_tmp_rename(!temp.empty() &&
                             prq::renames_only_under(pending_renames(), snapshot_.pending_rename_bytes, temp));
  }
  std::wstring message = prq::pending_reboot_message(snapshot_, now, p_.fields().ignore_tmp_rename);
  if (message.empty()) return false;
  p_.trace(message);
  p_.flush_trace();
  return true;
}

std::wstring PrerequisiteExecution::chosen_command_line(bool silent) {
  const PrerequisiteFields& f = p_.fields();
  return ResolveCommandLine(silent || f.hidden ? f.cmdline_silent : f.cmdline);
}

bool PrerequisiteExecution::ExecutePrerequisite(const std::wstring& folder, bool silent) {
  p_.set_data_file_location(folder);
  p_.trace(L"Data File Location: " + folder);
  p_.flush_trace();
  QZ_LOG(L"Attempting to execute prerequisite: %s", folder.c_str());
  const PrerequisiteFields& f = p_.fields();
  if (!p_.system().file(f.prq_path).is_file) return true;

  const prq::FileKind kind = prq::file_kind(f.execute_file);
  const bool package = kind == prq::FileKind::kInstallerPackage;
  exit_code_ = f.msi_progress && package ? ExecuteMsiWithProgress(folder, silent)
                                         : ExecuteGenericPrerequisite(folder, silent);
  p_.trace(L"Return Code from EXE: " + std::to_wstring(static_cast<int>(exit_code_)));
  p_.flush_trace();

  const bool app_package = kind == prq::FileKind::kAppPackage || f.kind == prq::kKindAppBundle;
  if (!f.package_manager && !app_package) {
    if (!package && DetectPendingReboot()) {
      p_.set_reboot_needed(true);
      p_.trace(L"Reboot Required");
      p_.flush_trace();
    }
    if (IsRebootExitCode(exit_code_)) {
      switch (f.reboot_action) {
        case 4: p_.trace(L"Exit Code Match -- Reboot Ignored"); break;
        case 1: p_.trace(L"Exit Code Match -- Exiting Now"); break;
        case 32: p_.trace(L"Exit Code Match -- Rebooting Later"); break;
        default: p_.trace(L"Exit Code Match -- Rebooting Now"); break;
      }
      p_.flush_trace();
      p_.set_reboot_needed(true);
    }
  }
  if (package) {
    if (exit_code_ == ERROR_SUCCESS_REBOOT_INITIATED || exit_code_ == ERROR_SUCCESS_REBOOT_REQUIRED) {
      p_.trace(L"MSI Returned ERROR_SUCCESS_REBOOT_INITIATED");
      p_.flush_trace();
      p_.set_reboot_needed(true);
    } else if (exit_code_ == ERROR_INSTALL_USEREXIT) {
      p_.trace(L"MSI Returned ERROR_INSTALL_USEREXIT");
      p_.flush_trace();
      return f.optional;
    }
  }
  return true;
}

uint32_t PrerequisiteExecution::ExecuteGenericPrerequisite(const std::wstring& folder, bool silent) {
  const PrerequisiteFields& f = p_.fields();
  const LaunchSettings* settings = p_.settings();
  if (f.package_manager &&
      !p_.EvaluateCondition(4, 1, L"[LocalAppDataFolder]Microsoft\\WindowsApps", L"winget.exe", L"", L"")) {
    QZ_LOG(L"Failed to find the WPM client (winget), skipping the WPM Package installation.");
    return 0;
  }
  const bool app_package = !f.package_manager && (prq::file_kind(f.execute_file) == prq::FileKind::kAppPackage ||
                                                  f.kind == prq::kKindAppBundle);
  if (app_package && prq::os_number(p_.os_version()) < prq::kAppPackageMinimumOs) {
    QZ_LOG(L"App package installation is not supported on this platform (%d)",
           static_cast<int>(prq::os_number(p_.os_version())));
    return 50;
  }
  CurrentFolder current(folder);

  std::wstring file, verb, parameters;
  int show = SW_HIDE;
  if (f.package_manager) {
    file = L"winget.exe";
    verb = L"open";
    parameters = prq::package_manager_parameters(f.package_name, f.specific_version, f.pinned_version, f.parameters);
    p_.trace(L"Launching: " + file + L" [" + verb + L"] " + parameters);
    p_.flush_trace();
    QZ_LOG(L"Creating new process for WPM client, launching command line %s  %s", file.c_str(), parameters.c_str());
  } else if (app_package) {
    file = settings ? settings->app_package_helper : std::wstring();
    std::wstring package = zpath(folder).join(f.execute_file);
    parameters = prq::app_package_parameters(package);
    QZ_LOG(L"Creating new process for App package, launching command line %s  %s", package.c_str(),
           parameters.c_str());
  } else {
    if (f.force_silent != L"1") show = SW_SHOWNORMAL;
    file = zpath(folder).join(f.execute_file);
    prq::FileKind kind = prq::file_kind(f.execute_file);
    if (kind == prq::FileKind::kInstallerPackage || kind == prq::FileKind::kProgram) verb = L"open";
    parameters = chosen_command_line(silent);
    p_.trace(L"Launching: " + file + L" [" + verb + L"] " + parameters);
    p_.flush_trace();
    RecordRebootState();
    QZ_LOG(L"Creating new process for prerequisite, launching command line %s [%s] %s", file.c_str(), verb.c_str(),
           parameters.c_str());
  }

  SHELLEXECUTEINFOW sei{};
  sei.cbSize = sizeof(sei);
  sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOZONECHECKS;
  sei.lpVerb = verb.empty() ? nullptr : verb.c_str();
  sei.lpFile = file.c_str();
  sei.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
  sei.lpDirectory = folder.c_str();
  sei.nShow = show;
  if (!ShellExecuteExW(&sei)) {
    QZ_LOG(L"Could not launch prerequisite, last error: %d, ShellExecute: %d", static_cast<int>(GetLastError()),
           static_cast<int>(reinterpret_cast<INT_PTR>(sei.hInstApp)));
    return 0;
  }
  if (!sei.hProcess) {
    QZ_LOG(L"No process created by successful prerequisite launch");
    return 0;
  }
  qz::file_handle process(sei.hProcess);
  DWORD code = prq::wait_dispatching_input(process.get());
  QZ_LOG(L"Prerequisite process exited with return code %d", static_cast<int>(code));
  return code;
}

uint32_t PrerequisiteExecution::ExecuteMsiWithProgress(const std::wstring& folder, bool silent) {
  QZ_LOG(L"ExecuteMsiWithProgress");
  CurrentFolder current(folder);
  const LaunchSettings* s = p_.settings();
  bool rtl = s && is_rtl_language(*s, s->ui_language);
  CAutoMsiProgress handler(static_cast<HWND>(p_.progress_window()), static_cast<HWND>(p_.status_window()),
                           p_.cancel_flag(), rtl, silent);
  std::wstring command_line = chosen_command_line(silent);
  const PrerequisiteFields& f = p_.fields();
  QZ_LOG(L"Launching MSI prerequisite %s, command line %s", f.execute_file.c_str(), command_line.c_str());
  prq::InstallerOptions options = prq::installer_options(command_line);
  if (options.logging)
    prq::msi::EnableLog(options.log_mode, options.log_file.c_str(), options.log_attributes);
  prq::msi::SetInternalUI(static_cast<INSTALLUILEVEL>(options.ui_level), nullptr);
  return prq::msi::InstallProduct(f.execute_file.c_str(), options.command_line.c_str());
}
