// The steps of the session run that other parts of the launcher carry out (the
// language, dialogs, Windows Installer, clean-up and session parts). The setup
// driver calls them here by these names; each lands with its own part.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

class Session;
struct LaunchSettings;
namespace qz {
class IniProfile;
}

// --- session ---
// The session's profile of setup.ini (empty until the disk check loads it).
qz::IniProfile& settings_profile(Session& session);
bool stream_contains(Session& session, const std::wstring& name);
// total_size of the session's stream (0 without a stream).
uint64_t stream_total_size(Session& session);
// Text of the setup dialog's status line.
void set_status_text(Session& session, const std::wstring& text);
// The restart question: 6 Yes, other answers as the message box gives them.
int ask_reboot(Session& session);
// The settings profile into the debug log (passwords left out).
void dump_settings(Session& session);
// The `Startup` and `Languages` keys of the setup.ini at `ini_path` into the
// launch settings.
void read_launch_settings(Session& session, const std::wstring& ini_path);

// --- languages ---
// Chooses the UI language and stores it as the current one.
void choose_language(Session& session);
// The same for a requested language; returns the chosen one.
uint16_t choose_language(LaunchSettings& settings, uint16_t requested);
// The UI language of a previous installation (from its uninstall string), 0 when none.
uint16_t previous_installation_language(LaunchSettings& settings);
enum LanguageDialogResult { kLanguageChosen = 1, kLanguageCancelled = 0, kLanguageDialogFailed = -1 };
// kLanguageDialogFailed leaves the system error in GetLastError. Both endings
// other than a choice set the exit code (-1 when cancelled, else the dialog's
// failure result, 0x80070000 with the system error).
int show_language_dialog(Session& session);
// False: the current language's code page is not installed; the exit code holds
// 1208 and the error has been shown.
bool check_code_page(Session& session);
// The language transform for the chosen language (session value 6). False when
// the transform in the stream could not be extracted: the launch stops (the error
// has been reported).
bool select_transform(Session& session);

// --- multiple instances ---
// True when installed instances of the product exist.
bool detect_instances(Session& session);
enum InstanceChoice { kInstanceChoiceFailed = 0, kInstanceChosen = 1, kInstanceChosenChooseLanguage = 2 };
int choose_instance(Session& session);

// --- user interface ---
// False: the launch stops (the exit code holds 1209 or -1).
bool check_password(Session& session);
// Shows the splash bitmap unless silent or quiet; the session keeps the result.
void show_splash(Session& session);
int create_setup_dialog(Session& session);
void close_setup_dialog(Session& session);
// A setup dialog exists and its Cancel was pressed.
bool setup_cancelled(Session& session);
// The error dialog with the text of `id` (nothing when silent).
void show_error(Session& session, unsigned id);
// The error dialog with the system's text for a Win32 error.
void show_system_error(Session& session, DWORD error);
// A system message box with the wizard caption; when silent (and flags lack 2)
// the silent answer, without showing anything.
int message_box(HWND parent, const std::wstring& text, UINT style, int silent_answer, unsigned flags);

// --- Windows Installer ---
// False when the upgrade check refuses the launch.
bool upgrade_check(Session& session);
// Constructs and executes MsiAction. Non-zero: success; the session then holds
// its restart state (reboot scheduled, keep files).
int execute_msi_action(Session& session);

// --- clean-up ---
void process_deletion_list(Session& session);

#ifdef QZ_PREREQUISITES
// --- prerequisites ---
// Non-zero: the launch stops.
int run_prerequisites(Session& session, int dialog_mode, const std::wstring& features);
#endif
