// Checks that decide whether and how the Windows Installer package may start:
// the engine version, the installed product, the upgrade check, the package's
// platform, product version and package code. Every installer call goes through
// the guarded binding of msi_library.h.
#pragma once
#include <windows.h>

#include <string>

class Session;

// ---- settings and messages shared by the installer launch ------------------
// A value of setup.ini (at most `capacity` characters; empty when missing).
std::wstring msi_setting(const std::wstring& section, const std::wstring& key, size_t capacity = 1024);
// Test seam: read the values from this INI file instead (empty restores).
void set_msi_settings_file_for_tests(const std::wstring& path);
// The integer value, or `default_value` when missing or not a number.
int msi_setting_int(const std::wstring& section, const std::wstring& key, int default_value);
// A value of the package's own section (location type, cache, cabinets). A run
// after a restart (/e) reads it from the session's settings, the temporary
// folder's Setup.INI, which the run before edited to take the package from
// there; otherwise as msi_setting.
std::wstring msi_package_setting(Session& session, const std::wstring& package, const std::wstring& key,
                                 size_t capacity = 1024);
int msi_package_setting_int(Session& session, const std::wstring& package, const std::wstring& key,
                            int default_value);
// A value of the launcher's stream member Setting.INI (empty without one), or of
// the test file when one is set.
std::wstring msi_stream_setting_ini(const std::wstring& section, const std::wstring& key, size_t capacity);

// The one place where the installer launch asks or tells the user: with /s (or,
// when `auto_is_silent`, with /auto) no box appears and `silent_answer` comes back;
// otherwise the launcher's message box (wizard caption).
int msi_message_box(Session& session, const std::wstring& text, UINT type, int silent_answer,
                    bool auto_is_silent = false);
// The string-table text with `arg` for its printf-style marker; a text without an
// entry is its number.
std::wstring msi_message_text(Session& session, unsigned id, const std::wstring& arg = std::wstring());

// ---- checks -----------------------------------------------------------------
// The fixed file version of a module found by the loader's search, "%u.%u.%u.%u";
// empty when it has no version resource.
std::wstring module_file_version(const wchar_t* module);
// Engine version check for the embedded user interface: false (result code 1713,
// message 1713) when Msi.DLL is older than 4.05.
bool check_engine_version(Session& session);
// The installed product's "PackageCode" can be read.
bool product_installed(const std::wstring& product_code);
// The installed product's property (at most `capacity` characters); the installer
// status (126 / 127 when msi.dll or the entry point is missing).
UINT installed_product_info(const std::wstring& product_code, const wchar_t* property, size_t capacity,
                            std::wstring* value);
// The upgrade policy from [Startup] OnUpgrade and the silent switches.
int upgrade_policy_for(Session& session);
// False stops the launch, with result code 1638 when a later version is installed
// or 1602 when the user declined. `policy` is the session's policy, set to skip
// when the check says so.
bool upgrade_check(Session& session, int* policy);
// The session run's step: the check with the session's policy, which it may turn
// to skip.
bool upgrade_check(Session& session);
// Adds the minor-upgrade properties to the property list and forwards them.
void apply_minor_upgrade_properties(Session& session);

bool IsPackage64Bit(const std::wstring& package_path);
bool package_product_version_matches(const std::wstring& package_path, const std::wstring& version);
bool ReadPackageCode(const std::wstring& package_path, std::wstring* package_code);
// The package's ProductVersion property, empty when it cannot be read.
std::wstring read_package_product_version(const std::wstring& package_path);
// Reads the package's MsiHiddenProperties into the names the log hides. A package
// that cannot be opened leaves them unknown (every property value stays hidden),
// unless it is no installer database at all.
void learn_hidden_properties(const std::wstring& package_path);
