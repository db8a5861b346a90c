// Temporary names, secure temporary folders and GUID text.
#include <objbase.h>
#include <sddl.h>

#include <cwctype>

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

std::wstring GuidText() {
  GUID guid;
  if (FAILED(CoCreateGuid(&guid))) return std::wstring();
  wchar_t text[40];
  int n = StringFromGUID2(guid, text, 40);
  if (n <= 1) return std::wstring();
  std::wstring out(text, static_cast<size_t>(n - 1));
  for (wchar_t& c : out) c = static_cast<wchar_t>(std::towupper(c));
  return out;
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
