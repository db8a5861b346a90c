// Provisional body of the download manager: nothing can be downloaded, so a
// package that must come from the web fails cleanly with 1155 ("File %s not
// found" with its location). The download manager replaces this file.
#include "net/download.h"

#include "package/error_display.h"
#include "support/debuglog.h"
#include "support/error_codes.h"
#include "support/process_state.h"

static const wchar_t kLogSource[] = L"net\\download";

bool fetch_web_package(CSetupPrereqMgrCallback& session, const WebPackageRequest& request, std::wstring*) {
  QZ_LOG(L"Downloads are not available in this build (location type %d, '%s')", request.type,
         request.location.c_str());
  if (request.report_errors)
    report_error(session.get_launch_settings(), err::kFileNotFound, request.location);
  else
    qzproc::set_exit_code(err::kFileNotFound);
  return false;
}
