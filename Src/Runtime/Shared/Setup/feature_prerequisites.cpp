// The pass for prerequisites bound to features, which only chainsetup has: in a
// silent installation nobody picks features, so the features the installation
// will add are worked out first and their prerequisites installed before msiexec.
#include "feature_selection.h"

#include "SetupPrereqMgr.h"
#include "msi_library.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/error_codes.h"
#include "support/process_state.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\Shared\\Setup\\feature_prerequisites";

int install_feature_prerequisites(Session& session, const std::wstring& package_path) {
  MSIHANDLE installer = 0;
  const std::wstring features = BuildFeatureSelection(session, package_path, &installer);
  QZ_LOG(L"Installing silent prerequisites for features: %s", features.c_str());
  int result = CSetupPrereqMgr::kCarryOn;
  if (!features.empty()) {
    // The resume entry lets a pass that ends for a restart go on after it.
    result = session.prerequisite_manager().RunPrerequisites(0, features, true, &installer);
  }
  if (installer) qzmsi::CloseHandle(installer);
  if (result == CSetupPrereqMgr::kCarryOn) return 0;
  // As for the pass before feature selection: a restart left to others ends with
  // 3010 (one the waiting parent performs ends with 7002 later), and a stop whose
  // step left no reason must not end as a success.
  if (result == CSetupPrereqMgr::kRestartPending && session.get_value(kValueChildRebootRequested).empty())
    qzproc::set_exit_code(err::kRestartRequired);
  if (result == CSetupPrereqMgr::kStop && qzproc::exit_code() == 0) qzproc::set_exit_code(err::kPrerequisiteFailed);
  return result;
}
