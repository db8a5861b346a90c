// Locating, fetching and caching the Windows Installer package.
#include "package_cache.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "cleanup.h"
#include "folder_names.h"
#include "msi_checks.h"
#include "msi_library.h"
#include "net/download.h"
#include "net/download_rules.h"
#include "net/trust.h"
#include "package/LaunchSettings.h"
#include "package/error_display.h"
#include "package_cache_rules.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/error_codes.h"
#include "support/errors.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\package_cache";

namespace rules = package_cache_rules;

namespace {

constexpr unsigned kBrowseTitle = 1609;
constexpr unsigned kReplaceQuestion = 1635;
constexpr size_t kPathCapacity = 1024;

bool not_found(Session& session, const std::wstring& path, bool report) {
  QZ_LOG(L"File %s not found", path.c_str());
  if (report)
    report_error(session.settings(), err::kFileNotFound, path);
  else
    qzproc::set_exit_code(err::kFileNotFound);
  return false;
}

bool is_silent(Session& session) { return session.settings().silent || session.settings().auto_; }

// The folder browser of the cache. False when no folder is chosen: result code
// 1610 without a user interface, -1 (cancelled) when the user declines, so a
// launch that installed nothing never ends as a success. Otherwise the chosen
// folder joined with the cached copy's file name.
bool browse_for_cache_folder(Session& session, const std::wstring& file_name, std::wstring* target) {
  if (is_silent(session)) {
    QZ_LOG(L"No other cache location can be chosen without a user interface");
    qzproc::set_exit_code(err::kNoCacheFolder);
    return false;
  }
  std::wstring title = msi_message_text(session, kBrowseTitle);
  wchar_t display[MAX_PATH] = {};
  BROWSEINFOW info{};
  info.hwndOwner = session.get_setup_dialog();
  info.pszDisplayName = display;
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  bool ok = false;
  if (chosen) {
    std::vector<wchar_t> folder(kPathCapacity);
    // SHGetPathFromIDListEx refuses a path longer than the buffer instead of cutting it.
    if (SHGetPathFromIDListEx(chosen, folder.data(), static_cast<DWORD>(folder.size()), GPFIDL_DEFAULT)) {
      *target = rules::join_path(folder.data(), file_name);
      ok = true;
    }
    CoTaskMemFree(chosen);
  }
  if (SUCCEEDED(com)) CoUninitialize();
  if (!ok) {
    QZ_LOG(L"No cache location was chosen");
    qzproc::set_exit_code(err::kCancelled);
  }
  return ok;
}

std::wstring shell_folder(int csidl) {
  wchar_t buffer[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer))) return std::wstring();
  return buffer;
}

// Copies a companion file into the cache, overwriting; a file already in place
// counts as copied.
bool copy_companion(const std::wstring& from, const std::wstring& to) {
  if (qz::SamePath(qz::FullPath(from), qz::FullPath(to))) return true;
  return CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
}

// The installed product's own copy of this very package, when it is installed:
// its recorded source first, then its network sources with the same version.
std::wstring installed_package_source(Session& session) {
  std::wstring product = session.get_value(kValueProductCode);
  std::wstring installed_code;
  if (product.empty() || installed_product_info(product, L"PackageCode", 50, &installed_code) != ERROR_SUCCESS ||
      !wide_iequals(installed_code, session.get_value(kValuePackageCode)))
    return std::wstring();
  std::wstring name, source;
  installed_product_info(product, L"PackageName", kPathCapacity, &name);
  installed_product_info(product, L"InstallSource", kPathCapacity, &source);
  if (name.empty()) return std::wstring();
  if (!source.empty()) {
    std::wstring path = rules::join_path(source, name);
    if (qz::PathExists(path, qz::kPathFile)) return path;
  }
  const std::wstring version = session.get_value(kValueProductVersion);
  for (DWORD index = 0;; ++index) {
    std::wstring entry;
    UINT st = qzmsi::read_string(kPathCapacity, &entry, [&](wchar_t* buffer, DWORD* size) {
      const DWORD options = static_cast<DWORD>(MSICODE_PRODUCT) | static_cast<DWORD>(MSISOURCETYPE_NETWORK);
      return qzmsi::SourceListEnumSources(product.c_str(), nullptr, MSIINSTALLCONTEXT_MACHINE, options, index,
                                          buffer, size);
    });
    if (st != ERROR_SUCCESS) break;
    // The size reported here can run past the text (seen under Wine): a NUL left
    // inside would end the joined path early.
    entry.resize(wcsnlen(entry.c_str(), entry.size()));
    std::wstring path = rules::join_path(entry, name);
    if (qz::PathExists(path, qz::kPathFile) && package_product_version_matches(path, version)) return path;
  }
  return std::wstring();
}

}  // namespace

bool ExtractSetupMember(Session& session, const std::wstring& member, std::wstring* path, bool report_errors) {
  const std::wstring& temp = qzproc::temp_folder();
  if (temp.empty()) {
    path->clear();
    return not_found(session, member, report_errors);
  }
  *path = rules::join_path(temp, member);
  // A member already extracted (or kept for the run after a restart) is not
  // written again.
  if (!qz::PathExists(*path, qz::kPathFile)) session.extract_member(member, false, true, path, true);
  if (qz::PathExists(*path, qz::kPathFile)) return true;
  return not_found(session, *path, report_errors);
}

bool GetFile(Session& session, const std::wstring& package_name, const std::wstring& override_location,
             std::wstring* package_path, bool use_override, int* location_type, bool verify_downloads,
             bool report_errors) {
  // An address may carry a password: the log shows it masked.
  QZ_LOG(L"GetFile: file '%s', ini section '%s', full path '%s', location %d", package_name.c_str(),
         download_rules::url_for_log(override_location).c_str(), download_rules::url_for_log(*package_path).c_str(),
         *location_type);
  std::wstring location;
  if (use_override) {
    location = override_location;
    // An address given with /UM is fetched like a web download; a path stays one.
    if (download_rules::is_web_address(location)) *location_type = kLocationWebDownload;
  } else {
    *location_type = msi_package_setting_int(session, package_name, L"Type", kLocationSource);
    location = msi_package_setting(session, package_name, L"Location");
    if (location.empty()) location = package_name;
  }
  QZ_LOG(L"File to get to '%s'", download_rules::url_for_log(location).c_str());
  switch (*location_type) {
    case kLocationSource:
      *package_path = rules::source_location_path(session.package_source_folder(), location);
      QZ_LOG(L"Getting file from source, '%s'", package_path->c_str());
      return true;
    case kLocationStream:
      QZ_LOG(L"Getting file from setup.exe");
      return ExtractSetupMember(session, location, package_path, report_errors);
    case kLocationWebDownload:
    case kLocationWebInstall: {
      QZ_LOG(*location_type == kLocationWebDownload ? L"Getting file from web download"
                                                    : L"Getting file from web install");
      WebPackageRequest request{package_name, location, *location_type, verify_downloads, report_errors};
      // In script mode 1 the engine installs from a local copy and is told the address.
      request.download_web_install = msi_setting_int(L"Startup", L"ScriptDriven", 0) == 1;
      request.record_file = [](const std::wstring& path) { record_file(path); };
      request.reserved_name = [](const std::wstring& name) {
        return folder_names::is_reserved_member_name(name, rules::leaf_of(qzproc::own_file_name()));
      };
      if (!fetch_web_package(session, request, package_path)) return false;
      if (*location_type == kLocationWebInstall && request.download_web_install)
        session.add_switch(L"/URL", location, true);
      return true;
    }
    case kLocationTemp:
      *package_path = rules::join_path(qzproc::temp_folder(), location);
      QZ_LOG(L"Getting file from temp location, '%s'", package_path->c_str());
      if (!qzproc::temp_folder().empty() && qz::PathExists(*package_path, qz::kPathFile)) return true;
      return not_found(session, *package_path, report_errors);
    default:
      return true;
  }
}

bool LocatePackage(Session& session, std::wstring* package_path, int* location_type, bool installed_lookup) {
  session.set_reboot_needed(false);
  session.set_restart_due(false);
  const std::wstring override_location = session.get_value(kValuePackageLocation);
  const bool use_override = session.has_value(kValuePackageLocation);
  if (use_override) *package_path = override_location;
  std::wstring name = session.get_value(kValuePackageName);
  if (name.empty()) name = msi_setting(L"Startup", L"PackageName");

  bool found = false;
  if (installed_lookup) {
    std::wstring installed = installed_package_source(session);
    if (!installed.empty()) {
      QZ_LOG(L"The installed product's package is used: %s", installed.c_str());
      *package_path = installed;
      found = true;
    }
  }
  if (!found) {
    if (!GetFile(session, name, override_location, package_path, use_override, location_type, true, true)) {
      session.close_setup_dialog();
      return false;
    }
    if (*location_type == kLocationWebDownload && !recheck_downloaded_package(session, name, *package_path)) {
      session.close_setup_dialog();
      return false;
    }
  }
  QZ_LOG(L"Reboot needed: %s", L"no");
  return true;
}

bool CachePackage(Session& session, const std::wstring& package_name, std::wstring* package_path) {
  const int cache_root = msi_package_setting_int(session, package_name, L"CacheRoot", rules::kNoCacheRoot);
  const bool has_b = session.has_value(kValueCacheFolder);
  const std::wstring cache_setting = msi_package_setting(session, package_name, L"CacheFolder");
  rules::CachePlan plan = rules::plan_cache(has_b, session.get_value(kValueCacheFolder), cache_root, cache_setting);
  if (plan.kind == rules::CacheKind::kNone) return true;
  const std::wstring file_name = rules::cached_file_name(package_name);
  if (file_name.empty()) {
    // Joined as it stands, the name would put the copy somewhere else than in
    // the cache folder.
    QZ_LOG(L"The package name '%s' names no file the cache can hold", package_name.c_str());
    report_error(session.settings(), err::kUnableToSave, package_name);
    return false;
  }

  std::wstring target;
  if (plan.kind == rules::CacheKind::kExplicit) {
    if (plan.folder.empty()) {
      // A bare name would land in whatever the current folder is.
      QZ_LOG(L"No cache folder is named: the package is not cached");
      return true;
    }
    if (!qz::CreateFolderTree(plan.folder))
      QZ_LOG(L"The cache folder %s cannot be created, error %u", plan.folder.c_str(), qz::last_failure().error);
    target = rules::join_path(plan.folder, file_name);
  } else {
    std::wstring root = shell_folder(cache_root);
    if (root.empty()) {
      QZ_LOG(L"The shell folder %d is not known", cache_root);
      if (!browse_for_cache_folder(session, file_name, &target)) return false;
    } else {
      std::wstring code;
      if (!ReadPackageCode(*package_path, &code)) code.clear();
      std::wstring folder = rules::shell_cache_folder(root, cache_setting, code);
      if (!qz::CreateFolderTree(folder))
        QZ_LOG(L"The cache folder %s cannot be created, error %u", folder.c_str(), qz::last_failure().error);
      target = rules::join_path(folder, file_name);
    }
  }

  const std::wstring fetched = *package_path;
  std::wstring own_code;
  const bool own_code_read = ReadPackageCode(fetched, &own_code);
  for (;;) {
    if (qz::SamePath(qz::FullPath(target), qz::FullPath(fetched))) break;
    bool overwrite = false;
    if (qz::PathExists(target, qz::kPathFile)) {
      std::wstring existing_code;
      bool existing_read = ReadPackageCode(target, &existing_code);
      if (rules::replace_needs_question(existing_read, existing_code, own_code_read, own_code)) {
        std::wstring text = msi_message_text(session, kReplaceQuestion, target);
        QZ_LOG(L"The cached file %s belongs to another package: asking whether to replace it", target.c_str());
        if (msi_message_box(session, text, MB_YESNO | MB_ICONEXCLAMATION, IDYES, true) != IDYES) {
          if (!browse_for_cache_folder(session, file_name, &target)) return false;
          continue;
        }
      }
      overwrite = true;
    }
    QZ_LOG(L"Copying file for cache to %s", target.c_str());
    if (CopyFileW(fetched.c_str(), target.c_str(), overwrite ? FALSE : TRUE)) break;
    DWORD error = GetLastError();
    QZ_LOG(L"%s\r\n%s", msi_message_text(session, err::kUnableToSave, target).c_str(), qz::system_message(error).c_str());
    QZ_LOG(L"Failed to cache file, last error %d, prompting for alternate location", static_cast<int>(error));
    if (!browse_for_cache_folder(session, file_name, &target)) return false;
  }

  const std::wstring cache_folder = rules::folder_of(target);
  const LaunchSettings& settings = session.settings();
  if (settings.supported_languages.size() > 1) {
    std::wstring transform = session.get_value(kValueLanguageTransform);
    if (!transform.empty()) {
      std::wstring copy = rules::join_path(cache_folder, rules::leaf_of(transform));
      QZ_LOG(L"Caching transform %s to %s", transform.c_str(), copy.c_str());
      if (copy_companion(transform, copy)) {
        session.set_value(kValueLanguageTransform, copy);
        QZ_LOG(L"MST file path corrected: %s", copy.c_str());
      } else {
        // The uncached transform still exists for this run; a path to a missing
        // copy would make msiexec fail.
        QZ_LOG(L"The transform could not be cached, error %u", GetLastError());
      }
    }
  }

  if (msi_setting_int(L"Startup", L"ScriptDriven", 0) == 1) {
    std::wstring ini_folder = rules::folder_of(settings.setup_ini_path);
    std::wstring strings = rules::join_path(ini_folder, rules::string_file_name(settings.ui_language));
    std::wstring strings_copy = rules::join_path(cache_folder, rules::string_file_name(settings.ui_language));
    QZ_LOG(L"Caching ini file %s to %s", strings.c_str(), strings_copy.c_str());
    if (!copy_companion(strings, strings_copy)) QZ_LOG(L"Copy failed, error %u", GetLastError());
    std::wstring skin = rules::join_path(rules::folder_of(fetched), L"setup.qzn");
    if (qz::PathExists(skin, qz::kPathFile)) {
      std::wstring skin_copy = rules::join_path(cache_folder, L"setup.qzn");
      QZ_LOG(L"Caching skin %s to %s", skin.c_str(), skin_copy.c_str());
      if (!copy_companion(skin, skin_copy)) QZ_LOG(L"Copy failed, error %u", GetLastError());
      std::wstring ini_copy = rules::join_path(cache_folder, L"Setup.INI");
      QZ_LOG(L"Caching ini file %s to %s", settings.setup_ini_path.c_str(), ini_copy.c_str());
      if (!copy_companion(settings.setup_ini_path, ini_copy)) QZ_LOG(L"Copy failed, error %u", GetLastError());
    }
  }

  const std::wstring& temp = qzproc::temp_folder();
  for (int i = 0;; ++i) {
    std::wstring entry = msi_package_setting(session, package_name, L"Cab" + std::to_wstring(i), kPathCapacity);
    if (entry.empty()) break;
    std::wstring file = rules::cabinet_file_name(entry);
    if (file.empty() || temp.empty()) {
      QZ_LOG(L"Cabinet entry '%s' names no file", entry.c_str());
      continue;
    }
    std::wstring from = rules::join_path(temp, file);
    std::wstring to = rules::join_path(cache_folder, file);
    QZ_LOG(L"Moving file %s to %s", from.c_str(), to.c_str());
    if (MoveFileW(from.c_str(), to.c_str())) continue;
    QZ_LOG(L"Move failed, attempting to copy and delete file, last error %d", static_cast<int>(GetLastError()));
    if (CopyFileW(from.c_str(), to.c_str(), FALSE))
      DeleteFileW(from.c_str());
    else
      QZ_LOG(L"Copy failed, error %u", GetLastError());
  }

  *package_path = qz::FullPath(target);
  return true;
}

bool Session::locate_package(std::wstring& package_path) {
  int type = kLocationSource;
  return LocatePackage(*this, &package_path, &type, false);
}
