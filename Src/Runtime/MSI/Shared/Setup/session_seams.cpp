// Provisional bodies of the session operations that other parts own: the
// initialisation dialog (create_setup_dialog) and the session run of the setup
// driver. Each owner replaces its function here.
#include "session.h"

#include "support/debuglog.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\session_seams";

int Session::create_setup_dialog() { return 1; }

int Session::run() { return 1; }

