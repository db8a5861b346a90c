// The last action of a launch: turns the prepared session into a running Windows
// Installer installation (msiexec, the script engine library or the external
// user-interface library), or schedules it after a restart.
#pragma once
#include <windows.h>

#include <string>

#include "action.h"

class Session;

class MsiAction : public Action {
 public:
  static constexpr unsigned kStatusText = 1105;  // "Configuring Windows Installer"

  explicit MsiAction(Session& session);
  ~MsiAction() override;

  // Non-zero to continue the chain, 0 to stop it. The outcome of the installation
  // is the process-wide result code.
  int execute() override;

  // 0 when the launch is refused, 1 otherwise.
  int InstallMsi(const std::wstring& package_path);
  void Reboot(const std::wstring& properties);
  bool GetScriptMode();
  static void MergeLanguageTransform(const std::wstring& transform, std::wstring& properties);
  bool RedirectResumeEntries();
  void RemoveSessionTransforms(const FILETIME& start);

  int restart_pending() const { return restart_pending_; }

 private:
  bool try_billboards(const std::wstring& package, const std::wstring& properties, bool* done);
  void run_msiexec(const std::wstring& package, const std::wstring& command_line);
  Session& session() { return *session_; }

  int restart_pending_ = 0;
  int script_engine_ = 0;
  wchar_t wininet_version_[30] = {};
  int wininet_usable_ = 0;
};

// Constructs the action, runs it and hands its restart state to the session. True
// to continue.
bool run_msi_action(Session& session, int* restart_pending = nullptr);
// The driver chain's last step: run_msi_action, keeping the temporary files when
// the installation resumes after a restart. Non-zero: success. The test
// launchers can hold the run before it or stand in for its result.
int execute_msi_action(Session& session);
