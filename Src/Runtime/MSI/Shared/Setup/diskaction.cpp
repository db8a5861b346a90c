#include "diskaction.h"

#include <windows.h>

#include "os_rules.h"
#include "osaction.h"
#include "package/IniProfile.h"
#include "package/LaunchSettings.h"
#include "package/error_display.h"
#include "package/settings_rules.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/error_codes.h"
#include "support/handles.h"
#include "support/process_state.h"
#include "support/zstring.h"
#include "switch_rules.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\diskaction";

namespace {

constexpr unsigned kCheckingDiskText = 1106;
constexpr size_t kSettingCapacity = 1024;
constexpr size_t kCommandLineCapacity = 1024;

bool g_disk_succeeded = false;

// The profile gives empty text for a missing key of an existing section; the
// key's default applies then too.
std::wstring startup(const qz::IniProfile& profile, const wchar_t* key, const wchar_t* default_value = L"") {
  wchar_t buffer[kSettingCapacity];
  profile.get_string(L"Startup", key, default_value, buffer, kSettingCapacity);
  return buffer[0] ? std::wstring(buffer) : std::wstring(default_value);
}

int startup_int(const qz::IniProfile& profile, const wchar_t* key, int default_value) {
  wchar_t buffer[kSettingCapacity];
  return profile.get_int(L"Startup", key, default_value, buffer, kSettingCapacity);
}

// `CmdLine` with environment variables expanded, as the property list holds at most
// 1023 characters. Longer, before or after the expansion, it is refused (false,
// logged): a cut list would hand the installer other properties than the author's.
// So is a list into which a variable brings a double quote.
bool expand_command_line(const std::wstring& text, std::wstring* out) {
  out->clear();
  if (text.size() >= kCommandLineCapacity) {
    QZ_LOG(L"CmdLine of setup.ini has %u characters, more than the %u it may hold; setup stops",
           static_cast<unsigned>(text.size()), static_cast<unsigned>(kCommandLineCapacity - 1));
    return false;
  }
  if (text.empty()) return true;
  wchar_t buffer[kCommandLineCapacity];
  DWORD n = ExpandEnvironmentStringsW(text.c_str(), buffer, kCommandLineCapacity);
  if (n == 0 || n > kCommandLineCapacity) {
    QZ_LOG(L"CmdLine of setup.ini has more than %u characters once its environment variables are expanded; "
           L"setup stops",
           static_cast<unsigned>(kCommandLineCapacity - 1));
    return false;
  }
  // The list reaches the elevated msiexec: a quote from the environment could
  // close the author's value and add properties or transforms of its own.
  auto expand = [](const std::wstring& part) {
    DWORD size = ExpandEnvironmentStringsW(part.c_str(), nullptr, 0);
    std::wstring out(size ? size : 1, L'\0');
    DWORD n = size ? ExpandEnvironmentStringsW(part.c_str(), &out[0], size) : 0;
    out.resize(n && n <= size ? n - 1 : 0);
    return out;
  };
  if (!settings_rules::expansion_keeps_quotes(text, buffer, expand)) {
    QZ_LOG(L"An environment variable in CmdLine of setup.ini brings a double quote; setup stops");
    return false;
  }
  out->assign(buffer);
  return true;
}

std::wstring system_folder(UINT (WINAPI* query)(UINT, LPWSTR)) {
  wchar_t buffer[MAX_PATH + 1] = {};
  UINT n = query(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH) return std::wstring();
  return buffer;
}

UINT WINAPI temp_path(UINT size, LPWSTR buffer) { return GetTempPathW(size, buffer); }
UINT WINAPI windows_folder(UINT size, LPWSTR buffer) { return GetWindowsDirectoryW(buffer, size); }

bool has_room(const std::wstring& folder, uint64_t need_kb) {
  uint32_t kb = 0;
  if (!free_space_kb(folder, &kb)) return false;
  if (kb <= need_kb) {
    QZ_LOG(L"%s has %u KB free, %llu KB needed", folder.c_str(), kb, static_cast<unsigned long long>(need_kb));
    return false;
  }
  return folder_writable(folder);
}

// The system's candidates must begin with a drive letter; the run's own folder is
// where the extraction goes, wherever that is, and is only asked for room.
bool qualifies(const std::wstring& folder, uint64_t need_kb) {
  return os_rules::begins_with_drive_letter(folder) && has_room(folder, need_kb);
}

}  // namespace

bool free_space_kb(const std::wstring& path, uint32_t* kb) {
  *kb = 0;
  wchar_t root[MAX_PATH + 1] = {};
  std::wstring volume;
  if (GetVolumePathNameW(path.c_str(), root, MAX_PATH + 1))
    volume = root;
  else
    volume = zpath(path).root();
  if (volume.empty()) return false;
  ULARGE_INTEGER available{}, total{}, total_free{};
  if (!GetDiskFreeSpaceExW(volume.c_str(), &available, &total, &total_free)) return false;
  *kb = os_rules::free_kb_from_bytes(total_free.QuadPart);
  return true;
}

// The probe is created new and goes when it is closed: an entry already under its
// name (a link another user planted in %TEMP%, say) is never opened, written or
// deleted, and the folder does not count as writable.
bool folder_writable(const std::wstring& folder) {
  std::wstring probe = zpath(folder).join(L"_MSI5166._QZ");
  qz::file_handle file(CreateFileW(probe.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  return file && file.close();
}

std::wstring find_temporary_location(uint64_t need_kb, const std::wstring& run_folder) {
  std::wstring temp = system_folder(temp_path);
  if (!temp.empty()) SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  // Another folder with room would not help: the members go into this one.
  if (!run_folder.empty()) return has_room(run_folder, need_kb) ? run_folder : std::wstring();
  if (!temp.empty() && qualifies(temp, need_kb)) return temp;
  std::wstring windows = system_folder(windows_folder);
  if (!windows.empty() && qualifies(windows, need_kb)) return windows;
  // Last resort: the roots of the first two hard-disk drives, when fixed.
  for (const wchar_t* drive : {L"C:\\", L"D:\\"}) {
    if (GetDriveTypeW(drive) == DRIVE_FIXED && qualifies(drive, need_kb)) return drive;
  }
  return std::wstring();
}

int64_t system_csd_version() {
  qz::reg_key key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Windows", 0, KEY_QUERY_VALUE,
                    key.receive()) != ERROR_SUCCESS)
    return -1;
  DWORD value = 0, type = 0, size = sizeof(value);
  if (RegQueryValueExW(key.get(), L"CSDVersion", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD)
    return 0;
  return value;
}

bool load_session_values(Session& session) {
  LaunchSettings& settings = session.settings();
  QZ_LOG(L"Reading setup.ini from %s", settings.setup_ini_path.c_str());
  // Through the session, which then counts the profile as loaded: later settings
  // read on demand come from it, also once the extracted file is gone.
  session.load_profile(settings.setup_ini_path);
  const qz::IniProfile& profile = session.profile();

  session.set_value(kValuePackageName, startup(profile, L"PackageName"));
  if (!session.has_value(kValuePackageName)) {
    QZ_LOG(kNoPackageNameLog);
    return false;
  }

  os_rules::CsdReader csd = [] {
    int64_t v = system_csd_version();
    return v < 0 ? std::nullopt : std::optional<uint32_t>(static_cast<uint32_t>(v));
  };
  std::optional<std::wstring> engine = os_rules::select_engine_version(profile, session.os_record(), csd);
  if (engine) session.set_value(kValueEngineVersion, *engine);
  if (profile.sections().count(L"MsiVersion") && !profile.sections().at(L"MsiVersion").empty() &&
      !session.has_value(kValueEngineVersion)) {
    QZ_LOG(L"Failed to get MSI Engine Version");
    return false;
  }
  if (engine) QZ_LOG(L"Windows Installer engine version %s selected", engine->c_str());

  session.set_upgrade_mode(
      os_rules::upgrade_mode(startup_int(profile, L"OnUpgrade", 1), settings.silent || settings.auto_));

  session.set_value(kValueProductCode, startup(profile, L"ProductCode"));
  session.set_value(kValuePackageCode, startup(profile, L"PackageCode"));
  session.set_value(kValueUpgradeCode, startup(profile, L"UpgradeCode"));
  session.set_value(kValueProductVersion, startup(profile, L"ProductVersion"));

  if (!session.has_value(kValueInstallerCommandLine)) {
    std::wstring command_line;
    if (!expand_command_line(profile.find(L"Startup", L"CmdLine").value_or(L""), &command_line)) return false;
    session.set_value(kValueInstallerCommandLine, command_line);
    if (session.launch_mode() != kModePatch)
      session.add_switch(L"/v", session.get_value(kValueInstallerCommandLine), true);
  }

  session.set_value(kValueBillboardType, startup(profile, L"BillboardType", L"0"));
  if (session.launch_mode() == kModeInstall) session.set_launch_mode(startup_int(profile, L"Mode", 0));
  session.set_value(kValueDotNetVersion, startup(profile, L"DotNetVersion"));
  return true;
}

void reset_disk_action_for_tests() { g_disk_succeeded = false; }

DiskAction::DiskAction(Session& session) : Action(session, kCheckingDiskText) {}

int DiskAction::execute() {
  if (g_disk_succeeded) return 1;
  Session& session = *session_;
  LaunchSettings& settings = session.settings();
  {
    OSAction os(session);
    os.execute();
  }
  mark_started();

  session.set_package_mode(kPackageFromStream);
  session.set_total_size(session.stream().is_valid() ? session.stream().total_size() : 0);

  uint64_t need = os_rules::needed_kb(session.total_size());
  std::wstring location = find_temporary_location(need, qzproc::temp_folder());
  if (location.empty()) {
    QZ_LOG(L"No temporary location has %llu KB free and can be written", static_cast<unsigned long long>(need));
    report_error(session.settings(), err::kNoTemporaryLocation);
    return 0;
  }
  QZ_LOG(L"Temporary location %s has room for %llu KB", location.c_str(), static_cast<unsigned long long>(need));

  if (session.stream_contains(L"Setup.INI")) {
    if (!session.extract_setup_ini()) return 0;
  } else {
    session.set_package_mode(kPackageBesideLauncher);
  }

  // setup.ini taken from the stream lies where it was extracted; otherwise the
  // package's files lie beside the launcher that was started.
  std::wstring folder = session.package_mode() == kPackageFromStream && !session.source_folder().empty()
                            ? session.source_folder()
                            : session.launcher_folder();
  session.set_source_folder(folder);
  if (session.setup_ini_folder().empty()) session.set_setup_ini_folder(folder);
  settings.setup_ini_path = zpath(session.setup_ini_folder()).join(L"Setup.INI");

  session.read_launch_settings(settings.setup_ini_path);

  if (session.package_mode() == kPackageBesideLauncher || session.extract_string_files()) {
    if (session.stream_contains(L"setup.qzn")) session.extract_member(L"setup.qzn", true, false, nullptr, true);
    if (!load_session_values(session)) {
      report_error(session.settings(), err::kSettingsUnreadable);
      return 0;
    }
    if (session.launch_mode() != kModePatch || session.extract_all_members()) {
      g_disk_succeeded = true;
      return 1;
    }
  }
  return 0;
}
