// portable
#include "switch_rules.h"

#include <gtest/gtest.h>

#include "exit_code_rules.h"

#include <map>

using namespace switch_rules;

TEST(SwitchRules, LanguageIdHexOrDecimal) {
  struct { const wchar_t* text; uint16_t id; } rows[] = {
      {L"0x0407", 1031}, {L"1031", 1031}, {L"0X409", 0x409}, {L"", 0}, {L"abc", 0}, {L"12ab", 12},
      {L"0x", 0},        {L"0x1F40D", 0xF40D},  // only 16 bits kept
      {L"99999999999999999999", 0xFFFF},          // saturates, never overflows
  };
  for (auto& r : rows) EXPECT_EQ(parse_language_id(r.text), r.id) << r.text;
}

TEST(SwitchRules, IntTextFollowsWcstolWithFull32BitHex) {
  struct { const wchar_t* text; int value; } rows[] = {
      {L"0x7F", 127}, {L"127", 127}, {L"-3", -3}, {L"12x", 12}, {L"", 0}, {L"x", 0},
      {L"0xFFFFFFFF", -1}, {L"0xCCCCCCCC", static_cast<int>(0xCCCCCCCCu)},
      {L"99999999999", 2147483647}, {L"-99999999999", -2147483647 - 1},
  };
  for (auto& r : rows) EXPECT_EQ(parse_int_text(r.text), r.value) << r.text;
}

TEST(SwitchRules, DecimalTextIgnoresHexPrefix) {
  EXPECT_EQ(parse_decimal_text(L"3"), 3);
  EXPECT_EQ(parse_decimal_text(L"0x3"), 0);
  EXPECT_EQ(parse_decimal_text(L"-12z"), -12);
  EXPECT_EQ(parse_decimal_text(L"99999999999"), 2147483647);
}

TEST(SwitchRules, InstanceChoice) {
  struct { const wchar_t* text; int choice; } rows[] = {
      {L"default", -1}, {L"DeFault", -1}, {L"3", 3}, {L"0", 0}, {L"", -3},
      {L"abc", -3},     {L"3a", -3},      {L"-1", -3}, {L"99999999999", -3},
  };
  for (auto& r : rows) EXPECT_EQ(parse_instance_choice(r.text), r.choice) << r.text;
}

TEST(SwitchRules, RelaunchQuoting) {
  struct { const wchar_t* sw; const wchar_t* text; bool force; const wchar_t* out; } rows[] = {
      {L"/s", L"", false, L" /s"},
      {L"/s", L"", true, L" /s"},  // no value: the switch alone even when forced
      {L"/f2", L"C:\\log.txt", false, L" /f2C:\\log.txt"},
      {L"/f2", L"C:\\my log.txt", false, L" /f2\"C:\\my log.txt\""},
      {L"/v", L"/qn", true, L" /v\"/qn\""},
      {L"/v", L"A=\"x y\"", true, L" /v\"A=\\\"x y\\\"\""},
      {L"/m", L"a\"b", false, L" /m\"a\\\"b\""},
      {L"/z", L"A=1", false, L" /z\"A=1\""},  // "=" quotes only for /z
      {L"/m", L"A=1", false, L" /mA=1"},
  };
  for (auto& r : rows) EXPECT_EQ(relaunch_switch_text(r.sw, r.text, r.force), r.out) << r.sw << r.text;
  EXPECT_EQ(engine_switch_text(L"/z", L"A=1", false), L" /zA=1");
  EXPECT_EQ(engine_switch_text(L"/z", L"A 1", false), L" /z\"A 1\"");
}

TEST(SwitchRules, EngineGetsSwitchAndAsksScriptDrivenOnlyWhenNeeded) {
  int asked = 0;
  auto yes = [&] { ++asked; return true; };
  auto no = [&] { ++asked; return false; };
  EXPECT_TRUE(switch_goes_to_engine(L"/auto", no));
  EXPECT_FALSE(switch_goes_to_engine(L"/no_engine_auto", yes));
  EXPECT_FALSE(switch_goes_to_engine(L"/d", yes));
  EXPECT_FALSE(switch_goes_to_engine(L"-d", yes));
  EXPECT_FALSE(switch_goes_to_engine(L"/v", yes));
  EXPECT_EQ(asked, 0);
  EXPECT_TRUE(switch_goes_to_engine(L"/s", yes));
  EXPECT_FALSE(switch_goes_to_engine(L"/s", no));
  EXPECT_EQ(asked, 2);
}

TEST(SwitchRules, AbsoluteFolder) {
  EXPECT_TRUE(is_absolute_folder(L"C:\\x"));
  EXPECT_TRUE(is_absolute_folder(L"d:"));
  EXPECT_TRUE(is_absolute_folder(L"\\\\server\\share"));
  EXPECT_FALSE(is_absolute_folder(L"\\x"));
  EXPECT_FALSE(is_absolute_folder(L"sub\\x"));
  EXPECT_FALSE(is_absolute_folder(L"1:x"));
}

TEST(SwitchRules, StripRelaunchSwitches) {
  const std::wstring me = L"C:\\Temp\\{G}\\setup.exe";
  EXPECT_EQ(strip_relaunch_switches(L"/s /runfromtemp /v\"/qn\"", me), L"/s /runfromtemp /v\"/qn\"");
  EXPECT_EQ(strip_relaunch_switches(
                L"/q\"D:\\media\\setup.exe\" /tempdisk1folder\"C:\\Temp\\{G}\" -QZ_TEMP /runfromtemp /eprq /s "
                L"/f1\"C:\\Temp\\{G}\\setup.exe.qzs\"",
                me),
            L"/s /f1\"D:\\media\\setup.exe.qzs\"");
  // Without a /q value nothing is replaced.
  EXPECT_EQ(strip_relaunch_switches(L"/QZ_temp /x" + me, me), L"/x" + me);
}

TEST(SwitchRules, RelaunchSwitchesText) {
  RelaunchSwitches s;
  EXPECT_EQ(relaunch_switches_text(s), L"");
  s.language = 1031;
  s.password = L"pa\"ss";
  EXPECT_EQ(relaunch_switches_text(s), L" /l1031 /p\"pa\\\"ss\"");
  s.remove_as_major_upgrade = true;
  s.launcher_path = L"C:\\a b\\setup.exe";
  EXPECT_EQ(relaunch_switches_text(s), L" /Q\"C:\\a b\\setup.exe\" /l1031 /p\"pa\\\"ss\"");
  s.unc_path = L"\\\\srv\\share";
  EXPECT_EQ(relaunch_switches_text(s), L" /Q\"C:\\a b\\setup.exe\" /unc\"\\\\srv\\share\" /l1031 /p\"pa\\\"ss\"");
}

TEST(ExitCodeRules, CustomReturnCodes) {
  struct Row {
    int code;
    std::map<std::wstring, std::wstring> keys;
    bool reboot;
    int expected;
  } rows[] = {
      {1603, {{L"CustomRetCodeOnFail", L"0x7F"}}, false, 1603},  // CustomRetCode off
      {1603, {{L"CustomRetCode", L"Y"}, {L"CustomRetCodeOnFail", L"0x7F"}}, false, 127},
      {1603, {{L"CustomRetCode", L"yes"}}, false, 1603},  // empty OnFail keeps the error
      {1602, {{L"CustomRetCode", L"1"}, {L"CustomRetCodeOnAbort", L"5"}, {L"CustomRetCodeOnFail", L"6"}}, false, 5},
      {1602, {{L"CustomRetCode", L"True"}, {L"ScriptDriven", L"1"}, {L"CustomRetCodeOnAbort", L"5"},
              {L"CustomRetCodeOnFail", L"6"}}, false, 6},
      {-3, {{L"CustomRetCode", L"Y"}, {L"ScriptDriven", L"1"}, {L"CustomRetCodeOnAbort", L"5"}}, false, 5},
      {-1, {{L"CustomRetCode", L"Y"}, {L"CustomRetCodeOnAbort", L"5"}}, false, 5},
      {0, {{L"CustomRetCode", L"Y"}, {L"CustomRetCodeOnSuccess", L"16"}}, false, 16},
      {0, {{L"CustomRetCode", L"Y"}, {L"CustomRetCodeOnSuccess", L"16"}}, true, 0},
      {0, {{L"CustomRetCode", L"N"}, {L"CustomRetCodeOnSuccess", L"16"}}, false, 0},
      {-3, {{L"CustomRetCode", L"Y"}, {L"ScriptDriven", L"0x1"}, {L"CustomRetCodeOnFail", L"9"}}, false, 9},
  };
  for (auto& r : rows) {
    auto read = [&](const std::wstring& key) {
      auto it = r.keys.find(key);
      return it == r.keys.end() ? std::wstring() : it->second;
    };
    EXPECT_EQ(map_custom_exit_code(r.code, r.reboot, read), r.expected) << r.code;
  }
}
