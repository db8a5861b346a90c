// The launcher's central object for one run. The setup driver creates it once;
// the other parts reach the package, the settings and the user interface through
// it. The command-line state and the value table live in SessionState.
#pragma once
#include <windows.h>

#include <string>

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
