// Provisional body of the prerequisite manager: no prerequisite is read or run,
// so every pass carries on. The prerequisite subsystem replaces this file.
#include "SetupPrereqMgr.h"

#include "support/debuglog.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\Shared\\Setup\\SetupPrereqMgr";

CSetupPrereqMgr::CSetupPrereqMgr(CSetupPrereqMgrCallback& session) : session_(session) {
  session_.set_resume_index(-1);
}

CSetupPrereqMgr::~CSetupPrereqMgr() = default;

int CSetupPrereqMgr::RunPrerequisites(int, const std::wstring& features, bool, MSIHANDLE*) {
  QZ_LOG(L"Prerequisites are not read in this build (features '%s')", features.c_str());
  return kCarryOn;
}

std::wstring CSetupPrereqMgr::transform_list() { return std::wstring(); }
