// System restart.
#include "support/handles.h"
#include "support/utils.h"

namespace qz {
namespace {
bool (*g_reboot_hook)() = nullptr;

// Enables the shutdown privilege of the process token; ExitWindowsEx needs it.
bool enable_shutdown_privilege() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) return false;
  file_handle token(raw);
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid)) return false;
  // Succeeds with ERROR_NOT_ALL_ASSIGNED when the token lacks the privilege.
  return AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr) && GetLastError() == ERROR_SUCCESS;
}

}  // namespace

void set_reboot_hook(bool (*hook)()) { g_reboot_hook = hook; }

bool RebootSystem() {
  if (g_reboot_hook) return g_reboot_hook();
  enable_shutdown_privilege();  // the restart request below reports the failure that matters
  return !ExitWindowsEx(EWX_REBOOT, 0xFFFF);
}

}  // namespace qz
