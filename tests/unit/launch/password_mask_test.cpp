// portable
#include "password_mask.h"

#include <gtest/gtest.h>

TEST(PasswordMask, HidesTheValueAndKeepsTheRest) {
  struct Row {
    const wchar_t* in;
    const wchar_t* out;
  } rows[] = {
      {L"/s /psecret /v", L"/s /p*** /v"},
      {L"/PSecret", L"/P***"},
      {L"-psecret", L"-p***"},
      {L"/p\"two words\" /s", L"/p*** /s"},
      {L"/p", L"/p"},
      {L"/s /v\"/qn\" /l1033", L"/s /v\"/qn\" /l1033"},
      {L"C:\\x\\setup.exe /q\"C:\\a b\\setup.exe\" /psecret /waitingforchildprocess",
       L"C:\\x\\setup.exe /q\"C:\\a b\\setup.exe\" /p*** /waitingforchildprocess"},
      {L"", L""},
  };
  for (const Row& r : rows) EXPECT_EQ(mask_password_in_command_line(r.in), r.out) << r.in;
}

TEST(PasswordMask, NoSplittingTrickLetsTheSecretThrough) {
  // Each line hands "SECRET" (or a text holding it) to the password switch under
  // the process argument splitter or the switch tokenizer.
  const wchar_t* lines[] = {
      L"\"/pSECRET\"",
      L"/\"p\"SECRET",
      L"/s\t/pSECRET",
      L"/s\t-PSECRET\t/v",
      L"a\\\" /pSECRET",
      L"\"a\\\\\" /pSECRET",
      L"/p\"SEC\"\"RET\" /s",
      L"/p\"SECRET",
      L"/pSE\\\"CRET",
      L"/v\"x\" /p\"a b SECRET\" /s",
      L"  /pSECRET  ",
  };
  for (const wchar_t* l : lines) {
    std::wstring m = mask_password_in_command_line(l);
    EXPECT_EQ(m.find(L"SECRET"), std::wstring::npos) << m;
    EXPECT_EQ(m.find(L"SEC"), std::wstring::npos) << m;
  }
}

TEST(PasswordMask, SwitchTokenForms) {
  struct { const wchar_t* in; const wchar_t* out; } rows[] = {
      {L"setup.exe /s /psecret /v\"/qn\"", L"setup.exe /s /p*** /v\"/qn\""},
      {L"-PSecret", L"-P***"},
      {L"/p\"my secret\" /s", L"/p*** /s"},
      {L"\"/psecret\"", L"\"/p***"},
      {L"a\t/psecret", L"a\t/p***"},  // tabs separate for the system splitter
      {L"/p /s", L"/p /s"},                // no value, nothing to hide
      {L"/p\"unterminated secret", L"/p***"},
      {L"/v\"/psecret\"", L"/v\"/psecret\""},  // inside another switch's value: not a /p token
      {L"  /pa  /pb ", L"  /p***  /p*** "},
  };
  for (auto& r : rows) EXPECT_EQ(mask_password_in_command_line(r.in), r.out) << r.in;
}
