#include "relaunch.h"

#include <windows.h>
#include <winnetwk.h>

#include <vector>

#include "cleanup.h"
#include "entry_rules.h"
#include "launch.h"
#include "packaged_setting.h"
#include "support/debuglog.h"
#include "support/dynload.h"
#include "support/error_codes.h"
#include "support/hold.h"
#include "support/new_file.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\relaunch";

namespace {

// A copy of everything `from` holds as a new file `to`, held once complete; null,
// with nothing left behind, when it could not be made whole.
qz::file_handle copy_into_new(HANDLE from, const std::wstring& to) {
  return qz::hold_written_file(qz::copy_to_new_file(from, to), to);
}

qz::file_handle copy_into(const zpath& source, const zpath& temp, const std::wstring& name) {
  qz::file_handle from(CreateFileW(source.join(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!from) return from;
  return copy_into_new(from.get(), temp.join(name));
}

// Names read from setup.ini become file names inside the temporary folder:
// anything that would reach outside it is not copied.
void copy_optional(const zpath& source, const zpath& temp, const std::wstring& name) {
  if (!entry::is_plain_file_name(name)) {
    QZ_LOG(L"Not copying %s: not a plain file name", name.c_str());
    return;
  }
  if (copy_into(source, temp, name)) record_file(temp.join(name));
}

}  // namespace

qz::file_handle copy_companion_files(HANDLE launcher, const std::wstring& source_folder,
                                     const std::wstring& temp_folder, const std::wstring& copy_name) {
  zpath source(source_folder), temp(temp_folder);
  // These three are recorded whether or not they can be copied: before the copies,
  // so none exists unrecorded, and in one save of the list.
  const std::wstring kOptional[] = {L"Setup.INI", L"QZSetup.dll"};
  record_files({temp.join(copy_name), temp.join(kOptional[0]), temp.join(kOptional[1])});
  // The launcher is copied from the file that was started, held since then; by its
  // name only where that could not be held.
  qz::file_handle copy = launcher ? copy_into_new(launcher, temp.join(copy_name)) : copy_into(source, temp, copy_name);
  if (!copy)
    QZ_LOG(L"Copying %s into %s failed, error %u", copy_name.c_str(), temp.c_str(), static_cast<unsigned>(GetLastError()));
  // Setup.INI and QZSetup.dll beside the launcher are optional.
  for (const std::wstring& name : kOptional) copy_into(source, temp, name);
  std::wstring skin = read_packaged_setting(L"Startup", L"Skin", 260);
  copy_optional(source, temp, skin.empty() ? std::wstring(L"setup.qzn") : skin);
  for (const entry::LanguageFile& f : entry::language_files(read_packaged_setting(L"Languages", L"Supported", 1024))) {
    copy_optional(source, temp, f.ini);
    copy_optional(source, temp, f.mst);
  }
  return copy;
}

std::wstring universal_name(const std::wstring& folder) {
  if (folder.size() < 2 || folder.compare(0, 2, L"\\\\") == 0 || folder[1] != L':') return {};
  std::wstring root = folder.substr(0, 2) + L"\\";
  if (GetDriveTypeW(root.c_str()) != DRIVE_REMOTE) return {};
  using Fn = DWORD(WINAPI*)(LPCWSTR, DWORD, LPVOID, LPDWORD);
  auto get = qz::bound<Fn>(qz::bind_system_export(L"mpr.dll", "WNetGetUniversalNameW"));
  std::wstring out;
  if (get) {
    std::vector<BYTE> buf(1024);
    DWORD size = static_cast<DWORD>(buf.size());
    DWORD rc = get(folder.c_str(), UNIVERSAL_NAME_INFO_LEVEL, buf.data(), &size);
    if (rc == ERROR_MORE_DATA && size > buf.size() && size < (1u << 20)) {
      buf.resize(size);
      rc = get(folder.c_str(), UNIVERSAL_NAME_INFO_LEVEL, buf.data(), &size);
    }
    if (rc == NO_ERROR) {
      auto* info = reinterpret_cast<UNIVERSAL_NAME_INFOW*>(buf.data());
      if (info->lpUniversalName) out = info->lpUniversalName;
    }
  }
  return out;
}

ReturnCodeSettings read_return_code_settings() {
  ReturnCodeSettings r;
  r.wait_installation = entry::is_yes(read_packaged_setting(L"StartUp", L"WaitInstallation", 260));
  r.custom = entry::is_yes(read_packaged_setting(L"StartUp", L"CustomRetCode", 260));
  if (r.custom) {
    r.on_success = entry::return_code_setting(read_packaged_setting(L"StartUp", L"CustomRetCodeOnSuccess", 260));
    r.on_fail = entry::return_code_setting(read_packaged_setting(L"StartUp", L"CustomRetCodeOnFail", 260));
  }
  return r;
}

int finish_waited_clone(int result, const ReturnCodeSettings& codes) {
  if (qzproc::exit_code() == err::kRestartPending) {
    QZ_LOG(L"Reboot is initiated by the parent process.");
    Sleep(1000);
    qz::RebootSystem();
  }
  if (result == kNotStarted && codes.custom && codes.on_fail != -1) result = codes.on_fail;
  return result;
}

int copy_failed_exit_code(const ReturnCodeSettings& codes) {
  return codes.custom && codes.on_fail != -1 ? codes.on_fail : err::kNoTemporaryLocation;
}

int started_clone_exit_code(const ReturnCodeSettings& codes) {
  return codes.custom && codes.on_success != -1 ? codes.on_success : 0;
}
