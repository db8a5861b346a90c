#include "com_security.h"

#include <windows.h>
#include <aclapi.h>
#include <objbase.h>

#include "support/debuglog.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\com_security";

namespace {

struct Sid {
  BYTE data[SECURITY_MAX_SID_SIZE];
  bool make(WELL_KNOWN_SID_TYPE type) {
    DWORD size = sizeof(data);
    return CreateWellKnownSid(type, nullptr, data, &size) != FALSE;
  }
  PSID get() { return data; }
};

struct LocalAcl {
  PACL acl = nullptr;
  ~LocalAcl() {
    if (acl) LocalFree(acl);
  }
};

}  // namespace

bool set_process_com_security() {
  static const WELL_KNOWN_SID_TYPE kGroups[] = {WinBuiltinAdministratorsSid, WinLocalServiceSid, WinNetworkServiceSid,
                                                WinSelfSid, WinLocalSystemSid};
  Sid sids[5];
  EXPLICIT_ACCESSW access[5] = {};
  for (int i = 0; i < 5; ++i) {
    if (!sids[i].make(kGroups[i])) return false;
    access[i].grfAccessPermissions = COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_LOCAL;
    access[i].grfAccessMode = SET_ACCESS;
    access[i].grfInheritance = NO_INHERITANCE;
    access[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access[i].Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access[i].Trustee.ptstrName = static_cast<LPWSTR>(sids[i].get());
  }
  LocalAcl acl;
  if (SetEntriesInAclW(5, access, nullptr, &acl.acl) != ERROR_SUCCESS) return false;
  // CoInitializeSecurity takes an absolute descriptor with owner and group set.
  SECURITY_DESCRIPTOR sd;
  if (!InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION)) return false;
  if (!SetSecurityDescriptorOwner(&sd, sids[0].get(), FALSE)) return false;
  if (!SetSecurityDescriptorGroup(&sd, sids[0].get(), FALSE)) return false;
  if (!SetSecurityDescriptorDacl(&sd, TRUE, acl.acl, FALSE)) return false;
  HRESULT hr = CoInitializeSecurity(&sd, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY, RPC_C_IMP_LEVEL_IDENTIFY,
                                    nullptr, EOAC_DISABLE_AAA, nullptr);
  if (FAILED(hr)) QZ_LOG(L"CoInitializeSecurity failed: 0x%08x", static_cast<unsigned>(hr));
  return SUCCEEDED(hr);
}
