// The process-wide record of switches, `Startup` and `Languages` settings, paths
// and languages. One per process, created by the entry point and shared by
// reference with the session and the dialogs.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct LaunchSettings {
  // flags
  bool reboot = false;
  bool silent = false;
  bool auto_ = false;
  bool no_engine = false;
  bool language_dialog = false;
  bool hide_progress = false;
  bool hide_splash = false;
  bool hide_usd = false;
  bool small_progress = false;
  bool package = false;
  bool show_password_dialog = false;
  bool check_md5 = false;
  bool language_from_command_line = false;
  bool language_from_previous_install = false;
  bool all_users = false;
  bool no_deleter = false;
  bool no_selfdeleter = false;
  bool run_from_temp = false;
  bool clone_wait = false;
  bool web_installation = false;
  bool extract_all = false;
  bool show_err_dlg = false;
  bool show_err_msg = false;
  bool show_err_msg_invalid_identity = false;
  bool show_reboot_msg = false;
  bool custom_return_codes = false;
  bool waiting_for_child_process = false;

  void* module = nullptr;  // HINSTANCE

  // numbers
  int splash_time = 5;
  int media_format = 0;
  int log_mode = 1;
  int delayed_start = 0;
  int script_driven = -1;
  int custom_code_on_success = -1;
  int custom_code_on_fail = -1;
  int custom_code_on_abort = -1;

  // languages
  uint16_t ui_language = 0;
  uint16_t requested_language = 0;
  uint16_t default_language = 0;
  std::vector<uint16_t> supported_languages;     // ascending, from `Supported`
  std::vector<uint16_t> exact_match_languages;   // ascending, from `RequireExactLangMatch`
  bool exact_match_all = false;                  // `RequireExactLangMatch` is "ALL"
  std::vector<uint16_t> rtl_languages;           // ascending, from `RTLLangs`
  // The package is known to be 64-bit: its uninstall key, which may name the
  // previous installation's language, is looked for in the 64-bit registry view
  // first instead of the 32-bit one.
  bool package_64bit = false;

  // texts
  std::wstring extra_command_line;
  std::wstring error_report_location;
  std::wstring setup_ini_path;
  std::wstring media_folder;
  std::wstring script_log_path;
  std::wstring install_guid;
  std::wstring product_name;
  std::wstring company_name;
  std::wstring company_url;
  std::wstring skin;
  std::wstring product_code;
  std::wstring launcher_name;
  std::wstring launcher_path;
  std::wstring temp_folder;
  std::wstring first_launcher_path;
  std::wstring unc_path;
  // chainsetup: the extracted app-package helper (PkgDeployHost.exe), once a listed
  // prerequisite is an app package.
  std::wstring app_package_helper;

  // Reads the `cmdline` text of setup.ini: applies the settings switches and
  // leaves in `text` what remains, trimmed.
  void apply_settings_switches(std::wstring& text);
};

namespace qzproc {
// The process's launch settings, published by the entry point (null before).
LaunchSettings* settings();
void set_settings(LaunchSettings* settings);
}  // namespace qzproc
