// The prerequisite manager of chainsetup: which prerequisites a launch needs, and
// their installation through the prerequisite dialog and sequence. The session
// owns one; it reaches the session through the callback interface. setup never
// makes one.
#pragma once
#include <windows.h>
#include <msi.h>

#include <string>

#include "package/SetupPrereqMgrCallback.h"

class CSetupPrereqMgr {
 public:
  // Results of RunPrerequisites.
  static constexpr int kCarryOn = 0;
  static constexpr int kStop = 2;            // cancelled, refused or failed
  static constexpr int kRestartPending = 7;  // setup ends now and resumes after the restart

  explicit CSetupPrereqMgr(CSetupPrereqMgrCallback& session);
  virtual ~CSetupPrereqMgr();
  CSetupPrereqMgr(const CSetupPrereqMgr&) = delete;
  CSetupPrereqMgr& operator=(const CSetupPrereqMgr&) = delete;

  // Dialog mode 0 installs at once, 1 waits for Install, 2 installs at once unless
  // elevation is needed. `features`: comma-separated, empty for the pass before
  // feature selection. `installer` (may be null): the running main installation's
  // handle, which the manager may close (then set to 0).
  int RunPrerequisites(int dialog_mode, const std::wstring& features, bool register_resume, MSIHANDLE* installer);
  // The TRANSFORMS property of the installer command line (for the advertisement).
  std::wstring transform_list();

 private:
  CSetupPrereqMgrCallback& session_;
};
