// The session's side of the prerequisite subsystem, which only chainsetup has:
// this file is built once per deliverable (QZ_PREREQUISITES).
#include "session.h"

#include "SetupPrereqMgr.h"

bool Session::recognises_prerequisite_switches() const {
#ifdef QZ_PREREQUISITES
  return true;
#else
  return false;
#endif
}

#ifdef QZ_PREREQUISITES
CSetupPrereqMgr& Session::prerequisite_manager() {
  if (!prereq_mgr_) prereq_mgr_ = std::make_unique<CSetupPrereqMgr>(*this);
  return *prereq_mgr_;
}
#endif
