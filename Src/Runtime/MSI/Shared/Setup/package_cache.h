// Locating, fetching and caching the Windows Installer package before the launch.
#pragma once
#include <string>

class Session;

// Location types of a package.
enum PackageLocationType { kLocationSource = 0, kLocationStream = 1, kLocationWebDownload = 2,
                           kLocationWebInstall = 3, kLocationTemp = 4 };

// Where the package comes from; false (result code and message set) when it
// cannot be located or fetched.
bool LocatePackage(Session& session, std::wstring* package_path, int* location_type, bool installed_lookup);
bool GetFile(Session& session, const std::wstring& package_name, const std::wstring& override_location,
             std::wstring* package_path, bool use_override, int* location_type, bool verify_downloads,
             bool report_errors);
// Copies the package to its permanent cache; false stops the launch.
bool CachePackage(Session& session, const std::wstring& package_name, std::wstring* package_path);
// Extracts a member of the launcher's stream into the temporary folder; the path
// is the temporary folder joined with the name. False (result code 1155, message
// 1155 when reporting) when the file is then missing.
bool ExtractSetupMember(Session& session, const std::wstring& member, std::wstring* path, bool report_errors);
