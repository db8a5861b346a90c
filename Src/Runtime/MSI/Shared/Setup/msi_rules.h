// portable
// The pure rules of the Windows Installer launch: version texts, the property
// list and the msiexec command line for each launch mode, the language transform
// merge, the minor-upgrade properties, the upgrade decision, the post-restart
// command with its registry placeholders and the rewrite of resume entries.
// Kept free of Windows so every rule runs in the native tests.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace msi_rules {

// ---- versions -------------------------------------------------------------
struct Version {
  uint32_t part[4] = {0, 0, 0, 0};
};
// Up to four unsigned decimal numbers; any character that is not 0-9 separates
// them ("4,70,0,1300" equals "4.70.0.1300"); missing numbers count as 0 and a
// number too large for 32 bits saturates.
Version parse_version(std::wstring_view text);
// -1 when b is lower than a, 0 when equal, 1 when b is higher; null gives 0.
int compare_versions(const wchar_t* a, const wchar_t* b);
// The engine version that the embedded user interface needs.
inline constexpr wchar_t kMinimumEmbeddedUiEngine[] = L"4.05.0.0";

// ---- property-list tests --------------------------------------------------
bool contains(std::wstring_view text, std::wstring_view part);
// "/qn", "/qb" or "/quiet" at the start of the list or after a blank.
bool asks_for_silent_install(std::wstring_view properties);
// Any of "/qb", "/qn", "/quiet", "/passive" anywhere (the external UI then stays off).
bool suppresses_billboards(std::wstring_view properties);

// ---- script mode ------------------------------------------------------------
struct ScriptMode {
  int mode = 0;                  // 0..3; other values count as 0
  bool uses_script = false;      // what GetScriptMode answers
  bool engine_runs_install = false;  // mode 1: the engine library installs
  const wchar_t* log_text = nullptr; // null for values outside 0..3
};
ScriptMode script_mode(int script_driven);

// ---- minor upgrade ----------------------------------------------------------
// The properties a minor upgrade adds to the list, separated by blanks and without
// a leading blank; empty when the list already names all three.
std::wstring minor_upgrade_additions(std::wstring_view properties);
// Appends additions to the list with one blank between (none on an empty list).
void append_properties(std::wstring& properties, std::wstring_view additions);

// ---- language transform -----------------------------------------------------
// Adds transform to the TRANSFORMS property of the list (or adds the property).
// A transform already listed by its file name is not added twice. An unquoted
// value that would gain a blank is quoted, so msiexec still reads one property.
void merge_language_transform(std::wstring& properties, std::wstring_view transform);

// ---- the property list ------------------------------------------------------
struct PropertyListInput {
  std::wstring properties;          // session value 7
  std::wstring saved_properties;    // session value 17
  bool multiple_languages = false;
  bool started_after_restart = false;  // /c or /e on the command line
  int launch_mode = 0;
  std::wstring language_transform;  // session value 6
  std::wstring launcher_folder;     // full path, no trailing backslash
  std::wstring launcher_name;
  bool uses_script = false;         // GetScriptMode
  std::wstring script_command_line;
};
struct PropertyList {
  std::wstring properties;       // what msiexec gets after the package
  std::wstring setup_exe_values; // SETUPEXEDIR="…" SETUPEXENAME="…", forwarded as /v
};
PropertyList compose_property_list(const PropertyListInput& in);
// Splits a launcher path at its last backslash (or slash) into folder and name; a
// drive root keeps its backslash ("D:\").
void split_launcher_path(std::wstring_view path, std::wstring* folder, std::wstring* name);

// ---- command lines ----------------------------------------------------------
// "/i", "/a", "/f<letters>", "/j<letters>", "/x", "/p"; modes outside 0..5 are /i.
std::wstring msiexec_mode_switch(int launch_mode, std::wstring_view letters);
// "<program>" <mode> "<package>" <properties>: the program (msiexec's full path)
// and the package always quoted, the properties exactly as composed.
std::wstring msiexec_command_line(std::wstring_view program, int launch_mode, std::wstring_view letters,
                                  std::wstring_view package, std::wstring_view properties);
// The longest command line CreateProcessW takes (characters, without terminator).
inline constexpr size_t kMaxCommandLine = 32766;
// The patch form handed to relaunched copies: /p "<package>" <properties>.
std::wstring patch_forward_value(std::wstring_view package, std::wstring_view properties);

// ---- upgrade check ----------------------------------------------------------
enum UpgradePolicy { kPolicyAsk = 0, kPolicyDoNotAsk = 1, kPolicySkip = 2 };
// From [Startup] OnUpgrade: 1 asks (unless silent or /auto), 2 does not ask, other skips.
int upgrade_policy(int on_upgrade, bool silent_or_auto);

struct UpgradeFacts {
  int policy = kPolicyAsk;
  int launch_mode = 0;
  std::wstring product_code;
  std::wstring package_code;     // the setup's own
  std::wstring product_version;  // the setup's own
};
struct UpgradeHooks {
  // The installed product's property; returns the installer status (0 success,
  // 126 when msi.dll or its entry point is missing).
  std::function<unsigned(const std::wstring& property, std::wstring* value)> product_info;
  // Message 1128 with the product name: true for Yes.
  std::function<bool(const std::wstring& product_name)> ask_upgrade;
  // Message 1129 with the product name.
  std::function<void(const std::wstring& product_name)> tell_later_version;
  std::function<void(const std::wstring& line)> log;
};
struct UpgradeOutcome {
  bool go_on = true;
  bool apply_minor_upgrade = false;
  int result = 0;  // when the run stops: err::kNewerVersionInstalled or err::kUserDeclined
};
// Decides the upgrade check; sets facts.policy to skip where the check says so.
// Patches, administrative installations, repairs and uninstalls are never checked:
// none of them may turn into an upgrade.
UpgradeOutcome decide_upgrade(UpgradeFacts& facts, const UpgradeHooks& hooks);

// ---- platform ---------------------------------------------------------------
// A summary template naming Intel64, x64 or AMD64 (any case) is a 64-bit package.
bool template_is_64bit(std::wstring_view template_text);

// ---- restart ------------------------------------------------------------------
struct RebootCommandInput {
  std::wstring launcher_path;
  int launch_mode = 0;
  std::wstring letters;
  unsigned language = 0;
  std::wstring source_folder;
  std::wstring temp_folder;
  std::wstring properties;  // P, before " AFTERREBOOT=1"
  bool compressed = false;
  std::wstring debug_log_path;
};
struct RebootCommand {
  std::wstring command;
  std::wstring properties;  // P'
};
RebootCommand compose_reboot_command(const RebootCommandInput& in);
// "" for 0, "/a", "/f<letters>", "/j<letters>", "/x", "/p".
std::wstring reboot_mode_part(int launch_mode, std::wstring_view letters);
// Replaces the value of the /t, /e and /v switches by its placeholder ("%QZ_T%"
// for the source folder, "%QZ_E%" for the temporary folder, "%QZ_V%" for P'), the
// first such switch of each; the registry holds the texts.
std::wstring apply_reboot_placeholders(std::wstring command, std::wstring_view source_folder,
                                       std::wstring_view temp_folder, std::wstring_view properties);
// The restart entry key that NoSuppressRebootKey selects: 0 RunOnce, 1 RunOnceEx,
// 2 Run; 3 and any other value: none (no entry; 3 also asks nothing).
const wchar_t* reboot_entry_key(int no_suppress_reboot_key);

// ---- resume entries -----------------------------------------------------------
// The Windows Installer's resume entry rewritten to start the launcher:
// "<launcher>" /% followed by the old data from its first blank. False when the
// old data holds no blank.
bool rewrite_resume_entry(std::wstring_view old_data, std::wstring_view launcher_path, std::wstring* new_data);

}  // namespace msi_rules
