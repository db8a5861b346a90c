// Running one prerequisite whose files are in place: a program (or a package by
// its file association) through the shell, a Windows Installer package in-process
// with its own progress, an app package through the helper, a package-manager
// package through its client. The run reports whether setup may go on; the exit
// code and the evidence that a restart is needed stay with the prerequisite.
#pragma once
#include <cstdint>
#include <string>

#include "SetupPreRequisite.h"
#include "prereq_command_rules.h"

class PrerequisiteExecution {
 public:
  explicit PrerequisiteExecution(CSetupPreRequisite& prerequisite) : p_(prerequisite) {}

  // Runs it from `folder`; `silent` for a silent or automatic launch. False only
  // when setup must stop: a package whose user cancelled it that is not optional.
  bool ExecutePrerequisite(const std::wstring& folder, bool silent);
  // The program's exit code; 0 when nothing could be started (the conditions then
  // decide), 50 for an app package on a system without them.
  uint32_t ExecuteGenericPrerequisite(const std::wstring& folder, bool silent);
  uint32_t ExecuteMsiWithProgress(const std::wstring& folder, bool silent);

  // The command line with the launcher's and the prerequisite's placeholders
  // filled (by the host window when one formats for the prerequisite).
  std::wstring ResolveCommandLine(const std::wstring& command_line);
  bool IsRebootExitCode(uint32_t exit_code) const;
  void RecordRebootState();
  bool DetectPendingReboot();

  uint32_t exit_code() const { return exit_code_; }

 private:
  std::wstring chosen_command_line(bool silent);

  CSetupPreRequisite& p_;
  prq::RebootCounters snapshot_;
  uint32_t exit_code_ = 0;
};
