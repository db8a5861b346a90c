// Provisional package location until the full one (installed-product source,
// downloads, cache folders) replaces this file: the package is taken from the
// source folder, the launcher's stream or the temporary folder as its section's
// `Type` says, and nothing is cached.
#include <windows.h>

#include "cleanup.h"
#include "msi_checks.h"
#include "package/stream.h"
#include "package_cache.h"
#include "process_state.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/utils.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\package_cache";

namespace {

// The launcher's folder, or the folder named with /t. The session's source folder
// also becomes the temporary folder once setup.ini is extracted there; the
// package's loose files never lie in that folder.
std::wstring source_folder(Session& session) {
  const std::wstring& source = session.source_folder();
  if (source.empty() || wide_iequals(zpath(source).remove_backslash(), zpath(qzproc::temp_folder()).remove_backslash()))
    return session.launcher_folder();
  return source;
}

bool missing(Session& session, const std::wstring& path, bool report) {
  qzproc::set_exit_code(1155);
  if (report) msi_report_message(session, 1155, path);
  return false;
}

}  // namespace

bool ExtractSetupMember(Session& session, const std::wstring& member, std::wstring* path, bool report_errors) {
  *path = zpath(qzproc::temp_folder()).join(member);
  if (qz::PathExists(*path, qz::kPathFile)) return true;
  if (!qzproc::temp_folder().empty()) {
    // The session's own stream replaces this private one when it owns extraction.
    STREAM stream{zpath(session.launcher_path())};
    if (stream.is_valid() && stream.contains(zString(member)) && stream.extract(zString(member), zpath(*path), nullptr) &&
        qz::PathExists(*path, qz::kPathFile)) {
      record_file(*path);
      return true;
    }
  }
  // A member lying beside the launcher.
  std::wstring beside = zpath(session.launcher_folder()).join(member);
  if (!qzproc::temp_folder().empty() && qz::PathExists(beside, qz::kPathFile) &&
      CopyFileW(beside.c_str(), path->c_str(), FALSE)) {
    record_file(*path);
    return true;
  }
  return missing(session, *path, report_errors);
}

bool GetFile(Session& session, const std::wstring& package_name, const std::wstring& override_location,
             std::wstring* package_path, bool use_override, int* location_type, bool verify_downloads,
             bool report_errors) {
  QZ_LOG(L"GetFile: file '%s', ini section '%s', full path '%s', location %d", package_name.c_str(),
         override_location.c_str(), package_path->c_str(), *location_type);
  std::wstring location;
  if (use_override) {
    location = override_location;
  } else {
    *location_type = msi_setting_int(package_name, L"Type", 0);
    location = msi_setting(package_name, L"Location");
    if (location.empty()) location = package_name;
  }
  QZ_LOG(L"File to get to '%s'", location.c_str());
  switch (*location_type) {
    case kLocationSource:
      *package_path = zpath(source_folder(session)).join(location);
      QZ_LOG(L"Getting file from source, '%s'", package_path->c_str());
      return true;
    case kLocationStream:
      QZ_LOG(L"Getting file from setup.exe");
      return ExtractSetupMember(session, location, package_path, report_errors);
    case kLocationWebDownload:
    case kLocationWebInstall:
      QZ_LOG(L"Downloads are not available in this build");
      qzproc::set_exit_code(1155);
      return false;
    case kLocationTemp:
      *package_path = zpath(qzproc::temp_folder()).join(location);
      QZ_LOG(L"Getting file from temp location, '%s'", package_path->c_str());
      if (qz::PathExists(*package_path, qz::kPathFile)) return true;
      return missing(session, *package_path, report_errors);
    default:
      return true;
  }
}

bool LocatePackage(Session& session, std::wstring* package_path, int* location_type, bool installed_lookup) {
  std::wstring override_location = session.get_value(kValuePackageLocation);
  bool use_override = !override_location.empty();
  if (use_override) *package_path = override_location;
  std::wstring name = session.get_value(kValuePackageName);
  if (name.empty()) name = msi_setting(L"Startup", L"PackageName");
  if (!GetFile(session, name, override_location, package_path, use_override,
               location_type, true, true))
    return false;
  QZ_LOG(L"Reboot needed: %s", L"no");
  return true;
}

bool CachePackage(Session& session, const std::wstring& package_name, std::wstring* package_path) { return true; }
