// Provisional web seam of the package location: this build has no download
// manager, so a package that must come from the web fails cleanly with 1155
// ("File %s not found" with its location), and nothing downloaded needs a second
// signer check. The download manager replaces this file.
#include "msi_checks.h"
#include "package_cache.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/process_state.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\package_download";

bool fetch_web_package(Session& session, const std::wstring&, const std::wstring& location, int type,
                       std::wstring*, bool, bool report_errors) {
  QZ_LOG(L"Downloads are not available in this build (location type %d, '%s')", type, location.c_str());
  qzproc::set_exit_code(1155);
  if (report_errors) msi_report_message(session, 1155, location);
  return false;
}

bool recheck_downloaded_package(Session&, const std::wstring&) { return true; }
