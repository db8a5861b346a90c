// portable
// The text rules of the signature checks, kept apart from WinTrust: the child
// launcher's "/g <file> /g <certificate>[/s]" command in both directions, and what
// a failed check leaves as the result code and message.
#pragma once
#include <string>

namespace trust_rules {

struct SignatureCommand {
  bool valid = false;  // false: no file or no certificate could be read from the text
  std::wstring file;
  std::wstring certificate;
  bool silent = false;  // the text ended in /s or -s: no question to the user
};
// Reads the whole one-shot text (it begins with the switch character and G). The
// file runs from the fourth character to the next slash, the certificate from
// three characters after that slash to the end; blanks around either are dropped.
SignatureCommand parse_signature_command(const std::wstring& text);

// "<launcher> /g <file> /g <certificate>" with " /s" for a silent check, the paths
// unquoted. Empty when the child could not read `file` back (it holds a slash, or
// either path is empty or ends the text ambiguously).
std::wstring signature_command_line(const std::wstring& launcher, const std::wstring& file,
                                    const std::wstring& certificate, bool silent);

struct Failure {
  int result_code;  // what the process's result code becomes
  int message;      // the numbered message reported, 0 for none
};
// A verdict other than 0 from an in-process or child check. Silent runs end with
// 1621 and show nothing; others keep the verdict as the result code (a child that
// never started leaves the launcher's value for that) and report message 1621,
// the one text a trust failure has.
Failure failure_of(int verdict, bool silent);

// The part after the last backslash (the whole path when it has none).
std::wstring shown_name(const std::wstring& path);

// Serialized certificate elements are a few kilobytes; anything larger than this
// is not read.
inline constexpr size_t kMaxCertificateBytes = 64 * 1024;

}  // namespace trust_rules
