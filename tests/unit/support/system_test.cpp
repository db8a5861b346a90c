#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cwctype>
#include <set>

#include "scratch.h"
#include "support/dynload.h"

using namespace qz;

namespace {
bool is_guid_text(const std::wstring& s) {
  if (s.size() != 38 || s.front() != L'{' || s.back() != L'}') return false;
  for (size_t i = 1; i < 37; ++i) {
    bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? s[i] != L'-' : !(std::iswdigit(s[i]) || (s[i] >= L'A' && s[i] <= L'F'))) return false;
  }
  return true;
}
}  // namespace

using TempNameTest = ScratchTest;

TEST_F(TempNameTest, FileNamesAreUniqueAndFollowTheExtensionRule) {
  std::set<std::wstring> names;
  for (int i = 0; i < 5; ++i) {
    std::wstring n = TemporaryName(1, dir_, L"", false);
    ASSERT_EQ(n.rfind(dir_ + L"\\_qz", 0), 0u) << n;
    EXPECT_EQ(n.find(L".tmp"), std::wstring::npos) << n;
    EXPECT_FALSE(exists(n));  // the system's reservation is gone
    names.insert(n);
    write_file(n, "taken");  // a taken name is never handed out again
  }
  EXPECT_EQ(names.size(), 5u);
  std::wstring dll = TemporaryName(1, dir_, L"dll", false);
  EXPECT_EQ(dll.substr(dll.size() - 4), L".dll");

  // A ".tmp" in the folder's own name survives.
  const std::wstring odd = path(L"x.tmp");
  CreateDirectoryW(odd.c_str(), nullptr);
  std::wstring inside = TemporaryName(1, odd, L"", true);
  EXPECT_EQ(inside.rfind(odd + L"\\_qz", 0), 0u) << inside;
}

TEST_F(TempNameTest, FolderNamesAreGuidsAndTheirFolderIsCreated) {
  const std::wstring holder = path(L"h1\\h2");
  std::wstring n = TemporaryName(0, holder, L"", false);
  ASSERT_EQ(n.rfind(holder + L"\\", 0), 0u);
  EXPECT_TRUE(is_guid_text(n.substr(holder.size() + 1))) << n;
  EXPECT_TRUE(PathExists(holder, kPathFolder));
  EXPECT_FALSE(exists(n));

  std::wstring s = TemporaryName(0, holder, L"", true);
  std::wstring leaf = s.substr(holder.size() + 1);
  EXPECT_EQ(leaf.size(), 8u) << s;
  EXPECT_EQ(leaf.find_first_not_of(L"0123456789ABCDEF"), std::wstring::npos) << s;

  std::wstring e = TemporaryName(0, holder, L"msi", false);
  EXPECT_EQ(e.substr(e.size() - 4), L".msi");
  EXPECT_TRUE(TemporaryName(7, holder, L"", false).empty());
}

TEST_F(TempNameTest, OwnFilesAreCreatedNewAndNeverAnotherOnesFile) {
  std::set<std::wstring> names;
  for (int i = 0; i < 20; ++i) {
    std::wstring f = CreateOwnTemporaryFile(dir_, L"~");
    ASSERT_EQ(f.rfind(dir_ + L"\\~", 0), 0u) << f;
    ASSERT_EQ(f.size(), dir_.size() + 2 + 8 + 4) << f;
    EXPECT_EQ(f.substr(f.size() - 4), L".tmp");
    EXPECT_TRUE(exists(f));
    names.insert(f);
  }
  EXPECT_EQ(names.size(), 20u);
  // A folder it cannot create in gives no name at all, never an uncreated one.
  EXPECT_TRUE(CreateOwnTemporaryFile(path(L"missing"), L"~").empty());
}

TEST_F(TempNameTest, OverlongFoldersAreRefused) {
  const std::wstring longer = dir_ + L"\\" + std::wstring(300, L'n');
  EXPECT_TRUE(TemporaryName(1, longer, L"", false).empty());
  EXPECT_TRUE(TemporaryName(0, longer, L"", false).empty());
  EXPECT_TRUE(SecureTemporaryFolder(longer, false).empty());
}

// The access list a secure folder asks for: not inherited from its parent (anyone
// may add entries to a shared temporary folder), Administrators full control and
// Users read and execute, both passed on to everything inside.
void expect_secure_access(PACL dacl) {
  ASSERT_NE(dacl, nullptr);
  ASSERT_EQ(dacl->AceCount, 2);
  const WELL_KNOWN_SID_TYPE sids[] = {WinBuiltinAdministratorsSid, WinBuiltinUsersSid};
  for (DWORD i = 0; i < 2; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE), OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    EXPECT_TRUE(IsWellKnownSid(&ace->SidStart, sids[i])) << i;
    EXPECT_EQ(ace->Mask, i == 0 ? DWORD(GENERIC_ALL) : DWORD(GENERIC_READ | GENERIC_EXECUTE)) << i;
  }
}

TEST_F(TempNameTest, SecureFolderExists) {
  std::wstring f = SecureTemporaryFolder(dir_, false);
  ASSERT_FALSE(f.empty());
  EXPECT_TRUE(PathExists(f, kPathFolder));
  {
    PSECURITY_DESCRIPTOR asked = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(kSecureFolderAccess, SDDL_REVISION_1, &asked, nullptr));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(asked, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(asked, &present, &dacl, &defaulted));
    expect_secure_access(dacl);
    LocalFree(asked);
    // What the folder holds, where the system keeps what it was given (Wine
    // reads back a default list instead).
    PSECURITY_DESCRIPTOR held = nullptr;
    PACL held_dacl = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(f.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &held_dacl,
                                    nullptr, &held),
              static_cast<DWORD>(ERROR_SUCCESS));
    ACCESS_ALLOWED_ACE* first = nullptr;
    if (held_dacl && held_dacl->AceCount > 0 && GetAce(held_dacl, 0, reinterpret_cast<void**>(&first)) &&
        IsWellKnownSid(&first->SidStart, WinBuiltinAdministratorsSid))
      expect_secure_access(held_dacl);
    LocalFree(held);
  }
  EXPECT_TRUE(is_guid_text(f.substr(dir_.size() + 1))) << f;
  std::wstring s = SecureTemporaryFolder(path(L"base\\below"), true);
  ASSERT_FALSE(s.empty());
  EXPECT_TRUE(PathExists(s, kPathFolder));
  EXPECT_EQ(s.size(), path(L"base\\below").size() + 9);
  write_file(s + L"\\inside.txt", "x");  // usable by its creator
  EXPECT_EQ(read_file(s + L"\\inside.txt"), "x");
  std::wstring in_temp = SecureTemporaryFolder(L"", false);
  EXPECT_TRUE(PathExists(in_temp, kPathFolder)) << in_temp;
  RemoveFolderTree(in_temp);
}

TEST(Guid, UpperCaseInBraces) {
  std::wstring a = GuidText(), b = GuidText();
  EXPECT_TRUE(is_guid_text(a)) << a;
  EXPECT_NE(a, b);
}

TEST(Registry, ReadsStringsAndFallsBackToTheDefault) {
  const std::wstring key = L"Software\\QzSupportTest";
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), 0);
  const wchar_t text[] = L"value";
  RegSetValueExW(k, L"plain", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof(text));
  RegSetValueExW(k, L"unterminated", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 5 * sizeof(wchar_t));
  DWORD number = 5;
  RegSetValueExW(k, L"number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
  std::wstring big(5000, L'z');
  RegSetValueExW(k, L"big", 0, REG_SZ, reinterpret_cast<const BYTE*>(big.c_str()), (big.size() + 1) * 2);
  RegCloseKey(k);

  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key, L"plain", L"d"), L"value");
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key, L"unterminated", L"d"), L"value");
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key, L"big", L"d"), big);
  EXPECT_EQ(last_failure().error, 0u);
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key, L"number", L"d"), L"d");
  EXPECT_EQ(last_failure().error, static_cast<DWORD>(ERROR_UNSUPPORTED_TYPE));
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key, L"absent", L"d"), L"d");
  EXPECT_EQ(last_failure().error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(last_failure().path, key + L"\\absent");
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key + L"\\NoSuchKey", L"x", L"dflt", KEY_WOW64_64KEY), L"dflt");
  RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
}

using ProfileTest = ScratchTest;

TEST_F(ProfileTest, ReadsValuesRelativeToTheCurrentFolder) {
  write_file(path(L"p.ini"), "[S]\r\nname=text here\r\nnum=-12\r\nbad=x\r\nlong=" + std::string(3000, 'v') + "\r\n");
  EXPECT_EQ(ProfileString(path(L"p.ini"), L"S", L"long", L"d"), std::wstring(3000, L'v'));
  EXPECT_EQ(ProfileString(path(L"p.ini"), L"S", L"name", L"d"), L"text here");
  EXPECT_EQ(ProfileInt(path(L"p.ini"), L"S", L"num", 3), -12);
  EXPECT_EQ(ProfileInt(path(L"p.ini"), L"S", L"bad", 3), 3);
  EXPECT_EQ(ProfileInt(path(L"p.ini"), L"S", L"none", 3), 3);
  EXPECT_EQ(ProfileString(path(L"none.ini"), L"S", L"name", L"d"), L"d");
  wchar_t old[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, old);
  SetCurrentDirectoryW(dir_.c_str());
  EXPECT_EQ(ProfileString(L"p.ini", L"S", L"name", L"d"), L"text here");
  SetCurrentDirectoryW(old);
}

TEST(StringTable, FindsOwnResourcesWithLanguageFallbacks) {
  struct Case {
    LANGID language;
    UINT id;
    bool found;
  };
  const Case cases[] = {
      {0x0409, 1203, true},   // the table's own language
      {0x0809, 1203, true},   // English (United Kingdom) falls back to the default English block
      {0x0407, 1203, true},   // German: the neutral language finds the English table
      {0x0409, 1202, false},  // same block, no such string
      {0x0409, 65535, false},
      {0x0409, 0x10000 + 1203, false},  // beyond the 16-bit ids, not an alias of 1203
  };
  for (const Case& c : cases) {
    std::wstring text;
    EXPECT_EQ(FindStringBlock(c.id, c.language, nullptr, &text), c.found) << c.language << " " << c.id;
    if (c.found) EXPECT_EQ(text, L"Command line parameters:");
  }
}

TEST(SystemFacts, PlausibleOnThisMachine) {
  LANGID ui = SystemDefaultUILanguage();
  EXPECT_NE(PRIMARYLANGID(ui), 0);
  EXPECT_TRUE(IsValidLocale(MAKELCID(ui, SORT_DEFAULT), LCID_SUPPORTED)) << ui;
  EXPECT_GE(OsMajorVersion(), 6u);
  // A 64-bit build on an x86-64 machine.
  EXPECT_TRUE(IsX64());
  EXPECT_TRUE(IsX86Family64());
  EXPECT_TRUE(Is64BitOs());
  EXPECT_FALSE(IsItanium());
  EXPECT_FALSE(IsArm32());
  EXPECT_FALSE(IsArm64());
  // Not a WOW64 process: redirection is left alone.
  EXPECT_FALSE(IsWow64Process());
  EXPECT_FALSE(Wow64FsRedirection(true));
  EXPECT_FALSE(Wow64FsRedirection(false));
  ScopedWow64Redirection scoped;
  EXPECT_FALSE(scoped.switch_off());
  // Wine reports every user as an elevated administrator.
  EXPECT_TRUE(IsElevatedAdministrator());
}

TEST(SystemFacts, MissingLibrariesAreOrdinaryFailures) {
  EXPECT_EQ(bind_system_export(L"qz-no-such-library.dll", "Anything"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(bind_system_export(L"msi.dll", "QzNoSuchEntry"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_NE(bind_system_export(L"msi.dll", "MsiGetProductInfoW"), nullptr);
}

namespace {
int g_hook_calls = 0;
bool hook_answer() {
  ++g_hook_calls;
  return true;
}
}  // namespace

TEST(Reboot, GoesThroughTheHook) {
  set_reboot_hook(&hook_answer);
  EXPECT_TRUE(RebootSystem());
  EXPECT_EQ(g_hook_calls, 1);
  set_reboot_hook(nullptr);
}
