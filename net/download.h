// Downloads of what a setup does not carry: the package and its cabinets for the
// web location types (2 download, 3 web installation), with their progress, the
// Retry/Cancel question, the clean-up record and the signature check.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "package/SetupPrereqMgrCallback.h"

// What is fetched for a package whose location is on the web.
struct WebPackageRequest {
  std::wstring package_name;  // its settings section
  std::wstring location;      // the URL (or UNC path) the settings or the command line give
  int type = 2;               // 2 download into the temporary folder, 3 web installation
  bool verify = true;         // check each file against its section's CertKey
  bool report_errors = true;  // show failures (the result code is set either way)
  bool download_web_install = false;  // type 3 in script mode 1: the package is fetched too
  // Records a fetched file for the clean-up at the end of the run.
  std::function<void(const std::wstring&)> record_file;
  // True for a name the launcher keeps for a file of its own in the temporary
  // folder (its deletion list, its copy): a fetch never takes it.
  std::function<bool(const std::wstring&)> reserved_name;
};

// Downloads the package (type 2, cabinets too) or hands its URL on (type 3:
// *package_path becomes the URL, or the downloaded file with
// download_web_install). False with the result code set and, when reporting, the
// error shown.
bool fetch_web_package(CSetupPrereqMgrCallback& session, const WebPackageRequest& request, std::wstring* package_path);

struct DownloadEntry {
  std::wstring source;  // URL or UNC path
  std::wstring name;    // the settings section whose CertKey applies; shown to the user
  std::wstring target;  // filled in when targets are not given
};

// Fetches the entries one after the other, each into its target (with
// `targets_given` false: the temporary folder joined with the source's last
// segment, refused with 1614 when that names no plain file or one for which
// `reserved_name` holds). A failed transfer is offered again (Retry/Cancel,
// Cancel without a user interface) from its beginning. Every fetched file is
// recorded with `record_file`; with `verify` each is checked against its
// section's CertKey. False with the result code set: 1643 old WinInet, 1614 a file
// that could not be fetched, -1 the user cancelled, or the verdict of the check.
bool DownloadFiles(CSetupPrereqMgrCallback& session, std::vector<DownloadEntry>& entries, bool verify,
                   bool targets_given, bool report_errors,
                   const std::function<void(const std::wstring&)>& record_file,
                   const std::function<bool(const std::wstring&)>& reserved_name = {});
