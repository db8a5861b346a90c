// portable
// The entry point's text rules, kept apart from its system calls: one-shot
// commands, the clone's command line, return-code settings, the removal value
// and the companion files a parent copies.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace entry {

enum class OneShot { kNone, kMsiexec, kRestart, kSignature };
struct OneShotCommand {
  OneShot kind = OneShot::kNone;
  std::wstring text;  // msiexec: its command line; restart: the text after the two switch characters
};
// The command selected by the second character of a text that begins with a
// switch character (only when the process has an argument after its path).
// `msiexec` is the full path of the program the percent command starts (quoted).
OneShotCommand one_shot_command(const std::wstring& text, bool has_arguments, const std::wstring& msiexec);

// True when text begins with a switch character followed by Q (either case).
bool names_first_launcher(const std::wstring& text);

// Argument 0 of a process command line as the shell's splitter reads it (up to the
// next quote when it begins with one, else up to the first blank or tab), and
// whether any argument follows it.
struct LeadingArgument {
  std::wstring program;
  bool more = false;
};
LeadingArgument leading_argument(const std::wstring& command_line);

// A program path as the first token of a command line: quoted when it holds a blank.
std::wstring program_token(const std::wstring& path);

struct CloneCommand {
  std::wstring program;         // the copy in the temporary folder
  std::wstring first_launcher;  // the copy the user started
  std::wstring temp_folder;
  bool eprq = false;     // prerequisite pass
  bool qz_temp = false;  // this launcher did not itself run from a temporary copy
  std::wstring unc;        // UNC form of the first launcher's folder, or ""
  std::wstring debug_log;  // log path to pass on, or "" when the switch was not given
};
// `%s /q"%s" /tempdisk1folder"%s"` and the optional switches, in that order.
std::wstring clone_command_line(const CloneCommand& c);

// Tails of the clone's command line for the two cases.
std::wstring wait_tail(const std::wstring& rest);
std::wstring no_wait_tail(const std::wstring& rest);

// "Y" or "y" exactly.
bool is_yes(const std::wstring& text);
// CustomRetCodeOnSuccess/OnFail: empty → -1, "0x…" hexadecimal, else decimal
// (leading digits); the 32-bit pattern of the number.
int32_t return_code_setting(const std::wstring& text);

// The removal value "code;n;n[;text]" split into four parts, or false.
bool split_removal_value(const std::wstring& value, std::vector<std::wstring>* parts);
// Leading decimal digits (with an optional sign) as an integer, 0 when none.
int32_t leading_decimal(const std::wstring& text);

// The copy's file name: the last component of argument 0, ".exe" added when it
// has no extension.
std::wstring copy_name(const std::wstring& argv0);

// A name that stays inside the folder it is joined to: not empty, no folder
// separators or drive, not "." or "..".
bool is_plain_file_name(const std::wstring& name);

struct LanguageFile {
  std::wstring ini;  // the entry as written with ".ini"
  std::wstring mst;  // the entry read as hexadecimal, at least four decimal digits, ".mst"
};
// The files of each `Supported` entry (split at commas, blanks trimmed, empty
// entries and entries that are not plain file names skipped).
std::vector<LanguageFile> language_files(const std::wstring& supported);

}  // namespace entry
