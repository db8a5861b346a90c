// System facts: UI language, version, processor architecture, WOW64 and its
// file-system redirection, and the administrator check.
#include <vector>

#include "support/dynload.h"
#include "support/support_rules.h"
#include "support/utils.h"

namespace qz {
namespace {

rules::Architecture architecture() {
  rules::Architecture a;
  SYSTEM_INFO info{};
  if (auto native = bound<void(WINAPI*)(SYSTEM_INFO*)>(kernel32_export("GetNativeSystemInfo")))
    native(&info);
  else
    GetSystemInfo(&info);
  a.processor = info.wProcessorArchitecture;
  if (auto wow2 = bound<BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*)>(kernel32_export("IsWow64Process2"))) {
    USHORT process_machine = 0, native_machine = 0;
    if (wow2(GetCurrentProcess(), &process_machine, &native_machine)) a.native_machine = native_machine;
  }
  return a;
}

using DisableFn = BOOL(WINAPI*)(PVOID*);
using RevertFn = BOOL(WINAPI*)(PVOID);
using EnableFn = BOOLEAN(WINAPI*)(BOOLEAN);

DisableFn disable_redirection() {
  static const DisableFn fn = bound<DisableFn>(kernel32_export("Wow64DisableWow64FsRedirection"));
  return fn;
}
RevertFn revert_redirection() {
  static const RevertFn fn = bound<RevertFn>(kernel32_export("Wow64RevertWow64FsRedirection"));
  return fn;
}

std::vector<PVOID> g_redirection_states;  // saved by "off", restored newest first

}  // namespace

LANGID SystemDefaultUILanguage() {
  if (auto query = bound<LANGID(WINAPI*)()>(kernel32_export("GetSystemDefaultUILanguage"))) return query();
  std::wstring resource_locale, locale;
  RegQueryString(HKEY_USERS, L".Default\\Control Panel\\desktop\\ResourceLocale", L"", 0, &resource_locale);
  RegQueryString(HKEY_USERS, L".DEFAULT\\Control Panel\\International", L"Locale", 0, &locale);
  return rules::fallback_ui_language(resource_locale, locale);
}

DWORD OsMajorVersion() {
  // RtlGetVersion reports the real version whatever the executable's manifest says.
  if (auto get = module_export<LONG(WINAPI*)(OSVERSIONINFOW*)>(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")) {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (get(&info) == 0) return info.dwMajorVersion;
  }
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (GetVersionExW(&info)) return info.dwMajorVersion;
#pragma GCC diagnostic pop
  return 0;
}

bool IsX64() { return rules::arch_is_x64(architecture()); }
bool IsItanium() { return rules::arch_is_itanium(architecture()); }
bool IsArm32() { return rules::arch_is_arm32(architecture()); }
bool IsArm64() { return rules::arch_is_arm64(architecture()); }
bool IsX86Family64() { return rules::arch_is_x86_family64(architecture()); }
bool Is64BitOs() { return rules::arch_is_64bit(architecture()); }

bool IsWow64Process() {
  auto query = bound<BOOL(WINAPI*)(HANDLE, PBOOL)>(kernel32_export("IsWow64Process"));
  BOOL wow64 = FALSE;
  return query && query(GetCurrentProcess(), &wow64) && wow64;
}

bool Wow64FsRedirection(bool off) {
  if (!IsWow64Process()) return false;
  DisableFn disable = disable_redirection();
  RevertFn revert = revert_redirection();
  if (disable && revert) {
    if (off) {
      PVOID state = nullptr;
      if (!disable(&state)) return false;
      g_redirection_states.push_back(state);
      return true;
    }
    if (g_redirection_states.empty()) return false;
    PVOID state = g_redirection_states.back();
    g_redirection_states.pop_back();
    return revert(state) != FALSE;
  }
  auto enable = bound<EnableFn>(kernel32_export("Wow64EnableWow64FsRedirection"));
  return enable && enable(off ? FALSE : TRUE);
}

ScopedWow64Redirection::ScopedWow64Redirection() {
  disable_redirection();
  revert_redirection();
}

ScopedWow64Redirection::~ScopedWow64Redirection() {
  if (off_) revert_redirection()(old_);
}

bool ScopedWow64Redirection::switch_off() {
  if (off_) return true;
  if (!IsWow64Process() || !disable_redirection() || !revert_redirection()) return false;
  off_ = disable_redirection()(&old_) != FALSE;
  return off_;
}

bool IsElevatedAdministrator() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                &admins))
    return false;
  // Counts only enabled groups: a filtered (not elevated) token holds Administrators for deny only.
  BOOL member = FALSE;
  if (!CheckTokenMembership(nullptr, admins, &member)) member = FALSE;
  FreeSid(admins);
  return member != FALSE;
}

bool FileVersion(const std::wstring& path, DWORD* ms, DWORD* ls) {
  using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
  using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
  using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
  static const auto size_fn = bound<SizeFn>(bind_system_export(L"version.dll", "GetFileVersionInfoSizeW"));
  static const auto info_fn = bound<InfoFn>(bind_system_export(L"version.dll", "GetFileVersionInfoW"));
  static const auto query_fn = bound<QueryFn>(bind_system_export(L"version.dll", "VerQueryValueW"));
  if (!size_fn || !info_fn || !query_fn) return false;
  DWORD ignored = 0;
  DWORD size = size_fn(path.c_str(), &ignored);
  if (size == 0) return false;
  std::vector<unsigned char> data(size);
  if (!info_fn(path.c_str(), 0, size, data.data())) return false;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!query_fn(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
      length < sizeof(VS_FIXEDFILEINFO))
    return false;
  *ms = fixed->dwFileVersionMS;
  *ls = fixed->dwFileVersionLS;
  return true;
}

}  // namespace qz
