// The prerequisite pass (chainsetup) as the entry starts it: the setup driver's
// pass and, when that succeeds, its advertisement step.
#include "prerequisite_pass.h"

#include "support/debuglog.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\prerequisite_pass";

#ifdef QZ_PREREQUISITES
int run_prerequisite_pass(QzSetup& setup, const std::wstring& features) {
  // Seam: the setup driver has no prerequisite pass yet. Once it has, this becomes
  //   int r = setup.run_prerequisites(features); if (r == 0) setup.advertise(); return r;
  QZ_LOG(L"The prerequisite pass is not available in this build");
  return ERROR_CALL_NOT_IMPLEMENTED;
}
#endif
