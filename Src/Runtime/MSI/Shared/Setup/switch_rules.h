// portable
// The text rules of the launcher's command line: numbers, quoting of recorded
// switches, the relaunch switch texts and password masking. Pure functions over
// memory so they can be tested and fuzzed natively.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace switch_rules {

// Capacity of the setup password, terminator included: longer input is cut.
constexpr size_t kPasswordCapacity = 100;
// Capacity of the temporary-folder text, terminator included: longer input is refused.
constexpr size_t kTempFolderCapacity = 1024;
// The one rule for every temporary-folder text (the /e folder, the folder the entry
// chooses or is given, the folder a resume cleans up): it fits with its terminator.
// A cut text would name another folder, which the clean-up would then remove.
inline bool fits_temp_folder(std::wstring_view folder) { return folder.size() < kTempFolderCapacity; }

// Instance choices kept by the session.
constexpr int kInstanceDefault = -1;
constexpr int kInstanceInvalid = -3;
constexpr int kInstanceAsk = -4;

// A language id: hexadecimal after a leading "0x" (either case), else the leading
// decimal digits (0 when none). Only the low 16 bits are kept.
uint16_t parse_language_id(std::wstring_view text);

// wcstol-like: an optional sign, then hexadecimal after "0x" (either case), else
// decimal; stops at the first invalid character; 0 when no digit. Decimal
// saturates at the int range; unsigned hexadecimal spans all 32 bits
// ("0xFFFFFFFF" is -1).
int parse_int_text(std::wstring_view text);

// An optional sign and leading decimal digits (0 when none), saturated at the int range.
int parse_decimal_text(std::wstring_view text);

// The value after "instance=": "default" (any case) → -1, a decimal number → that
// number, anything else (including numbers beyond the int range) → -3.
int parse_instance_choice(std::wstring_view value);

// Text of a bool setting: "Yes", "Y", "1" or "True" in any case.
bool setting_is_true(std::wstring_view text);

// Doubles nothing, escapes each double quote as backslash + double quote and
// encloses the result in double quotes.
std::wstring quote_value(std::wstring_view text);

// " <switch>" or " <switch><text>" as recorded for a relaunched copy: the text is
// quoted when forced, when it contains a blank or a double quote, or when it
// contains "=" and the switch is "/z".
std::wstring relaunch_switch_text(std::wstring_view sw, std::wstring_view text, bool force_quotes);

// The same switch as handed to the script engine: quoted when forced or when it
// contains a blank or a double quote.
std::wstring engine_switch_text(std::wstring_view sw, std::wstring_view text, bool force_quotes);

// Whether a recorded switch also goes to the script engine's command line.
// `script_driven_is_3` is asked only when the answer depends on it.
bool switch_goes_to_engine(std::wstring_view sw, const std::function<bool()>& script_driven_is_3);

// Begins with a drive letter and colon or with two backslashes.
bool is_absolute_folder(std::wstring_view folder);

// The command line of a relaunched copy with the relaunch-only switches removed:
// when it holds "/QZ_temp", drops it and "tempdisk1folder", "runfromtemp", "eprq"
// and "q", rejoins the rest with blanks and replaces each occurrence of
// `launcher_path` by the (unquoted) value of "q". Unchanged without "/QZ_temp".
std::wstring strip_relaunch_switches(const std::wstring& command_line, const std::wstring& launcher_path);

struct RelaunchSwitches {
  bool remove_as_major_upgrade = false;
  std::wstring launcher_path;
  std::wstring unc_path;
  uint16_t language = 0;
  std::wstring password;
};
// The switches a relaunched copy needs: " /Q\"path\"" and " /unc\"path\"" for a
// major-upgrade removal, " /l<decimal>" when a language is chosen, " /p\"password\""
// when one was given.
std::wstring relaunch_switches_text(const RelaunchSwitches& s);

}  // namespace switch_rules
