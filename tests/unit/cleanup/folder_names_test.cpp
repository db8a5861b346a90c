// portable
#include "folder_names.h"

#include <gtest/gtest.h>

TEST(FolderNames, MembersThatWouldMeetTheLaunchersOwnFiles) {
  struct Row {
    const wchar_t* member;
    bool reserved;
  } rows[] = {
      {L"_QZMSIDEL.INI", true},   {L"_qzmsidel.ini.new", true}, {L"_qz1A.tmp", true},
      {L"_MSI5166._QZ", true},    {L"~4F2A09C1.TMP", true},     {L"QZ_7B.tmp", true},
      {L"Setup.EXE", true},       {L"setup.exe.LOCAL", true},   {L"Setup.INI", false},
      {L"QZSetup.dll", false},    {L"~readme.txt", false},      {L"setup.exe.manifest", false},
      {L"mysetup.exe", false},    {L"demo.msi", false},         {L"0x0409.ini", false},
  };
  for (const Row& r : rows) EXPECT_EQ(folder_names::is_reserved_member_name(r.member, L"setup.exe"), r.reserved) << r.member;
  EXPECT_FALSE(folder_names::is_reserved_member_name(L"setup.exe", L""));
}
