// Provisional bodies of the session-run steps whose parts are still to come (the
// multiple-instance choice and the prerequisites). Each is replaced when its real
// implementation lands; until then the chain runs end to end with these.
#include <windows.h>

#include "QzSetup.h"
#include "run_steps.h"
#include "session.h"
#include "support/process_state.h"

// --- multiple instances ---
bool detect_instances(Session&) { return false; }
int choose_instance(Session&) { return kInstanceChosen; }

#ifdef QZ_PREREQUISITES
int run_prerequisites(Session&, int, const std::wstring&) { return 0; }

int QzSetup::run_prerequisites(const std::wstring&) {
  if (!session_ || !prepare_session(*session_)) return qzproc::exit_code();
  return 0;
}
int QzSetup::advertise() { return 0; }
#endif
