// The UI language of the launcher: choosing it, its texts from the string-table
// files "0x%04x.ini" with the string resources behind them, its name, dialog font,
// character set and code page, and the language transform.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "package/language_rules.h"

struct LaunchSettings;

lang::LanguageSets language_sets(const LaunchSettings& settings);
// True when `id` (perhaps replaced by a close supported language) is acceptable.
bool match_language(const LaunchSettings& settings, uint16_t& id);

// The user's, the system's and the system UI language of this machine.
lang::LanguageFacts system_language_facts();
// The UI language of a previous installation: switch l of the `UninstallString` of
// the uninstall key named by `InstallGUID` (else the product code), looked for in
// the package's own registry view first (settings.package_64bit), then in the
// other; 0 when none.
uint16_t previous_installation_language(LaunchSettings& settings);
// Chooses and stores the current language (see lang::choose_language); sets the
// command-line and previous-installation flags. `requested` is the installed
// product's language; when it is 0 and ScriptDriven is 4 the previous
// installation's language stands in for it.
uint16_t choose_language(LaunchSettings& settings, uint16_t requested);
uint16_t choose_language(LaunchSettings& settings, uint16_t requested, const lang::LanguageFacts& facts);

// The language's name: its string-table file (`Languages`), setup.ini (section of
// the language, then 0x0409), then the system's name.
std::wstring language_name(const LaunchSettings& settings, uint16_t language);
bool is_rtl_language(const LaunchSettings& settings, uint16_t language);
// The character set of the language's default ANSI code page.
BYTE language_charset(uint16_t language);
// The language's default ANSI code page (0 when it has none); *installed tells
// whether the language is an installed locale.
UINT language_code_page(uint16_t language, bool* installed);

std::wstring wizard_caption(const LaunchSettings& settings, bool force_generic);

// Results of the language dialog (ui/LanguageDlg.h).
constexpr HRESULT kLanguageDialogOk = 0;
constexpr HRESULT kLanguageDialogCancelled = static_cast<HRESULT>(0x80042000);

// The code-page step: logs the current language's code page; 0 when it is an
// installed locale, else 1208 and `text` holds the error message to show.
int check_code_page(const LaunchSettings& settings, std::wstring* text);

// What choosing the language transform needs from the session.
struct TransformHost {
  std::function<bool(const std::wstring& name)> stream_contains;
  // Extracts a member to the path (reporting errors, overwriting); false on failure,
  // also for an empty path (no temporary folder), which is reported as such.
  std::function<bool(const std::wstring& name, const std::wstring& path)> extract;
  std::function<void(uint32_t id, const std::wstring& value)> set_value;
  std::function<void(const std::wstring& sw, const std::wstring& text, bool quoted)> add_switch;
  std::wstring temp_folder;
  std::wstring source_folder;  // given on the command line; empty otherwise
  bool patch = false;
  int script_driven = 0;
};
// Chooses the language transform (session value 6). False only when the transform
// from the stream could not be extracted, or there is no temporary folder to
// extract it to (the launch stops).
bool select_transform(const LaunchSettings& settings, const TransformHost& host);
