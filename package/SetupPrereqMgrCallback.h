// The interface through which the parts above the package (the Windows Installer
// launch, downloads and trust, the prerequisite manager) reach the session. The
// slot order is fixed: 26 operations, no virtual destructor (the session is never
// deleted through this interface).
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

struct LaunchSettings;

class CSetupPrereqMgrCallback {
 public:
  /*  0 */ virtual int get_launch_mode() = 0;
  // Records the folder in the deletion list (section Folders).
  /*  1 */ virtual void delete_folder_later(const std::wstring& path) = 0;
  /*  2 */ virtual void remove_folder_later(const std::wstring& path) { delete_folder_later(path); }
  /*  3 */ virtual HWND get_setup_dialog() = 0;
  /*  4 */ virtual bool setup_cancelled() = 0;
  /*  5 */ virtual void set_progress(int percent) = 0;
  // An empty text without keep_empty removes the id.
  /*  6 */ virtual void set_value(uint32_t id, const std::wstring& text, bool keep_empty) {}
  /*  7 */ virtual std::wstring get_value(uint32_t id) { return std::wstring(); }
  /*  8 */ virtual void set_resume_index(int index) = 0;
  /*  9 */ virtual int get_resume_index() = 0;
  /* 10 */ virtual bool has_value(uint32_t id) { return false; }
  /* 11 */ virtual LaunchSettings& get_launch_settings() = 0;
  // target null: the temporary folder joined with the name.
  /* 12 */ virtual bool extract_member(const std::wstring& name, bool report_error, bool force,
                                       const std::wstring* target, bool delete_later) = 0;
  /* 13 */ virtual int create_setup_dialog() = 0;
  /* 14 */ virtual std::wstring get_setting(const std::wstring& section, const std::wstring& key,
                                           const std::wstring& default_value) = 0;
  /* 15 */ virtual bool locate_package(std::wstring& package_path) = 0;
  /* 16 */ virtual int ask_reboot() = 0;
  /* 17 */ virtual void append_relaunch_switches(std::wstring& command_line) = 0;
  /* 18 */ virtual std::wstring get_origin_text() { return std::wstring(); }
  /* 19 */ virtual bool is_click_once() { return false; }
  /* 20 */ virtual void schedule_reboot(bool flag) {}
  /* 21 */ virtual void set_status_text(const std::wstring& text) = 0;
  /* 22 */ virtual bool stream_contains(const std::wstring& name) = 0;
  /* 23 */ virtual void attach_status_window(HWND main_text, HWND status) {}
  /* 24 */ virtual int reserved() { return 0; }
  /* 25 */ virtual std::wstring strip_relaunch_switches(const std::wstring& command_line) = 0;

 protected:
  CSetupPrereqMgrCallback() = default;
  ~CSetupPrereqMgrCallback() = default;
};
