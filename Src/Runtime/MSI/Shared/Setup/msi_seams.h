// What the Windows Installer launch needs from the dialogs, the signature checks,
// the script engine bridge and the prerequisite manager. Each has a provisional
// body in msi_seams_provisional.cpp until its owner's code replaces it.
#pragma once
#include <string>

class Session;

// The setup initialisation dialog.
bool init_dialog_exists(Session& session);
// Waits until [Startup] SplashTime seconds have passed since the dialog appeared
// (not with /s or /auto), pumping messages; false when the user cancelled.
bool wait_out_splash(Session& session);
void hide_init_dialog(Session& session);
void close_init_dialog(Session& session);

// Signer comparison: 1 the certificates match or the launcher's own cannot be
// read (nothing compared), 0 the package's cannot be read or they differ.
bool package_signer_matches(Session& session, const std::wstring& launcher_path, const std::wstring& package_path);

// The script engine bridge: the runtime files' folder (empty when none), the
// engine library's path (false when not found; *tried holds the path tried), and
// the installation through it (false, with result code 1670, when the library
// cannot be loaded or lacks its entry point; otherwise *result is the engine's
// answer).
std::wstring extract_script_runtime_files(Session& session);
bool locate_engine_library(Session& session, std::wstring* path, std::wstring* tried);
bool run_engine_install(Session& session, const std::wstring& library, const std::wstring& target, int* result);
// How every call into the engine library fails while the bridge is not in the
// build: logged, and result code 1670 (returned too), so a resume, removal or
// installation that never ran is no success.
int engine_library_not_loaded(const std::wstring& library);

// Feature-bound prerequisites of a silent installation: non-zero stops the launch.
int install_feature_prerequisites(Session& session, const std::wstring& package_path);
