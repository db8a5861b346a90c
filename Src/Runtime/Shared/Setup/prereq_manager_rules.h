// portable
// The pure rules of the prerequisite manager and its installation sequence: the
// feature filter, the resume index and command line kept for a restart, the
// elevated copy's parameters and answer, the restart step after a run, and the
// transform list of the advertisement.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace prq {

// Some name is in both lists (exact names).
bool features_match(std::vector<std::wstring> listed, std::vector<std::wstring> requested);

// The resume index as RegisterResume writes it: an optional minus and decimal
// digits, blanks around them allowed. Anything else is no resume point (-1), so a
// damaged value cannot skip a prerequisite; a number beyond the int range is cut
// to it.
int parse_resume_index(std::wstring_view text);

// The command line that restarts setup after the restart: `saved` (session value
// 18) when given, else the process's own line. A line the session could strip of
// the relaunch-only switches is that stripped line, which begins with the first
// launcher's path; one it left unchanged (the launcher was not relaunched from a
// temporary copy) begins with this launcher's. Either way the program path is
// quoted, with the launcher's folder in front of a bare file name, so that a path
// with blanks still starts the program.
struct ResumeLineInput {
  std::wstring saved;
  std::wstring process_line;
  std::wstring stripped;  // strip_relaunch_switches of the trimmed process line
  std::wstring launcher_path;
  std::wstring first_launcher_path;
};
std::wstring resume_command_line(const ResumeLineInput& in);
// The program path of `line` quoted as above (the "not relaunched" case).
std::wstring quote_program_path(std::wstring_view line, std::wstring_view launcher_path);

// `relaunch_switches` then " /runprerequisites\"FEATURES\"" and, with a log path,
// " /debuglog\"PATH\"".
std::wstring elevated_parameters(std::wstring_view relaunch_switches, std::wstring_view features,
                                 std::wstring_view debug_log);

// Sequence results.
inline constexpr int kSequenceCarryOn = 0;
inline constexpr int kSequenceRestart = 7;
inline constexpr int kSequenceStop = 9;
// The elevated pass's exit code as the sequence's result: 0 carry on, 7 and 7003
// (a restart it asks for) restart, anything else stop.
int elevated_result(uint32_t exit_code);

// What the sequence does after a run, by the `Reboot` action and whether the run
// found a restart needed.
enum class RestartStep {
  kCarryOn,
  kEndForRestart,      // return 7
  kAskThenEnd,         // ask string 1668 (Yes restarts now), return 7
  kRestartNowThenEnd,  // restart, return 7
  kLaterThenCarryOn,   // host command 6 or schedule_reboot, carry on
};
RestartStep restart_step(int reboot_action, bool restart_needed);

// The TRANSFORMS property of an installer command line: the text after
// "TRANSFORMS=", trimmed, up to the closing quote of a quoted value or the next
// blank, trimmed again; empty without the property.
std::wstring transform_list(std::wstring_view command_line);

}  // namespace prq
