// Conditions against the prefix's real registry and files: values and files the
// test writes, then evaluated through the Windows system.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "../support/scratch.h"
#include "package/LaunchSettings.h"
#include "SetupPreRequisite.h"
#include "package/stream_format.h"
#include "prereq_system_win.h"

namespace {

const wchar_t kKey[] = L"Software\\QzPrqTest";
const wchar_t kPath[] = L"HKEY_LOCAL_MACHINE\\Software\\QzPrqTest";

void write(REGSAM view, const wchar_t* name, DWORD type, const void* data, DWORD size) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &k, nullptr), 0);
  RegSetValueExW(k, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(k);
}
void write_text(REGSAM view, const wchar_t* name, const std::wstring& text) {
  write(view, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::wstring full(const std::wstring& relative) {
  wchar_t buffer[1024];
  DWORD n = GetFullPathNameW(relative.c_str(), 1024, buffer, nullptr);
  return std::wstring(buffer, n);
}

}  // namespace

class PrqWine : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    DWORD five = 5, seven = 7;
    write(KEY_WOW64_64KEY, L"Level", REG_DWORD, &five, 4);
    write(KEY_WOW64_32KEY, L"Level", REG_DWORD, &seven, 4);
    write_text(KEY_WOW64_64KEY, L"Text", L"Version 2");
    write_text(KEY_WOW64_64KEY, L"Ver", L"10.0.1");
    write(KEY_WOW64_64KEY, L"Blob", REG_BINARY, "12345678", 8);
    write_text(0, L"Dir", dir_);
    write_text(KEY_WOW64_32KEY, L"Dir", L"C:\\nowhere");
  }
  void TearDown() override {
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_64KEY, 0);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_32KEY, 0);
    ScratchTest::TearDown();
  }
  bool eval(int type, int comparison, const std::wstring& path, const std::wstring& name, const std::wstring& bits,
            const std::wstring& value, int kind = prq::kKindOrdinary) {
    CSetupPreRequisite p(nullptr, nullptr, nullptr, &settings_, kind, prq::windows_system());
    return p.EvaluateCondition(type, comparison, path, name, bits, value);
  }
  LaunchSettings settings_;
};

TEST_F(PrqWine, RegistryInBothViews) {
  struct Case {
    int type, comparison;
    const wchar_t* name;
    const wchar_t* bits;
    const wchar_t* value;
    bool expected;
  };
  const Case cases[] = {
      {1, 1, L"", L"", L"", true},          {1, 2, L"", L"2", L"", false},
      {2, 2, L"Absent", L"", L"", true},    {32, 32, L"Absent", L"", L"", true},
      {2, 1, L"Absent", L"", L"", false},
      // A DWORD, 5 in the 64-bit view and 7 in the 32-bit one: without Bits the
      // process's own view (64-bit) is read, bit 1 asks for the 32-bit view and wins.
      {2, 1, L"Level", L"", L"5", true},    {2, 1, L"Level", L"1", L"7", true},
      {2, 1, L"Level", L"2", L"5", true},   {2, 1, L"Level", L"3", L"7", true},
      {2, 2, L"Level", L"2", L"10", true},
      {2, 4, L"Level", L"2", L"10", false}, {2, 4, L"Level", L"2", L"-1", false},
      {2, 16, L"Level", L"2", L"4", true},  {2, 16, L"Level", L"2", L"2", false},
      {2, 32, L"Level", L"2", L"5", false}, {2, 32, L"Level", L"2", L"6", true},
      {2, 8, L"Level", L"2", L"9", true},
      // Text and versions.
      {2, 1, L"Text", L"2", L"version 2", true},   {2, 8, L"Text", L"2", L"version 2", false},
      {2, 8, L"Text", L"2", L"Version", true},     {2, 16, L"Text", L"2", L"ion 2", true},
      {2, 16, L"Text", L"2", L"ION", false},       {2, 4, L"Text", L"2", L"version 10", true},
      {2, 2, L"Text", L"2", L"version 10", false}, {2, 32, L"Text", L"2", L"VERSION 2", false},
      {2, 64, L"Text", L"2", L"x", true},          {32, 4, L"Ver", L"2", L"9.5", true},
      {32, 2, L"Ver", L"2", L"9.5", false},        {32, 1, L"Ver", L"2", L"10.0.1.0", true},
      {32, 32, L"Ver", L"2", L"10.0.2", true},     {2, 1, L"Blob", L"2", L"", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(eval(c.type, c.comparison, kPath, c.name, c.bits, c.value), c.expected)
        << c.type << " " << c.comparison << " " << c.bits << " " << qzstream::utf8_encode(c.value);
  const std::wstring missing = L"HKEY_LOCAL_MACHINE\\Software\\QzPrqTest\\None";
  EXPECT_TRUE(eval(1, 2, missing, L"", L"", L""));
  EXPECT_FALSE(eval(1, 32, missing, L"", L"", L""));
  EXPECT_TRUE(eval(2, 32, missing, L"x", L"", L""));
  EXPECT_FALSE(eval(2, 1, missing, L"x", L"", L""));
}

TEST_F(PrqWine, FilesDatesVersionsAndTheSearch) {
  wchar_t self[MAX_PATH];
  std::wstring exe(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
  ASSERT_TRUE(CopyFileW(exe.c_str(), path(L"copy.exe").c_str(), FALSE));
  write_file(path(L"probe.txt"), "x");
  FILETIME when{0x80000000u, 0x01D5A000u}, local{};
  HANDLE h = CreateFileW(path(L"probe.txt").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  SetFileTime(h, nullptr, nullptr, &when);
  CloseHandle(h);
  FileTimeToLocalFileTime(&when, &local);
  std::wstring date = std::to_wstring(local.dwHighDateTime) + L"." + std::to_wstring(local.dwLowDateTime);
  std::wstring later = std::to_wstring(local.dwHighDateTime + 1);

  EXPECT_TRUE(eval(16, 1, dir_, L"copy.exe", L"", L"31.0.0.1"));
  EXPECT_TRUE(eval(16, 1, L"", exe, L"", L"31.0.0.1"));  // loaded: read through a copy
  EXPECT_TRUE(eval(16, 4, dir_, L"copy.exe", L"", L"31"));
  EXPECT_TRUE(eval(16, 1, dir_, L"probe.txt", L"", L"0.0.0.0"));  // no version resource
  EXPECT_TRUE(eval(8, 1, dir_, L"probe.txt", L"", date));
  EXPECT_TRUE(eval(8, 2, dir_, L"probe.txt", L"", later));
  EXPECT_FALSE(eval(8, 1, dir_, L"probe.txt", L"", later));
  EXPECT_TRUE(eval(16, 2, dir_, L"none.dll", L"", L"1.0"));
  EXPECT_FALSE(eval(4, 1, L"", dir_, L"", L""));  // a folder is no file
  // Bare names: the current folder, then the machine's PATH; never this process's PATH.
  std::wstring old_dir(MAX_PATH, L'\0');
  old_dir.resize(GetCurrentDirectoryW(MAX_PATH, old_dir.data()));
  CreateDirectoryW(path(L"sub").c_str(), nullptr);
  write_file(path(L"sub\\onlyhere.dll"), "x");
  std::wstring old_path(32767, L'\0');
  old_path.resize(GetEnvironmentVariableW(L"PATH", old_path.data(), 32767));
  SetEnvironmentVariableW(L"PATH", path(L"sub").c_str());
  SetCurrentDirectoryW(dir_.c_str());
  EXPECT_TRUE(eval(4, 1, L"", L"probe.txt", L"", L""));
  EXPECT_TRUE(eval(4, 1, L"", L"kernel32.dll", L"", L""));
  EXPECT_TRUE(eval(4, 2, L"", L"onlyhere.dll", L"", L""));
  SetCurrentDirectoryW(old_dir.c_str());
  SetEnvironmentVariableW(L"PATH", old_path.c_str());
  // Tokens and registry references.
  EXPECT_TRUE(eval(4, 1, L"[WindowsFolder]", L"notepad.exe", L"", L""));
  EXPECT_TRUE(eval(4, 1, L"[System64Folder]", L"kernel32.dll", L"", L""));
  EXPECT_TRUE(eval(4, 1, L"[HKEY_LOCAL_MACHINE\\Software\\QzPrqTest\\Dir]", L"probe.txt", L"", L""));  // own view
}

TEST_F(PrqWine, AppPackagesThroughTheHelperAndTheClientCheck) {
  settings_.app_package_helper = full(L"PkgDeployHost.exe");
  const std::wstring marker = full(L"Vendor.Probe.installed"), log = full(L"PkgDeployHost.log");
  DeleteFileW(marker.c_str());
  DeleteFileW(log.c_str());
  EXPECT_TRUE(eval(64, 0, L"CN=Vendor", L"Vendor.Probe", L"x64", L"1.0.0.0", prq::kKindAppBundle));
  write_file(marker, "");
  EXPECT_FALSE(eval(64, 0, L"CN=Vendor", L"Vendor.Probe", L"x64", L"1.0.0.0"));
  std::string lines = read_file(log);
  std::wstring text(reinterpret_cast<const wchar_t*>(lines.data()), lines.size() / 2);
  EXPECT_NE(text.find(L"-prqmsix:query -QZ_temp -pkgname:Vendor.Probe -publisher:\"CN=Vendor\" -version:1.0.0.0 "
                      L"-arch:x64 -bundle:1\r\n"),
            std::wstring::npos);
  EXPECT_NE(text.find(L"-bundle:0\r\n"), std::wstring::npos);
  DeleteFileW(marker.c_str());
  settings_.app_package_helper = path(L"missing.exe");
  EXPECT_FALSE(eval(64, 0, L"CN=Vendor", L"Vendor.Probe", L"", L""));

  // The package-manager client is looked for in the user's WindowsApps folder.
  wchar_t local[MAX_PATH];
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local), S_OK);
  const std::wstring apps = std::wstring(local) + L"\\Microsoft\\WindowsApps", client = apps + L"\\winget.exe";
  auto client_found = [&] {
    return eval(4, 1, L"[LocalAppDataFolder]Microsoft\\WindowsApps", L"winget.exe", L"", L"");
  };
  DeleteFileW(client.c_str());  // left by an interrupted run
  EXPECT_FALSE(client_found());
  ASSERT_TRUE(qz::CreateFolderTree(apps));
  ASSERT_TRUE(CopyFileW(full(L"winget.exe").c_str(), client.c_str(), FALSE));
  EXPECT_TRUE(client_found());
  DeleteFileW(client.c_str());
}

TEST_F(PrqWine, LoadsADescriptionFromDisk) {
  const std::wstring text =
      L"\xFEFF<prerequisite><condition Type=\"2\" Comparison=\"1\" Path=\"HKEY_LOCAL_MACHINE\\Software\\QzPrqTest\" "
      L"FileName=\"Level\" Bits=\"2\" ReturnValue=\"5\"/><file LocalFile=\"vc.exe\"/></prerequisite>";
  write_file(path(L"vc.prq"), std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
  CSetupPreRequisite p(nullptr, nullptr, nullptr, &settings_, prq::kKindOrdinary, prq::windows_system());
  p.LoadPrq(path(L"vc.prq"), true, L"");
  EXPECT_TRUE(p.HasFailed());
  EXPECT_EQ(p.placed_file_name(0), L"vc.exe");
}
