// Temporary names, secure temporary folders and GUID text.
#include <windows.h>
#include <rpc.h>
#include <sddl.h>

#include <cwchar>

#include "support/handles.h"
#include "support/hold.h"
#include "support/kfile.h"
#include "support/support_rules.h"
#include "support/utils.h"
#include "support/zstring.h"

namespace qz {
namespace {

constexpr int kGuidAttempts = 100;

std::wstring user_temp_folder() {
  wchar_t buffer[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH) return std::wstring();
  return std::wstring(buffer, n);
}

bool name_taken(const std::wstring& path) { return kfile::get_file_attributes(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// "{GUID}", or its first eight hexadecimal digits for a short (8.3) name.
std::wstring guid_name(bool short_name) {
  std::wstring guid = GuidText();
  if (guid.size() < 9) return std::wstring();
  return short_name ? guid.substr(1, 8) : guid;
}

}  // namespace

// From rpcrt4 rather than ole32, which would start the window system: a first
// launcher names its folder before it starts its clone, and needs nothing more.
std::wstring GuidText() {
  UUID guid;
  // Unique on this machine is all a name needs.
  const RPC_STATUS made = UuidCreate(&guid);
  if (made != RPC_S_OK && made != RPC_S_UUID_LOCAL_ONLY) return std::wstring();
  wchar_t text[40];
  int n = std::swprintf(text, 40, L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                        static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                        guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return n == 38 ? std::wstring(text, 38) : std::wstring();
}

std::wstring TemporaryName(int kind, const std::wstring& folder, const std::wstring& extension, bool short_name) {
  std::wstring dir = folder.empty() ? user_temp_folder() : folder;
  if (dir.empty()) return std::wstring();
  if (kind == 1) {
    // "_qzXXXX" names are 8.3 names already, so the short flag changes nothing here.
    for (UINT counter = 0; counter <= 0xFFFF; ++counter) {
      wchar_t buffer[MAX_PATH];
      if (!GetTempFileNameW(dir.c_str(), L"_qz", counter, buffer)) return std::wstring();
      if (counter == 0) kfile::delete_file(buffer);  // the system created it to reserve the name
      std::wstring name = rules::apply_temp_extension(buffer, extension);
      if (!name_taken(name)) return name;
    }
    return std::wstring();
  }
  if (kind == 0) {
    if (!CreateFolderTree(dir)) return std::wstring();
    for (int attempt = 0; attempt < kGuidAttempts; ++attempt) {
      std::wstring name = guid_name(short_name);
      if (name.empty()) return std::wstring();
      std::wstring path = rules::apply_temp_extension(zpath(dir).join(name), extension);
      if (!name_taken(path)) return path;
    }
    return std::wstring();
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return std::wstring();
}

std::wstring CreateOwnTemporaryFile(const std::wstring& folder, const std::wstring& prefix) {
  std::wstring dir = folder.empty() ? user_temp_folder() : folder;
  if (dir.empty()) return std::wstring();
  for (int attempt = 0; attempt < kGuidAttempts; ++attempt) {
    std::wstring digits = guid_name(true);
    if (digits.empty()) return std::wstring();
    std::wstring path = zpath(dir).join(prefix + digits + L".tmp");
    file_handle file(kfile::create_file(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return path;
    const DWORD error = GetLastError();
    // Taken, or on its way out: another name. Anything else will not get better.
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED &&
        error != ERROR_SHARING_VIOLATION)
      return std::wstring();
  }
  return std::wstring();
}

const wchar_t kSecureFolderAccess[] = L"D:P(A;OICI;GA;;;BA)(A;OICI;GRGX;;;BU)";

std::wstring SecureTemporaryFolder(const std::wstring& base, bool short_name, file_handle* hold) {
  std::wstring dir = base.empty() ? user_temp_folder() : base;
  if (dir.empty() || !CreateFolderTree(dir)) return std::wstring();
  // Protected from the parent's entries (a shared temporary folder may let any
  // user add files): Administrators full control, Users read and execute, both
  // inherited by everything created inside.
  local_ptr<PSECURITY_DESCRIPTOR> descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kSecureFolderAccess, SDDL_REVISION_1, descriptor.receive(),
                                                            nullptr))
    return std::wstring();
  SECURITY_ATTRIBUTES security{sizeof(security), descriptor.get(), FALSE};
  for (int attempt = 0; attempt < kGuidAttempts; ++attempt) {
    std::wstring name = guid_name(short_name);
    if (name.empty()) return std::wstring();
    std::wstring path = zpath(dir).join(name);
    if (hold) {
      *hold = create_held_folder(path, &security);
      if (*hold) return path;
    } else if (kfile::create_directory(path.c_str(), &security)) {
      return path;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::wstring();
  }
  return std::wstring();
}

}  // namespace qz
