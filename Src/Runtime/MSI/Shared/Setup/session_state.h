// portable
// The part of the session that the command line fills: the numbered value table,
// the modes and flags, the folders, the setup password and the switches recorded
// for relaunched copies and for the script engine. Kept free of Windows so the
// switch rules can be tested natively; `Session` supplies the system hooks.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "switch_rules.h"

struct LaunchSettings;

// Ids of the session's numbered values.
enum SessionValue : uint32_t {
  kValueProductCode = 1,
  kValuePackageCode = 2,
  kValueProductVersion = 3,
  kValueEngineVersion = 4,
  kValuePackageName = 5,
  kValueLanguageTransform = 6,
  kValueInstallerCommandLine = 7,
  kValueModeLetters = 8,
  kValueEngineLocationA = 9,
  kValueEngineLocationW = 10,
  kValuePackageLocation = 11,
  kValueCacheFolder = 12,
  kValueDotNetVersion = 13,
  kValueAdminImageFolder = 14,
  kValueFeaturePrerequisites = 15,
  kValueEmbed = 16,
  kValueSavedProperties = 17,
  kValueResumeCommandLine = 18,
  kValueBillboardType = 19,
  kValueUpgradeCode = 20,
  kValueChildRebootRequested = 21,
};

enum LaunchMode { kModeInstall = 0, kModeAdmin = 1, kModeRepair = 2, kModeAdvertise = 3, kModeUninstall = 4, kModePatch = 5 };
enum PackageMode { kPackageFromStream = 1, kPackageBesideLauncher = 2 };
// 1: extraction and checks; 2: only the Windows Installer action; 3 (or other): neither.
enum ExtractionMode { kExtractNormal = 1, kExtractInstallerOnly = 2, kExtractNone = 3 };

class SessionState {
 public:
  explicit SessionState(LaunchSettings& settings) : settings_(settings) {}
  virtual ~SessionState();
  SessionState(const SessionState&) = delete;
  SessionState& operator=(const SessionState&) = delete;

  LaunchSettings& settings() { return settings_; }
  const LaunchSettings& settings() const { return settings_; }

  // Value table: an empty text without keep_empty removes the id.
  void set_value(uint32_t id, const std::wstring& text, bool keep_empty = false);
  std::wstring get_value(uint32_t id) const;
  bool has_value(uint32_t id) const;
  const std::map<uint32_t, std::wstring>& values() const { return values_; }

  int launch_mode() const { return launch_mode_; }
  void set_launch_mode(int mode) { launch_mode_ = mode; }
  int package_mode() const { return package_mode_; }
  void set_package_mode(int mode) { package_mode_ = mode; }
  int extraction_mode() const { return extraction_mode_; }
  void set_extraction_mode(int mode) { extraction_mode_ = mode; }

  bool quiet() const { return quiet_; }
  // The run was started with the switches of a run after a restart (/c or /e).
  bool started_with_c_or_e() const { return started_with_c_or_e_; }
  bool hide_progress() const { return hide_progress_; }
  bool hide_splash() const { return hide_splash_; }

  // The folder that holds the package's files (/t, or the launcher's folder later).
  const std::wstring& source_folder() const { return source_folder_; }
  void set_source_folder(const std::wstring& folder) { source_folder_ = folder; }
  // The source folder was named on the command line.
  bool source_folder_from_switch() const { return source_folder_from_switch_; }
  // Where the package's loose files lie: the folder named with /t, else the
  // launcher's folder. (The source folder above becomes the extraction folder
  // once setup.ini is extracted; loose files never lie there.)
  std::wstring package_source_folder() const {
    return source_folder_from_switch_ && !source_folder_.empty() ? source_folder_ : launcher_folder_;
  }
  // The folder in which setup.ini is looked for (/f3); empty when not given.
  const std::wstring& setup_ini_folder() const { return setup_ini_folder_; }
  void set_setup_ini_folder(const std::wstring& folder) { setup_ini_folder_ = folder; }
  const std::wstring& launcher_path() const { return launcher_path_; }
  const std::wstring& launcher_folder() const { return launcher_folder_; }
  // Sets the path and its folder.
  void set_launcher_path(const std::wstring& path);
  // The temporary folder given with /e (empty when not given).
  const std::wstring& temp_folder_override() const { return temp_folder_override_; }
  const std::wstring& debug_log_path() const { return debug_log_path_; }
  void set_debug_log_path(const std::wstring& path) { debug_log_path_ = path; }

  bool response_file_given() const { return response_file_given_; }
  bool response_folder_writable() const { return response_folder_writable_; }

  // The /p password, at most kPasswordCapacity - 1 characters. Never log it.
  const std::wstring& setup_password() const { return setup_password_; }
  void set_setup_password(const std::wstring& password);
  void clear_setup_password();

  // -4 (ask) until /instance= gives -1 (default), a number, or -3 (invalid).
  int instance_choice() const { return instance_choice_; }
  void set_instance_choice(int choice) { instance_choice_ = choice; }
  uint16_t requested_language() const;

  // Set by the entry point when this copy removes a product for a major upgrade.
  bool remove_as_major_upgrade() const { return remove_as_major_upgrade_; }
  void set_remove_as_major_upgrade(bool on) { remove_as_major_upgrade_ = on; }

  // Switches recorded for relaunched or elevated copies and for the script engine.
  const std::wstring& relaunch_command_line() const { return relaunch_command_line_; }
  const std::wstring& engine_command_line() const { return engine_command_line_; }
  void add_switch(const std::wstring& sw, const std::wstring& text = std::wstring(), bool force_quotes = false);
  std::wstring strip_relaunch_switches(const std::wstring& command_line) const;
  void append_relaunch_switches(std::wstring& command_line) const;

  // Applies one switch (the text after its switch character). False: the command
  // line is invalid; nothing has been shown yet.
  bool apply_switch(const std::wstring& text);

 protected:
  // System hooks. The defaults do nothing, so the rules can run without a system.
  // A value of setup.ini read before any session has loaded it.
  virtual std::wstring packaged_setting(const std::wstring& section, const std::wstring& key) { return std::wstring(); }
  // Reads and deletes a REG_SZ placeholder value, whole (a missing value reads as
  // empty). False when its key cannot be opened.
  virtual bool take_placeholder(const std::wstring& name, std::wstring* value) { return false; }
  // Deletes the resume-after-restart Run entry.
  virtual void delete_resume_entry() {}
  // The folder exists or could be created.
  virtual bool ensure_folder(const std::wstring& folder) { return true; }
  // A test file can be created and deleted in the folder.
  virtual bool can_write_in_folder(const std::wstring& folder) { return true; }
  // The run's temporary folder was given on the command line; false refuses it
  // (the switch is then invalid).
  virtual bool temp_folder_given(const std::wstring& folder) { return true; }
  // The prerequisite-capable build recognises /runprerequisites here.
  virtual bool recognises_prerequisite_switches() const { return false; }

 private:
  bool script_driven_is_3();
  bool apply_letter(wchar_t letter, const std::wstring& text);
  bool apply_e(const std::wstring& rest);
  bool apply_f(const std::wstring& rest);
  bool apply_t(const std::wstring& rest);
  bool apply_v(const std::wstring& rest);

  LaunchSettings& settings_;
  std::map<uint32_t, std::wstring> values_;
  int launch_mode_ = kModeInstall;
  int package_mode_ = kPackageBesideLauncher;
  int extraction_mode_ = kExtractNormal;
  bool quiet_ = false;
  bool started_with_c_or_e_ = false;
  bool hide_progress_ = false;
  bool hide_splash_ = false;
  std::wstring source_folder_;
  bool source_folder_from_switch_ = false;
  std::wstring setup_ini_folder_;
  std::wstring launcher_path_;
  std::wstring launcher_folder_;
  std::wstring temp_folder_override_;
  std::wstring debug_log_path_;
  bool response_file_given_ = false;
  bool response_folder_writable_ = true;
  std::wstring setup_password_;
  int instance_choice_ = switch_rules::kInstanceAsk;
  bool remove_as_major_upgrade_ = false;
  std::wstring relaunch_command_line_;
  std::wstring engine_command_line_;
  std::optional<bool> script_driven_is_3_;
};
