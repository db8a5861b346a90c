// Provisional body of the script engine bridge: no engine library is ever
// loaded, so every call into it fails with the result code of a library that
// cannot be loaded (1670, logged), and a resume, removal or installation that
// never ran is no success. The bridge replaces this file.
#include "QzMsiHelper.h"

#include "session.h"
#include "support/debuglog.h"
#include "support/error_codes.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\QzMsiHelper";

std::wstring QzMsiHelper::default_location(const std::wstring& launcher_path) {
  return zpath(launcher_path).folder().join(L"QZSetup.dll");
}

bool QzMsiHelper::locate_engine(Session& session, std::wstring* path) {
  *path = zpath(session.launcher_folder()).join(L"QZSetup.dll");
  return qz::PathExists(*path, qz::kPathFile);
}

bool QzMsiHelper::extract_runtime_files(Session&, const std::wstring&, std::wstring* folder) {
  folder->clear();
  return true;
}

QzMsiHelper::QzMsiHelper(const std::wstring& library) : path_(library) {
  QZ_LOG(L"Script engine bridge not available, library %s not loaded", library.c_str());
  QZ_LOG(L"Failed to load QZSetup.dll");
  qzproc::set_exit_code(err::kEngineNotLoaded);
}

QzMsiHelper::~QzMsiHelper() = default;

bool QzMsiHelper::initialise() { return false; }
int QzMsiHelper::run_setup(Session&, const std::wstring&) { return 0; }
int QzMsiHelper::run_from_settings(const std::wstring&) { return 0; }
int QzMsiHelper::major_upgrade_removal(const std::wstring&, int, int, const std::wstring&) { return 0; }
