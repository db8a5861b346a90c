// The launcher's central object for one run. The setup driver creates it once;
// the other parts reach the package, the settings and the user interface through
// it. The command-line state and the value table live in SessionState.
#pragma once
#include <windows.h>

#include <string>

#include "os_rules.h"
#include "session_state.h"

struct LaunchSettings;

class Session : public SessionState {
 public:
  Session(HINSTANCE module, LaunchSettings& settings);
  ~Session() override;

  HINSTANCE module() const { return module_; }

  // The per-switch handler (text after the switch character). False: the command
  // line is invalid and the usage message has been shown.
  bool process_switch(const std::wstring& text);

  // Restart state noted by the Windows Installer launch.
  bool reboot_needed() const { return reboot_needed_; }
  void set_reboot_needed(bool on) { reboot_needed_ = on; }
  bool reboot_scheduled() const { return reboot_scheduled_; }
  void set_reboot_scheduled(bool on) { reboot_scheduled_ = on; }

  // Extraction of the package's members (built with the session's stream).
  // False: the member could not be written; with error reporting the exit code
  // holds 1152 and the error has been shown.
  bool extract_setup_ini();
  bool extract_string_files();
  bool extract_member(const std::wstring& name, bool report_error, bool force, const std::wstring* target,
                      bool delete_later);
  bool extract_all_members();

  // State of the action chain.
  const OsRecord& os_record() const { return os_record_; }
  void set_os_record(const OsRecord& record) { os_record_ = record; }
  uint32_t total_stored_size() const { return total_stored_size_; }
  void set_total_stored_size(uint32_t size) { total_stored_size_ = size; }
  // 0 ask, 1 do not ask, 2 skip the upgrade check.
  int upgrade_mode() const { return upgrade_mode_; }
  void set_upgrade_mode(int mode) { upgrade_mode_ = mode; }
  // `Source` of setup.ini is set (the package caching acts on it).
  bool source_flag() const { return source_flag_; }
  void set_source_flag(bool on) { source_flag_ = on; }
  // Set by the Windows Installer launch: the temporary files stay at the end.
  bool keep_files() const { return keep_files_; }
  void set_keep_files(bool on) { keep_files_ = on; }

 protected:
  std::wstring packaged_setting(const std::wstring& section, const std::wstring& key) override;
  bool take_placeholder(const std::wstring& name, std::wstring* value) override;
  void delete_resume_entry() override;
  bool ensure_folder(const std::wstring& folder) override;
  bool can_write_in_folder(const std::wstring& folder) override;
  void temp_folder_given(const std::wstring& folder) override;
  bool recognises_prerequisite_switches() const override;

 private:
  HINSTANCE module_ = nullptr;
  bool reboot_needed_ = false;
  bool reboot_scheduled_ = false;
  OsRecord os_record_;
  uint32_t total_stored_size_ = 0;
  int upgrade_mode_ = 0;
  bool source_flag_ = false;
  bool keep_files_ = false;
};

// The usage text in the UI language: string-table entries 1203, 1211, 1204, 1205,
// 1206, 1630 to 1633 joined by "\r\n".
std::wstring usage_message_text(const LaunchSettings& settings);
// Shows the usage message unless the launch is silent.
void show_usage_message(Session& session);
// Before the usage message: makes the setup's own language available for it.
void prepare_usage_language(Session& session);
// An invalid command line: the language step, then the usage message.
void report_invalid_command_line(Session& session);
