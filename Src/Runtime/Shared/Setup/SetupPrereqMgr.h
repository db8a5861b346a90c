// The prerequisite manager of chainsetup: which prerequisites a launch needs, and
// their installation through the prerequisite dialog and sequence. The session
// owns one; it reaches the session through the callback interface, whose every
// operation it forwards unchanged, so the dialog and the sequence can take the
// manager where they need the session. setup never makes one.
#pragma once
#include <windows.h>
#include <msi.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "package/SetupPrereqMgrCallback.h"
#include "package/session_dialog.h"
#include "prereq_system.h"

// The numbered session values the prerequisite subsystem reads and writes.
namespace prq {
inline constexpr uint32_t kValueLanguageTransform = 6;
inline constexpr uint32_t kValueInstallerCommandLine = 7;
inline constexpr uint32_t kValueAdminImageFolder = 14;
inline constexpr uint32_t kValueFeaturePrerequisites = 15;
inline constexpr uint32_t kValueHostWindow = 16;
inline constexpr uint32_t kValueSavedProperties = 17;
inline constexpr uint32_t kValueResumeCommandLine = 18;
inline constexpr uint32_t kValueChildRebootRequested = 21;
// Launch modes.
inline constexpr int kModeInstall = 0;
inline constexpr int kModeAdministrative = 1;
}  // namespace prq

struct PrerequisiteEntry {
  bool scheduled = true;
  bool hidden = false;
  std::wstring path;          // of its .prq file
  std::wstring command_line;  // resolved silent command line of a feature-bound pass
  int kind = 0;
};

// What the session gives the manager beyond the callback interface.
struct PrerequisiteHooks {
  // The prerequisite dialog while it shows; null when it has closed.
  std::function<void(SessionDialog*)> show_dialog;
  // The process holds administrative rights (no elevation needed).
  std::function<bool()> elevated;
  // The installer command line with the language transform merged into its
  // TRANSFORMS property.
  std::function<std::wstring(const std::wstring& command_line, const std::wstring& transform)> merge_transform;
  // A command line as it may be logged (the setup password hidden).
  std::function<std::wstring(const std::wstring& command_line)> loggable;
};

class CSetupPrereqMgr : public CSetupPrereqMgrCallback {
 public:
  // Results of RunPrerequisites.
  static constexpr int kCarryOn = 0;
  static constexpr int kStop = 2;            // cancelled, refused or failed
  static constexpr int kRestartPending = 7;  // setup ends now and resumes after the restart

  explicit CSetupPrereqMgr(CSetupPrereqMgrCallback& session, PrerequisiteHooks hooks = {});
  virtual ~CSetupPrereqMgr();
  CSetupPrereqMgr(const CSetupPrereqMgr&) = delete;
  CSetupPrereqMgr& operator=(const CSetupPrereqMgr&) = delete;

  // Dialog mode 0 installs at once, 1 waits for Install, 2 installs at once unless
  // elevation is needed. `features`: comma-separated, empty for the pass before
  // feature selection. `register_resume` writes the RunOnce entry that restarts
  // setup after a restart. `installer` (may be null): the running main
  // installation's handle, which the manager may close (then set to 0).
  int RunPrerequisites(int dialog_mode, const std::wstring& features, bool register_resume, MSIHANDLE* installer);
  // Fills the map with what this pass installs; whether anything is scheduled.
  bool CollectPrerequisites(const std::wstring& features, bool* needs_elevation, bool* any_visible);
  // `key` with `index` appended, from the section "QZSetupPrerequisites".
  std::wstring ReadPrerequisiteKey(const std::wstring& key, int index);
  // The TRANSFORMS property of the installer command line (for the advertisement).
  std::wstring transform_list();

  std::map<int, PrerequisiteEntry>& entries() { return entries_; }
  void show_dialog(SessionDialog* dialog) {
    if (hooks_.show_dialog) hooks_.show_dialog(dialog);
  }
  prq::PrereqSystem& system() { return *system_; }
  std::wstring loggable(const std::wstring& command_line) {
    return hooks_.loggable ? hooks_.loggable(command_line) : std::wstring(L"(not logged)");
  }
  // Tests answer the system's questions themselves.
  void set_system(prq::PrereqSystem& system) { system_ = &system; }

  // CSetupPrereqMgrCallback, forwarded to the session.
  int get_launch_mode() override { return session_.get_launch_mode(); }
  void delete_folder_later(const std::wstring& path) override { session_.delete_folder_later(path); }
  void remove_folder_later(const std::wstring& path) override { session_.remove_folder_later(path); }
  HWND get_setup_dialog() override { return session_.get_setup_dialog(); }
  bool setup_cancelled() override { return session_.setup_cancelled(); }
  void set_progress(int percent) override { session_.set_progress(percent); }
  void set_value(uint32_t id, const std::wstring& text, bool keep_empty) override {
    session_.set_value(id, text, keep_empty);
  }
  std::wstring get_value(uint32_t id) override { return session_.get_value(id); }
  void set_resume_index(int index) override { session_.set_resume_index(index); }
  int get_resume_index() override { return session_.get_resume_index(); }
  bool has_value(uint32_t id) override { return session_.has_value(id); }
  LaunchSettings& get_launch_settings() override { return session_.get_launch_settings(); }
  bool extract_member(const std::wstring& name, bool report_error, bool force, const std::wstring* target,
                      bool delete_later) override {
    return session_.extract_member(name, report_error, force, target, delete_later);
  }
  int create_setup_dialog() override { return session_.create_setup_dialog(); }
  std::wstring get_setting(const std::wstring& section, const std::wstring& key,
                           const std::wstring& default_value) override {
    return session_.get_setting(section, key, default_value);
  }
  bool locate_package(std::wstring& package_path) override { return session_.locate_package(package_path); }
  int ask_reboot() override { return session_.ask_reboot(); }
  void append_relaunch_switches(std::wstring& command_line) override {
    session_.append_relaunch_switches(command_line);
  }
  std::wstring get_origin_text() override { return session_.get_origin_text(); }
  bool is_click_once() override { return session_.is_click_once(); }
  void schedule_reboot(bool flag) override { session_.schedule_reboot(flag); }
  void set_status_text(const std::wstring& text) override { session_.set_status_text(text); }
  bool stream_contains(const std::wstring& name) override { return session_.stream_contains(name); }
  void attach_status_window(HWND main_text, HWND status) override { session_.attach_status_window(main_text, status); }
  int reserved() override { return session_.reserved(); }
  std::wstring strip_relaunch_switches(const std::wstring& command_line) override {
    return session_.strip_relaunch_switches(command_line);
  }

 private:
  bool needs_elevation_now(bool some_not_limited);

  CSetupPrereqMgrCallback& session_;
  PrerequisiteHooks hooks_;
  prq::PrereqSystem* system_;
  std::map<int, PrerequisiteEntry> entries_;
};
