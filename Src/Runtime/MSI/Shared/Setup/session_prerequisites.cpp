// The session's side of the prerequisite subsystem, which only chainsetup has:
// this file is built once per deliverable (QZ_PREREQUISITES).
#include "session.h"

#include "SetupPrereqMgr.h"
#include "msi_rules.h"
#include "secret_mask.h"
#include "support/utils.h"
#include "test_hooks.h"

bool Session::recognises_prerequisite_switches() const {
#ifdef QZ_PREREQUISITES
  return true;
#else
  return false;
#endif
}

#ifdef QZ_PREREQUISITES
CSetupPrereqMgr& Session::prerequisite_manager() {
  if (!prereq_mgr_) {
    PrerequisiteHooks hooks;
    hooks.show_dialog = [this](SessionDialog* dialog) { set_prerequisite_dialog(dialog); };
    hooks.elevated = [] { return qz::IsElevatedAdministrator() && !test_hooks::limited_user(); };
    hooks.merge_transform = [](const std::wstring& command_line, const std::wstring& transform) {
      std::wstring merged = command_line;
      msi_rules::merge_language_transform(merged, transform);
      return merged;
    };
    hooks.loggable = [](const std::wstring& command_line) { return secret_mask::for_log(command_line); };
    prereq_mgr_ = std::make_unique<CSetupPrereqMgr>(*this, std::move(hooks));
  }
  return *prereq_mgr_;
}
#endif
