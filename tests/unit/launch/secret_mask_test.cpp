// portable
#include "secret_mask.h"

#include <gtest/gtest.h>

namespace {
const secret_mask::Names kKnown{true, {}};
}

TEST(SecretMask, HidesTheValueAndKeepsTheRest) {
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
  for (const Row& r : rows) EXPECT_EQ(secret_mask::mask(r.in, kKnown), r.out) << r.in;
}

TEST(SecretMask, NoSplittingTrickLetsTheSecretThrough) {
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
    std::wstring m = secret_mask::mask(l, kKnown);
    EXPECT_EQ(m.find(L"SECRET"), std::wstring::npos) << m;
    EXPECT_EQ(m.find(L"SEC"), std::wstring::npos) << m;
  }
}

TEST(SecretMask, SwitchTokenForms) {
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
  for (auto& r : rows) EXPECT_EQ(secret_mask::mask(r.in, kKnown), r.out) << r.in;
}

// Property values in every form a logged line carries them: the launcher's and the
// copy's command lines (inside /v, quotes escaped), msiexec's, CmdLine, a
// property list.
TEST(SecretMask, SecretPropertiesOnceThePackageIsKnown) {
  const secret_mask::Names names{true, secret_mask::parse_hidden_list(L" QZSECRET ;;Other\t")};
  EXPECT_EQ(names.hidden, (std::vector<std::wstring>{L"QZSECRET", L"Other"}));
  struct { const wchar_t* in; const wchar_t* out; } rows[] = {
      {L"/s /v\"/qn QZSECRET=\\\"cmd secret\\\" DBPASSWORD=hunter2 QZPROP=visible\"",
       L"/s /v\"/qn QZSECRET=*** DBPASSWORD=*** QZPROP=visible\""},
      {L"\"C:\\W\\MSIEXEC.EXE\" /i \"C:\\p.msi\" /qn qzsecret=\"a b\" MyPwd=x TRANSFORMS=\"1033.mst\" OTHER=",
       L"\"C:\\W\\MSIEXEC.EXE\" /i \"C:\\p.msi\" /qn qzsecret=*** MyPwd=*** TRANSFORMS=\"1033.mst\" OTHER="},
      {L"/qn QZSECRET=\"a b\" AFTERREBOOT=1", L"/qn QZSECRET=*** AFTERREBOOT=1"},
      {L"-V\"Other=1\" /v\"SECRETX=2\"", L"-V\"Other=***\" /v\"SECRETX=2\""},
      {L"/l1033 /p\"pw\" /jm /s", L"/l1033 /p*** /jm /s"},
  };
  for (auto& r : rows) EXPECT_EQ(secret_mask::mask(r.in, names), r.out) << r.in;
}

// Before the package is read every property may be a hidden one; paths and
// switches holding "=" stay readable.
TEST(SecretMask, EveryPropertyWhileTheNamesAreUnknown) {
  const secret_mask::Names unknown;
  EXPECT_EQ(secret_mask::mask(L"C:\\a=b\\setup.exe /q\"C:\\x=y\\setup.exe\" /v\"/qn REBOOT=R A.B=1\" X=1 1A=2", unknown),
            L"C:\\a=b\\setup.exe /q\"C:\\x=y\\setup.exe\" /v\"/qn REBOOT=*** A.B=***\" X=*** 1A=2");
}

TEST(SecretMask, NoQuotingLetsASecretPropertyThrough) {
  const wchar_t* lines[] = {
      L"/v\"PWD=hunter2\"",
      L"/v\"/qn  PWD=\\\"a hunter2\\\"\"",
      L"PWD=\"a \"\"hunter2\"\" b\"",
      L"\"/vPWD=hunter2\"",
      L"/v\"/qn\tPWD=hunter2\"",
      L"/vPWD=hun\\\"ter2",
      L"/v\"A=1\" \"/vQZSECRET=hunter2\"",
      L"\"QZSECRET=hunter2\"",
      L"/i \"p\" QZSECRET=\"x\"hunter2",
  };
  for (bool known : {false, true}) {
    const secret_mask::Names names{known, {L"QZSECRET"}};
    for (const wchar_t* l : lines) {
      std::wstring m = secret_mask::mask(l, names);
      EXPECT_EQ(m.find(L"hun"), std::wstring::npos) << m;
    }
  }
}
