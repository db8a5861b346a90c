// portable
#include "net/trust_rules.h"

#include <gtest/gtest.h>

#include "support/error_codes.h"

using namespace trust_rules;

TEST(TrustRules, SignatureCommandSplitsFileCertificateAndSilentEnd) {
  struct Row {
    const wchar_t* text;
    bool valid;
    const wchar_t* file;
    const wchar_t* certificate;
    bool silent;
  } rows[] = {
      {L"/g C:\\t\\pkg.msi /g C:\\t\\signer.cer", true, L"C:\\t\\pkg.msi", L"C:\\t\\signer.cer", false},
      {L"/G C:\\a b\\pkg.msi /g C:\\t\\c d.cer /s", true, L"C:\\a b\\pkg.msi", L"C:\\t\\c d.cer", true},
      {L"-g x.msi /g cert-S", true, L"x.msi", L"cert", true},  // silent by its last two characters alone
      {L"/g x.msi /g cert/S  ", true, L"x.msi", L"cert", true},
      {L"/g x.msi /g cert-s.cer", true, L"x.msi", L"cert-s.cer", false},
      {L"/g x-y.msi -g cert", false, L"", L"", false},  // no slash: no certificate
      {L"/g x.msi /g /s", false, L"x.msi", L"", true},
      {L"/g /g cert", false, L"", L"cert", false},
      {L"/g x.msi /", false, L"x.msi", L"", false},
  };
  for (const Row& r : rows) {
    SignatureCommand c = parse_signature_command(r.text);
    EXPECT_EQ(c.valid, r.valid) << r.text;
    EXPECT_EQ(c.file, r.file) << r.text;
    EXPECT_EQ(c.certificate, r.certificate) << r.text;
    EXPECT_EQ(c.silent, r.silent) << r.text;
  }
}

TEST(TrustRules, ChildCommandReadsBackOrIsRefused) {
  struct Row {
    const wchar_t* launcher;
    const wchar_t* file;
    const wchar_t* certificate;
    bool silent;
    const wchar_t* line;  // "" refused
  } rows[] = {
      {L"C:\\T\\setup.exe", L"C:\\T\\p.msi", L"C:\\T\\s.cer", false, L"C:\\T\\setup.exe /g C:\\T\\p.msi /g C:\\T\\s.cer"},
      {L"C:\\Program Files\\setup.exe", L"C:\\a b\\p.msi", L"C:\\T\\s.cer", true,
       L"\"C:\\Program Files\\setup.exe\" /g C:\\a b\\p.msi /g C:\\T\\s.cer /s"},
      {L"C:\\T\\setup.exe", L"C:\\T\\my-s", L"C:\\T\\cert-s", true, L"C:\\T\\setup.exe /g C:\\T\\my-s /g C:\\T\\cert-s /s"},
      {L"C:\\T\\setup.exe", L"C:/T/p.msi", L"C:\\T\\s.cer", false, L""},  // the child would stop at the slash
      {L"C:\\T\\setup.exe", L"C:\\T\\p.msi", L"C:\\T\\cert-s", false, L""},  // would read as silent
      {L"C:\\T\\setup.exe", L"C:\\T\\p.msi ", L"C:\\T\\s.cer", false, L""},
      {L"C:\\T\\setup.exe", L"C:\\T\\p.msi", L"", true, L""},
  };
  for (const Row& r : rows) {
    const std::wstring line = signature_command_line(r.launcher, r.file, r.certificate, r.silent);
    EXPECT_EQ(line, r.line) << r.file;
    if (line.empty()) continue;
    // What the child gets is the text after its own path.
    const size_t own = line.find(L" /g ");
    SignatureCommand c = parse_signature_command(line.substr(own + 1));
    EXPECT_TRUE(c.valid);
    EXPECT_EQ(c.file, r.file);
    EXPECT_EQ(c.certificate, r.certificate);
    EXPECT_EQ(c.silent, r.silent);
  }
}

TEST(TrustRules, FailureKeepsTheVerdictOnlyWhenNotSilent) {
  struct Row {
    int verdict;
    bool silent;
    int result_code;
    int message;
  } rows[] = {
      {err::kNotTrusted, false, err::kNotTrusted, err::kNotTrusted},
      {err::kNotStarted, true, err::kNotTrusted, 0},
      {err::kNotStarted, false, err::kNotStarted, err::kNotTrusted},  // no message of its own to show
      {259, false, 259, err::kNotTrusted},                            // a child whose wait was broken off
  };
  for (const Row& r : rows) {
    Failure f = failure_of(r.verdict, r.silent);
    EXPECT_EQ(f.result_code, r.result_code) << r.verdict;
    EXPECT_EQ(f.message, r.message) << r.verdict;
  }
  EXPECT_EQ(shown_name(L"C:\\T\\sub\\pkg.msi"), L"pkg.msi");
  EXPECT_EQ(shown_name(L"pkg.msi"), L"pkg.msi");
}
