// Provisional bodies of the session operations that other parts own: the
// session run of the setup driver. Its owner replaces it here.
#include "session.h"

#include "support/debuglog.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\session_seams";

int Session::run() { return 1; }

