// portable
// The pure rules of running one prerequisite: what kind of file it runs, the
// command lines and parameters it gets, the options an in-process Windows
// Installer run takes from its command line, the exit codes and registry changes
// that mean a restart is needed, the installer's progress texts and the file
// checksum.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace prq {

// ---- the file that runs --------------------------------------------------------

enum class FileKind { kOther, kProgram, kInstallerPackage, kAppPackage };
// By its ending, compared case-sensitively: ".msix", ".msixbundle", ".appx",
// ".appxbundle" an app package, ".msi" an installer package, ".exe" a program.
FileKind file_kind(std::wstring_view execute_file);

// `returncodetoreboot` (decimal items split at ",") holds the code; without a
// list, 1641 and 3010 of an installer package.
bool is_reboot_exit_code(std::wstring_view reboot_codes, uint32_t exit_code, bool installer_package);

// ---- command lines -------------------------------------------------------------

struct LauncherNames {
  uint16_t ui_language = 0;
  std::wstring launcher_file_name;  // [SETUPEXENAME]
  std::wstring launcher_folder;     // [SETUPEXEDIR]
};
// Every "[ProductLanguage]", "[SETUPEXENAME]", "[SETUPEXEDIR]" and "[QZPREREQDIR]"
// replaced, in this order; `prerequisite_folder` gains a trailing backslash.
std::wstring resolve_command_line(std::wstring_view command_line, const LauncherNames& names,
                                  std::wstring_view prerequisite_folder);
// The folder with one trailing backslash.
std::wstring with_backslash(std::wstring_view folder);

// "install --id NAME --exact[ --version V][ PARAMETERS] --silent".
std::wstring package_manager_parameters(std::wstring_view name, std::wstring_view version, bool pinned_version,
                                        std::wstring_view parameters);
// "-prqmsix:install -QZ_temp -pkgname:\"PATH\"".
std::wstring app_package_parameters(std::wstring_view package_path);

// ---- in-process installer options ---------------------------------------------

// INSTALLUILEVEL values and INSTALLLOGATTRIBUTES bits.
inline constexpr uint32_t kUiNone = 2, kUiBasic = 3, kUiReduced = 4, kUiFull = 5;
inline constexpr uint32_t kUiHideCancel = 0x20, kUiProgressOnly = 0x40, kUiEndDialog = 0x80;
inline constexpr uint32_t kLogAppend = 1, kLogFlushEachLine = 2;
inline constexpr uint32_t kLogAll = 0xFDF;

struct InstallerOptions {
  uint32_t ui_level = kUiNone;
  bool logging = false;
  uint32_t log_mode = 0;
  uint32_t log_attributes = 0;
  std::wstring log_file;
  std::wstring command_line;  // what is left, trimmed, for the install call
};
// "/passive", "/q<letters>" and "/l<letters> FILE", each counted only at the start
// or after a blank (case-sensitive), taken out of the command line.
InstallerOptions installer_options(std::wstring_view command_line);

// ---- restart evidence ------------------------------------------------------------

struct RebootCounters {
  uint32_t run_once = 0;
  uint32_t run_once_ex = 0;
  uint32_t rename_entries = 0;
  uint32_t pending_rename_bytes = 0;
  uint32_t legacy_renames = 0;
};
// The message the first matching growth gives ("Reboot required - ..."), empty
// when nothing grew that counts. `ignore_renames`: new PendingFileRenameOperations
// entries are not evidence.
std::wstring pending_reboot_message(const RebootCounters& before, const RebootCounters& after, bool ignore_renames);
// The PendingFileRenameOperations value (UTF-16 multi-string bytes) holds, from
// byte `from` on, only deletions (an empty target) of files under `temp_folder`
// (each source after its four-character "\??\" prefix). False for no entries.
bool renames_only_under(const std::vector<uint8_t>& value, uint32_t from, std::wstring_view temp_folder);

// ---- installer messages -------------------------------------------------------

// "1: 0 2: 120 3: 0 4: 1" -> {"0", "120", "0", "1"}: the text after each numbered
// marker up to the next, trimmed of line feeds, tabs and blanks.
std::vector<std::wstring> progress_fields(std::wstring_view message);
// An action-start message's text after its first "." and the character after it.
std::wstring action_text(std::wstring_view message);

// ---- checksum --------------------------------------------------------------------

// The digest as 32 uppercase hexadecimal digits.
std::wstring digest_text(const uint8_t (&digest)[16]);
// `CheckSum` names this digest (case does not count).
bool checksum_matches(const uint8_t (&digest)[16], std::wstring_view checksum);

}  // namespace prq
