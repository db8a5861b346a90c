#include "process_state.h"

#include "switch_rules.h"

namespace {
int g_exit_code = 0;
HINSTANCE g_module = nullptr;
std::wstring g_temp_folder;
LaunchSettings* g_settings = nullptr;
}  // namespace

namespace qzproc {
int exit_code() { return g_exit_code; }
void set_exit_code(int code) { g_exit_code = code; }
HINSTANCE module() { return g_module; }
void set_module(HINSTANCE module) { g_module = module; }
const std::wstring& temp_folder() { return g_temp_folder; }
bool set_temp_folder(const std::wstring& folder) {
  if (!switch_rules::fits_temp_folder(folder)) return false;
  g_temp_folder = folder;
  return true;
}
LaunchSettings* settings() { return g_settings; }
void set_settings(LaunchSettings* settings) { g_settings = settings; }

std::wstring own_file_name() {
  DWORD saved = GetLastError();
  wchar_t buf[1024];
  DWORD n = GetModuleFileNameW(g_module, buf, 1024);
  SetLastError(saved);
  return std::wstring(buf, n < 1024 ? n : 0);
}
}  // namespace qzproc
