// Downloads of what a setup does not carry: the package and its cabinets for the
// web location types (2 download, 3 web installation), with their progress, the
// Retry/Cancel question, the clean-up record and the signature check.
#pragma once
#include <string>

#include "package/SetupPrereqMgrCallback.h"

// What is fetched for a package whose location is on the web.
struct WebPackageRequest {
  std::wstring package_name;  // its settings section
  std::wstring location;      // the URL (or UNC path) the settings or the command line give
  int type = 2;               // 2 download into the temporary folder, 3 web installation
  bool verify = true;         // check each file against its section's CertKey
  bool report_errors = true;  // show failures (the result code is set either way)
};

// Downloads the package (type 2, cabinets too) or hands its URL on (type 3:
// *package_path becomes the URL, or the downloaded file in script mode 1). False
// with the result code set and, when reporting, the error shown.
bool fetch_web_package(CSetupPrereqMgrCallback& session, const WebPackageRequest& request, std::wstring* package_path);
