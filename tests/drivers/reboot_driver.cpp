// Test driver: schedules the installation of a packed setup to resume after the
// next restart, as the launcher does when the engine asks for one, without
// restarting. The test then restarts the prefix itself.
//
//   reboot_driver <setup.exe> <temporary folder> <package name> <properties> [<debug log>]
//
// The temporary folder must hold the setup's setup.ini and the extracted package
// (a compressed setup's state at that point, whose session source folder is the
// temporary folder). With a debug log, the run after the restart writes one.
// Prints the RunOnce command.
#include <windows.h>

#include <cstdio>
#include <memory>

#include "msi_checks.h"
#include "msiaction.h"
#include "package/LaunchSettings.h"
#include "session.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 5 && argc != 6) {
    fwprintf(stderr, L"usage: reboot_driver <setup.exe> <temporary folder> <package name> <properties> [<debug log>]\n");
    return 2;
  }
  const std::wstring launcher = argv[1], temp = argv[2], package = argv[3], properties = argv[4];
  LaunchSettings settings;
  settings.silent = true;  // with /s and without /auto the restart follows without a question
  settings.ui_language = 1033;
  settings.setup_ini_path = zpath(temp).join(L"setup.ini");
  qzproc::set_settings(&settings);
  qzproc::set_temp_folder(temp);
  set_msi_settings_file_for_tests(settings.setup_ini_path);
  static bool restart_requested = false;
  qz::set_reboot_hook([] {
    restart_requested = true;
    return false;
  });

  Session session(GetModuleHandleW(nullptr), settings, launcher);
  session.set_launcher_path(launcher);
  session.set_package_mode(kPackageFromStream);
  session.set_source_folder(temp);  // as the extraction of setup.ini leaves it
  if (argc == 6) session.set_debug_log_path(argv[5]);
  session.set_value(kValuePackageName, package);
  MsiAction action(session);
  action.Reboot(properties);

  wchar_t command[4096] = {};
  DWORD bytes = sizeof(command) - sizeof(wchar_t);
  RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", L"QZSetup",
               RRF_RT_REG_SZ, nullptr, command, &bytes);
  wprintf(L"command=%ls\nrestart=%d\n", command, restart_requested ? 1 : 0);
  fflush(stdout);
  set_msi_settings_file_for_tests(L"");
  qzproc::set_settings(nullptr);
  return restart_requested ? 0 : 1;
}
