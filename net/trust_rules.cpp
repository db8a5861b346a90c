// portable
#include "net/trust_rules.h"

#include "support/error_codes.h"

namespace trust_rules {
namespace {

std::wstring trim_blanks(const std::wstring& s) {
  const size_t b = s.find_first_not_of(L' ');
  if (b == std::wstring::npos) return {};
  return s.substr(b, s.find_last_not_of(L' ') - b + 1);
}

bool ends_in_silent_switch(const std::wstring& s) {
  const size_t n = s.size();
  return n >= 2 && (s[n - 2] == L'/' || s[n - 2] == L'-') && (s[n - 1] == L's' || s[n - 1] == L'S');
}

bool has_outer_blank(const std::wstring& s) { return s.empty() || s.front() == L' ' || s.back() == L' '; }

}  // namespace

SignatureCommand parse_signature_command(const std::wstring& text) {
  SignatureCommand out;
  if (text.size() <= 3) return out;
  const size_t slash = text.find(L'/', 3);
  if (slash == std::wstring::npos) return out;
  out.file = trim_blanks(text.substr(3, slash - 3));
  std::wstring certificate = slash + 3 <= text.size() ? text.substr(slash + 3) : std::wstring();
  certificate = trim_blanks(certificate);
  if (ends_in_silent_switch(certificate)) {
    out.silent = true;
    certificate = trim_blanks(certificate.substr(0, certificate.size() - 2));
  }
  out.certificate = certificate;
  out.valid = !out.file.empty() && !out.certificate.empty();
  return out;
}

std::wstring signature_command_line(const std::wstring& launcher, const std::wstring& file,
                                    const std::wstring& certificate, bool silent) {
  // The child splits at the first slash after the file and drops outer blanks, and
  // without " /s" a certificate ending in "-s" would read as the silent form.
  if (launcher.empty() || has_outer_blank(file) || has_outer_blank(certificate) ||
      file.find(L'/') != std::wstring::npos || (!silent && ends_in_silent_switch(certificate)))
    return {};
  // The launcher's own path is quoted when it holds a blank: unquoted, the system
  // would try "C:\Program" and the like first.
  std::wstring line = launcher.find(L' ') == std::wstring::npos ? launcher : L"\"" + launcher + L"\"";
  line += L" /g " + file + L" /g " + certificate;
  if (silent) line += L" /s";
  return line;
}

Failure failure_of(int verdict, bool silent) {
  if (silent) return {err::kNotTrusted, 0};
  return {verdict, err::kNotTrusted};
}

std::wstring shown_name(const std::wstring& path) {
  const size_t b = path.rfind(L'\\');
  return b == std::wstring::npos ? path : path.substr(b + 1);
}

}  // namespace trust_rules
