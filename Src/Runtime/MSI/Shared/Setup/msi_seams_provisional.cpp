// Provisional bodies of the launch's seams (see msi_seams.h): signatures are not
// compared; no engine library. The initialisation dialog's seams live with it.
#include "msi_seams.h"

#include "msi_checks.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\msi_seams";

namespace {
constexpr int kEngineNotLoaded = 1670;
}

int engine_library_not_loaded(const std::wstring& library) {
  QZ_LOG(L"Script engine bridge not available, library %s not loaded", library.c_str());
  QZ_LOG(L"Failed to load QZSetup.dll");
  qzproc::set_exit_code(kEngineNotLoaded);
  return kEngineNotLoaded;
}

bool package_signer_matches(Session&, const std::wstring&, const std::wstring&) {
  QZ_LOG(L"Signer comparison is not available in this build: nothing compared");
  return true;
}

std::wstring extract_script_runtime_files(Session&) { return std::wstring(); }

bool locate_engine_library(Session& session, std::wstring* path, std::wstring* tried) {
  *tried = zpath(session.launcher_folder()).join(L"QZSetup.dll");
  if (!qz::PathExists(*tried, qz::kPathFile)) return false;
  *path = *tried;
  return true;
}

// Fails as a library that cannot be loaded does, and says so to the user.
bool run_engine_install(Session& session, const std::wstring& library, const std::wstring&, int*) {
  msi_report_message(session, static_cast<unsigned>(engine_library_not_loaded(library)), library);
  return false;
}

int install_feature_prerequisites(Session&, const std::wstring&) { return 0; }
