// The launcher's central object for one run. The setup driver creates it once;
// the other parts reach the package, the settings and the user interface through
// it. The command-line state and the value table live in SessionState.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "os_rules.h"
#include "package/IniProfile.h"
#include "package/SetupPrereqMgrCallback.h"
#include "package/stream.h"
#include "session_dialog.h"
#include "session_state.h"

struct LaunchSettings;
class CSetupPrereqMgr;

// The log line of a setup.ini without [Startup] PackageName (each caller reports
// it its own way): one text wherever the name is found missing.
inline constexpr wchar_t kNoPackageNameLog[] = L"Failed to read setup package: PackageName name from Setup.ini";

class Session : public IStreamProgress, public CSetupPrereqMgrCallback, public SessionState {
 public:
  // Opens the stream on the module's file.
  Session(HINSTANCE module, LaunchSettings& settings);
  // Opens the stream on the given launcher file (a copy, or a test image).
  Session(HINSTANCE module, LaunchSettings& settings, const std::wstring& launcher_file);
  ~Session() override;

  HINSTANCE module() const { return module_; }
  STREAM& stream() { return *stream_; }

  // The per-switch handler (text after the switch character). False: the command
  // line is invalid and the usage message has been shown.
  bool process_switch(const std::wstring& text);

  // IStreamProgress.
  bool progress(uint32_t done, uint32_t total) override;
  void show_status(int kind, const zString& name) override;

  // The callback through which the installer, download and prerequisite parts
  // reach the session.
  int get_launch_mode() override { return launch_mode(); }
  void delete_folder_later(const std::wstring& path) override;
  HWND get_setup_dialog() override;
  bool setup_cancelled() override;
  void set_progress(int percent) override;
  using SessionState::append_relaunch_switches;
  using SessionState::get_value;
  using SessionState::has_value;
  using SessionState::set_value;
  using SessionState::strip_relaunch_switches;
  void set_value(uint32_t id, const std::wstring& text, bool keep_empty = false) override {
    SessionState::set_value(id, text, keep_empty);
  }
  std::wstring get_value(uint32_t id) override { return SessionState::get_value(id); }
  bool has_value(uint32_t id) override { return SessionState::has_value(id); }
  void append_relaunch_switches(std::wstring& command_line) override {
    SessionState::append_relaunch_switches(command_line);
  }
  std::wstring strip_relaunch_switches(const std::wstring& command_line) override {
    return SessionState::strip_relaunch_switches(command_line);
  }
  void set_resume_index(int index) override;
  int get_resume_index() override;
  LaunchSettings& get_launch_settings() override { return settings(); }
  // Writes a stream member to `target` (null: the temporary folder joined with the
  // name). Runs only when the package comes from the stream (or force) and the
  // extraction mode is 1; otherwise true at once.
  bool extract_member(const std::wstring& name, bool report_error, bool force, const std::wstring* target,
                      bool delete_later) override;
  // The initialisation dialog through the installed dialogs, unless silent or one
  // exists; always 1 (a run goes on without the dialog when none can be made).
  int create_setup_dialog() override;
  // The initialisation dialog's window is closed (the object stays, so a Cancel
  // pressed in it still counts).
  void close_setup_dialog();
  // A value of setup.ini (the profile is read first when it has not been yet;
  // empty when that fails). At most 1023 characters.
  std::wstring get_setting(const std::wstring& section, const std::wstring& key,
                           const std::wstring& default_value) override;
  // The package location's owner supplies this one (installed-product lookup off).
  bool locate_package(std::wstring& package_path) override;
  // 1 (no question), 5 (a restart is due but was not asked for), or the answer
  // to the restart question (6 Yes; silent launches answer Yes).
  int ask_reboot() override;
  std::wstring get_origin_text() override { return origin_text_; }
  bool is_click_once() override;
  void schedule_reboot(bool flag) override;
  void set_status_text(const std::wstring& text) override;
  bool stream_contains(const std::wstring& name) override;
  void attach_status_window(HWND main_text, HWND status) override;
  int reserved() override { return 0; }

  // Extraction steps of the disk check, in this order.
  bool extract_setup_ini();
  bool extract_string_files();
  bool extract_all_members();

  // get_setting with an empty default, read by wcstol rules in the radix.
  int get_setting_int(const std::wstring& section, const std::wstring& key, int default_value, int radix = 10);
  // Every section and key of the profile to the debug log, never a Password key.
  void dump_settings();
  // The session run: the action chain of the extraction mode, then the restart
  // question, the clean-up, the settings dump and the pending-restart check.
  // QzSetup::run calls it once; always 1 (the exit code holds the outcome).
  int run();

  // The settings profile (setup.ini through IniProfile).
  qz::IniProfile& profile() { return profile_; }
  bool profile_loaded() const { return profile_loaded_; }
  // Loads the profile from the file; false (profile unchanged) when unreadable.
  bool load_profile(const std::wstring& path);
  // What get_setting runs when the profile is not loaded yet. Default: load the
  // launch settings' setup.ini path. The disk check loads the profile itself
  // (load_profile), so after it get_setting never reads the file again.
  void set_settings_reader(std::function<bool(Session&)> reader) { settings_reader_ = std::move(reader); }
  // Reads the Startup and Languages keys of the file into the launch settings.
  bool read_launch_settings(const std::wstring& path);

  // Startup keys read on demand.
  std::wstring package_name() { return get_setting(L"Startup", L"PackageName", L""); }
  // Value 5 from the required PackageName; false (logged) when setup.ini has none.
  bool load_package_name();
  // The package name begins with "*".
  bool package_name_starred() { return package_name().compare(0, 1, L"*") == 0; }
  std::wstring product_code() { return get_setting(L"Startup", L"ProductCode", L""); }
  std::wstring package_code() { return get_setting(L"Startup", L"PackageCode", L""); }
  std::wstring product_version() { return get_setting(L"Startup", L"ProductVersion", L""); }
  std::wstring upgrade_code() { return get_setting(L"Startup", L"UpgradeCode", L""); }
  std::wstring cmd_line() { return get_setting(L"Startup", L"CmdLine", L""); }
  std::wstring billboard_type();
  int mode() { return get_setting_int(L"Startup", L"Mode", 0); }
  int on_upgrade() { return get_setting_int(L"Startup", L"OnUpgrade", 1); }
  std::wstring dot_net_version() { return get_setting(L"Startup", L"DotNetVersion", L""); }
  int script_driven() { return get_setting_int(L"Startup", L"ScriptDriven", 0); }
  int ui() { return get_setting_int(L"Startup", L"UI", 1001); }
  std::wstring click_once_package() { return get_setting(L"Startup", L"ClickOncePackage", L""); }
  int source() { return get_setting_int(L"Startup", L"Source", 1); }
  std::wstring advertise_while_elevated();
  int no_suppress_reboot_key() { return get_setting_int(L"Startup", L"NoSuppressRebootKey", 0); }

  // Dialog seams: the initialisation dialog is owned here; the prerequisite
  // dialog only while it shows.
  void set_setup_dialog(std::unique_ptr<SessionDialog> dialog) { setup_dialog_ = std::move(dialog); }
  SessionDialog* setup_dialog() { return setup_dialog_.get(); }
  // The initialisation dialog's window exists.
  bool setup_dialog_shown() const;
  // Waits out the splash time in the dialog (not in silent or /auto runs); false
  // when the user cancelled.
  bool wait_out_splash();
  void hide_setup_dialog();
  SessionDialog* prerequisite_dialog() { return prerequisite_dialog_; }
  void set_prerequisite_dialog(SessionDialog* dialog) { prerequisite_dialog_ = dialog; }
  HWND status_window() const { return status_window_; }
  HWND main_text_window() const { return main_text_window_; }
  // chainsetup: the session's prerequisite manager, made on first use (setup has none).
  CSetupPrereqMgr& prerequisite_manager();

  void set_origin_text(const std::wstring& text) { origin_text_ = text; }
  uint64_t total_size() const { return total_size_; }
  void set_total_size(uint64_t size) { total_size_ = size; }

  // Restart state. reboot_needed: ask the restart question at the end;
  // restart_due: a restart is due although nobody asked (ask_reboot answers 5).
  bool reboot_needed() const { return reboot_needed_; }
  void set_reboot_needed(bool on) { reboot_needed_ = on; }
  bool restart_due() const { return restart_due_; }
  void set_restart_due(bool on) { restart_due_ = on; }
  bool reboot_scheduled() const { return reboot_scheduled_; }
  void set_reboot_scheduled(bool on) { reboot_scheduled_ = on; }
  // Keeps the temporary files at the end (the installation resumes after a restart).
  bool keep_files() const { return keep_files_; }
  void set_keep_files(bool on) { keep_files_ = on; }

  // State of the action chain.
  const OsRecord& os_record() const { return os_record_; }
  void set_os_record(const OsRecord& record) { os_record_ = record; }
  // 0 ask, 1 do not ask, 2 skip the upgrade check.
  int upgrade_mode() const { return upgrade_mode_; }
  void set_upgrade_mode(int mode) { upgrade_mode_ = mode; }
  // `Source` of setup.ini is set (the package caching acts on it).
  bool source_flag() const { return source_flag_; }
  void set_source_flag(bool on) { source_flag_ = on; }
 protected:
  std::wstring packaged_setting(const std::wstring& section, const std::wstring& key) override;
  bool take_placeholder(const std::wstring& name, std::wstring* value) override;
  void delete_resume_entry() override;
  bool ensure_folder(const std::wstring& folder) override;
  bool can_write_in_folder(const std::wstring& folder) override;
  bool temp_folder_given(const std::wstring& folder) override;
  bool recognises_prerequisite_switches() const override;

 private:
  // The dialog progress goes to: the prerequisite dialog while it shows, else the
  // initialisation dialog (null when neither).
  SessionDialog* progress_dialog();
  bool user_cancelled();
  bool ensure_profile();

  HINSTANCE module_ = nullptr;
  std::unique_ptr<STREAM> stream_;
  qz::IniProfile profile_;
  bool profile_loaded_ = false;
  std::function<bool(Session&)> settings_reader_;
  std::unique_ptr<CSetupPrereqMgr> prereq_mgr_;
  std::unique_ptr<SessionDialog> setup_dialog_;
  SessionDialog* prerequisite_dialog_ = nullptr;
  HWND status_window_ = nullptr;
  HWND main_text_window_ = nullptr;
  std::wstring origin_text_;
  uint64_t total_size_ = 0;
  bool reboot_needed_ = false;
  bool restart_due_ = false;
  bool reboot_scheduled_ = false;
  OsRecord os_record_;
  int upgrade_mode_ = 0;
  bool source_flag_ = false;
  bool keep_files_ = false;
};

// The usage text in the UI language: string-table entries 1203, 1211, 1204, 1205,
// 1206, 1630 to 1633 joined by "\r\n".
std::wstring usage_message_text(const LaunchSettings& settings);
// Shows the usage message unless the launch is silent.
void show_usage_message(Session& session);
// Before the usage message (unless silent): runs the disk step and, when it
// succeeds and no UI language is chosen yet, chooses one from the setup's
// setup.ini, so the message appears in the setup's language.
void prepare_usage_language(Session& session);
// An invalid command line: the language step, then the usage message.
void report_invalid_command_line(Session& session);

