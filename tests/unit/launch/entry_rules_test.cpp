// portable
#include "entry_rules.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

using namespace entry;

TEST(EntryRules, OneShotCommandsBySecondCharacter) {
  struct Row {
    const wchar_t* text;
    bool has_arguments;
    OneShot kind;
    const wchar_t* payload;
  } rows[] = {
      // msiexec by its full path, never by a bare name the launcher's own folder could answer
      {L"/% /i x.msi /qn", true, OneShot::kMsiexec, L"\"C:\\Win dows\\system32\\MSIEXEC.EXE\" /i x.msi /qn"},
      {L"-%/x {A}", true, OneShot::kMsiexec, L"\"C:\\Win dows\\system32\\MSIEXEC.EXE\" /x {A}"},
      {L"/%", true, OneShot::kMsiexec, L"\"C:\\Win dows\\system32\\MSIEXEC.EXE\""},
      {L"/K /s /v\"/qn\"", true, OneShot::kRestart, L" /s /v\"/qn\""},
      {L"-k", true, OneShot::kRestart, L""},
      {L"/Gfile.exe /sCN", true, OneShot::kSignature, L"/Gfile.exe /sCN"},
      {L"/% /i x.msi", false, OneShot::kNone, L""},  // no argument after the launcher's path
      {L"% /i", true, OneShot::kNone, L""},
      {L"/s", true, OneShot::kNone, L""},
      {L"/", true, OneShot::kNone, L""},
      {L"", true, OneShot::kNone, L""},
  };
  for (const Row& r : rows) {
    OneShotCommand c = one_shot_command(r.text, r.has_arguments, L"C:\\Win dows\\system32\\MSIEXEC.EXE");
    EXPECT_EQ(c.kind, r.kind) << r.text;
    EXPECT_EQ(c.text, r.payload) << r.text;
  }
  EXPECT_TRUE(names_first_launcher(L"/q\"C:\\a\\setup.exe\""));
  EXPECT_TRUE(names_first_launcher(L"-QC:\\a"));
  EXPECT_FALSE(names_first_launcher(L" /q"));
  EXPECT_FALSE(names_first_launcher(L"/"));
}

// A first launcher reads argument 0 itself (the shell would start the window
// system): it must agree with the shell's splitter wherever that one is at hand.
TEST(EntryRules, LeadingArgumentIsTheShellsArgumentZero) {
  struct Row {
    const wchar_t* line;
    const wchar_t* program;
    bool more;
  };
  const Row rows[] = {
      {L"setup.exe", L"setup.exe", false},
      {L"setup.exe   \t", L"setup.exe", false},
      {L"C:\\a\\setup.exe\t/q", L"C:\\a\\setup.exe", true},
      {L"\"C:\\Program Files\\a\\setup.exe\" /s /v\"/qn\"", L"C:\\Program Files\\a\\setup.exe", true},
      {L"\"C:\\a b\\setup.exe\"", L"C:\\a b\\setup.exe", false},
      {L"\"C:\\a\"b /x", L"C:\\a", true},  // what follows the closing quote is argument 1
      {L"\"C:\\no end", L"C:\\no end", false},
      {L"a\\\"b c", L"a\\\"b", true},  // no escapes in argument 0
      {L"\"\" /x", L"", true},
  };
  for (const Row& r : rows) {
    LeadingArgument a = leading_argument(r.line);
    EXPECT_EQ(a.program, r.program) << r.line;
    EXPECT_EQ(a.more, r.more) << r.line;
#ifdef _WIN32
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(r.line, &argc);
    ASSERT_NE(argv, nullptr);
    EXPECT_EQ(a.program, argv[0]) << r.line;
    EXPECT_EQ(a.more, argc >= 2) << r.line;
    LocalFree(argv);
#endif
  }
}

TEST(EntryRules, CloneCommandLineHasTheFixedFormAndOrder) {
  CloneCommand c;
  c.program = L"C:\\T\\{G}\\setup.exe";
  c.first_launcher = L"D:\\media\\setup.exe";
  c.temp_folder = L"C:\\T\\{G}";
  EXPECT_EQ(clone_command_line(c), L"C:\\T\\{G}\\setup.exe /q\"D:\\media\\setup.exe\" /tempdisk1folder\"C:\\T\\{G}\"");
  c.eprq = true;
  c.qz_temp = true;
  c.unc = L"\\\\srv\\share\\media";
  c.debug_log = L"D:\\media\\Brackenwright.log";
  EXPECT_EQ(clone_command_line(c),
            L"C:\\T\\{G}\\setup.exe /q\"D:\\media\\setup.exe\" /tempdisk1folder\"C:\\T\\{G}\" /eprq /QZ_temp"
            L" /unc\"\\\\srv\\share\\media\" /debuglog\"D:\\media\\Brackenwright.log\"");
  EXPECT_EQ(clone_command_line(c) + wait_tail(L"/s /v\"/qn\""),
            clone_command_line(c) + L" /waitingforchildprocess /s /v\"/qn\"");
  EXPECT_EQ(no_wait_tail(L"/s"), L" /s");
  // A temporary folder under a profile with a blank stays one program token;
  // unquoted, the copy would not see its own /q switch and relaunch again.
  c = CloneCommand();
  c.program = L"C:\\Users\\Jo Ann\\Temp\\{G}\\setup.exe";
  c.first_launcher = L"D:\\setup.exe";
  c.temp_folder = L"C:\\Users\\Jo Ann\\Temp\\{G}";
  EXPECT_EQ(clone_command_line(c), L"\"C:\\Users\\Jo Ann\\Temp\\{G}\\setup.exe\" /q\"D:\\setup.exe\""
                                   L" /tempdisk1folder\"C:\\Users\\Jo Ann\\Temp\\{G}\"");
}

TEST(EntryRules, ReturnCodeSettings) {
  struct Row {
    const wchar_t* text;
    int32_t value;
  } rows[] = {
      {L"", -1},          {L"0x10", 16},       {L"0X1f", 31},        {L"16", 16},
      {L"3010abc", 3010}, {L"abc", 0},         {L"-5", -5},          {L"0xFFFFFFFF", -1},
      {L"0xCCCCCCCC", static_cast<int32_t>(0xCCCCCCCCu)},            {L"4294967292", -4},
  };
  for (const Row& r : rows) EXPECT_EQ(return_code_setting(r.text), r.value) << r.text;
  // Absurdly long numbers keep their low 32 bits instead of overflowing.
  EXPECT_EQ(return_code_setting(L"99999999999999999999"), 1661992959);  // the value modulo 2^32
  EXPECT_EQ(return_code_setting(L"0x" + std::wstring(100, L'F')), -1);
  EXPECT_TRUE(is_yes(L"Y"));
  EXPECT_TRUE(is_yes(L"y"));
  EXPECT_FALSE(is_yes(L"Yes"));
  EXPECT_FALSE(is_yes(L" Y"));
  EXPECT_FALSE(is_yes(L""));
}

TEST(EntryRules, RemovalValueNeedsThreeOrFourParts) {
  std::vector<std::wstring> p;
  EXPECT_FALSE(split_removal_value(L"{A};1", &p));
  EXPECT_FALSE(split_removal_value(L"", &p));
  EXPECT_FALSE(split_removal_value(L"{A};1;2;x;y", &p));
  ASSERT_TRUE(split_removal_value(L"{A};1;2", &p));
  EXPECT_EQ(p, (std::vector<std::wstring>{L"{A}", L"1", L"2", L""}));
  ASSERT_TRUE(split_removal_value(L"{A};12x;;text", &p));
  EXPECT_EQ(p[3], L"text");
  EXPECT_EQ(leading_decimal(p[1]), 12);
  EXPECT_EQ(leading_decimal(p[2]), 0);
}

TEST(EntryRules, CopyNamesAndLanguageFiles) {
  EXPECT_EQ(copy_name(L"C:\\media\\setup.exe"), L"setup.exe");
  EXPECT_EQ(copy_name(L"setup"), L"setup.exe");
  EXPECT_EQ(copy_name(L"D:\\x.y\\Setup"), L"Setup.exe");
  EXPECT_EQ(copy_name(L"D:/a/install.EXE"), L"install.EXE");

  auto f = language_files(L"0x0409, 0x0407,,1031");
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0].ini, L"0x0409.ini");
  EXPECT_EQ(f[0].mst, L"1033.mst");
  EXPECT_EQ(f[1].ini, L"0x0407.ini");
  EXPECT_EQ(f[1].mst, L"1031.mst");
  EXPECT_EQ(f[2].ini, L"1031.ini");
  EXPECT_EQ(f[2].mst, L"4145.mst");  // read as hexadecimal: 0x1031
  EXPECT_EQ(language_files(L"0x0009")[0].mst, L"0009.mst");
  // Names that would leave the temporary folder are not copied.
  EXPECT_TRUE(language_files(L"..\\..\\evil").empty());
  EXPECT_TRUE(language_files(L"C:x").empty());
  EXPECT_FALSE(is_plain_file_name(L".."));
  EXPECT_FALSE(is_plain_file_name(L"a/b"));
  EXPECT_TRUE(is_plain_file_name(L"setup.qzn"));
}
