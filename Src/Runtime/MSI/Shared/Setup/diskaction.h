// The second step of a normal run: a temporary location with room for the whole
// stream, the extraction of setup.ini and the string tables, the launch settings
// and session values from setup.ini, and the Windows Installer engine version.
#pragma once
#include <cstdint>
#include <string>

#include "action.h"

class DiskAction : public Action {
 public:
  explicit DiskAction(Session& session);
  // 1 success, 0 failure (the exit code holds the reason). Succeeds at most once
  // per process; later calls return 1 at once.
  int execute() override;
};

// Free space of the volume that holds `path`, in KB (at most 0x7FFFFFFF).
bool free_space_kb(const std::wstring& path, uint32_t* kb);
// A file "_MSI5166._QZ" can be created exclusively in the folder, closed and deleted.
bool folder_writable(const std::wstring& folder);
// Where the run extracts, when it has its temporary folder (`run_folder`): that
// folder, when it has more than need_kb KB free and can be written. Without one,
// the first candidate (system temporary folder, Windows folder, fixed drives C:
// and D:) that does. Empty when none.
std::wstring find_temporary_location(uint64_t need_kb, const std::wstring& run_folder = std::wstring());

// Loads the session's profile from the launch settings' setup.ini path and the
// session values from it (package name, engine version, upgrade policy, codes,
// installer command line, billboard type, mode, .NET version). False: a required
// value is missing (logged); the caller reports 1153.
bool load_session_values(Session& session);

// The DWORD CSDVersion of the system (the service-pack level), or -1 when its key
// cannot be opened.
int64_t system_csd_version();

// Test hook: forget that a DiskAction has succeeded in this process.
void reset_disk_action_for_tests();
