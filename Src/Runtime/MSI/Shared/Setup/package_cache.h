// Locating, fetching and caching the Windows Installer package before the launch.
#pragma once
#include <string>

class Session;

// Location types of a package (`Type` of the package's settings section).
enum PackageLocationType { kLocationSource = 0, kLocationStream = 1, kLocationWebDownload = 2,
                           kLocationWebInstall = 3, kLocationTemp = 4 };

// Where the package comes from: with installed_lookup, the installed product's
// own copy when this very package is installed; otherwise GetFile. False (result
// code and message set, the initialisation dialog closed) when it cannot be
// located or fetched.
bool LocatePackage(Session& session, std::wstring* package_path, int* location_type, bool installed_lookup);
// Fetches the package as its section's `Type` (or the override) says.
bool GetFile(Session& session, const std::wstring& package_name, const std::wstring& override_location,
             std::wstring* package_path, bool use_override, int* location_type, bool verify_downloads,
             bool report_errors);
// Copies the package (and its transform, string file, skin and cabinets) to its
// permanent cache and points package_path there; false stops the launch.
bool CachePackage(Session& session, const std::wstring& package_name, std::wstring* package_path);
// Extracts a member of the launcher's stream into the temporary folder; the path
// is the temporary folder joined with the name. False (result code 1155, message
// 1155 when reporting) when the file is then missing.
bool ExtractSetupMember(Session& session, const std::wstring& member, std::wstring* path, bool report_errors);
