// portable
// Reading setup.ini's `Startup` and `Languages` keys into the launch settings,
// over a document already parsed by inifilex, and the small value rules the
// on-demand readers share. No file or system access here.
#pragma once
#include <functional>
#include <string>
#include <string_view>

struct LaunchSettings;

namespace qz {
class inifilex;
}

namespace settings_rules {

// Text given for ErrorReportURL when setup.ini names none.
extern const wchar_t kDefaultErrorReportUrl[];
// Built-in LauncherName.
extern const wchar_t kDefaultLauncherName[];

// Reads the keys into the settings. `all_users_default` is what AllUsers means
// when absent (whether the process holds the administrators group). When
// ScriptDriven is present and not 4 only ScriptDriven, Product and ProductCode
// of Startup are read (the Languages keys always are), the lists through
// lang::parse_language_list and lang::is_all_languages.
void apply_launch_settings(LaunchSettings& settings, qz::inifilex& doc, bool all_users_default);

// The on-demand integer rule: empty text gives the default, anything else is
// read by wcstol rules in the radix (stopping at the first invalid character).
int setting_int(std::wstring_view text, int default_value, int radix);
// Keys whose value never reaches the debug log.
bool is_secret_key(std::wstring_view key);
// True when `expanded`, the environment expansion of the CmdLine `text` that
// `expand` (the system's expansion) makes, holds only the double quotes the text
// itself holds: each stretch between the text's quotes expands to text without
// one, and together they give `expanded`. Otherwise a variable brought a quote,
// or a quote stood inside a variable reference, and the property list would end
// up other than the author wrote it.
bool expansion_keeps_quotes(const std::wstring& text, const std::wstring& expanded,
                            const std::function<std::wstring(const std::wstring&)>& expand);
// ClickOncePackage: not empty and not beginning with a blank.
bool is_click_once(std::wstring_view value);
// OnUpgrade (1 ask / do not ask when silent or auto, 2 do not ask, else skip)
// turned into the upgrade policy: 0 ask, 1 do not ask, 2 skip.
int upgrade_policy(int on_upgrade, bool silent_or_auto);

}  // namespace settings_rules
