// Provisional bodies of the session operations that other parts own: the
// session run of the setup driver and the package location. Each owner replaces
// its function here.
#include "session.h"

#include "support/debuglog.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\session_seams";

int Session::run() { return 1; }

bool Session::locate_package(std::wstring& package_path) {
  QZ_LOG(L"Package location is not available in this build");
  package_path.clear();
  return false;
}
