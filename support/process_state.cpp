#include "support/process_state.h"

#include "support/debuglog.h"
#include "support/support_rules.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\process_state";

namespace {
int g_exit_code = 0;
bool g_cancelled = false;
HINSTANCE g_module = nullptr;
std::wstring g_temp_folder;
}  // namespace

namespace qzproc {
int exit_code() { return g_exit_code; }
void set_exit_code(int code) { g_exit_code = code; }
bool cancelled() { return g_cancelled; }
void set_cancelled(bool on) { g_cancelled = on; }
HINSTANCE module() { return g_module; }
void set_module(HINSTANCE module) { g_module = module; }
const std::wstring& temp_folder() { return g_temp_folder; }
bool set_temp_folder(const std::wstring& folder) {
  if (!qz::rules::fits_temp_folder(folder)) {
    // Cutting would name another folder.
    QZ_LOG(L"Temporary folder name longer than %d characters ignored", int(qz::rules::kTempFolderCapacity - 1));
    return false;
  }
  g_temp_folder = folder;
  return true;
}

std::wstring own_file_name() {
  DWORD saved = GetLastError();
  wchar_t buf[1024];
  DWORD n = GetModuleFileNameW(g_module, buf, 1024);
  SetLastError(saved);
  return std::wstring(buf, n < 1024 ? n : 0);
}
}  // namespace qzproc
