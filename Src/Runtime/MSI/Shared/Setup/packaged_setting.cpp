#include "packaged_setting.h"

#include <windows.h>

#include <vector>

#include "LaunchSettings.h"
#include "package/IniProfile.h"
#include "package/stream.h"
#include "process_state.h"
#include "support/debuglog.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\packaged_setting";

namespace {

std::wstring profile_value(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                           size_t capacity) {
  qz::IniProfile profile(file);
  if (!profile.load()) return std::wstring();
  std::vector<wchar_t> buffer(capacity + 1);
  profile.get_string(section.c_str(), key.c_str(), L"", buffer.data(), buffer.size());
  return std::wstring(buffer.data());
}

bool file_exists(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// Extracts the member to a fresh "~" file in the system temporary folder, reads
// the value and deletes the file again. False when the member could not be read.
bool member_value(STREAM& stream, const wchar_t* member, const std::wstring& section, const std::wstring& key,
                  size_t capacity, std::wstring* value) {
  wchar_t folder[MAX_PATH + 1] = {};
  DWORD n = GetTempPathW(MAX_PATH + 1, folder);
  if (n == 0 || n > MAX_PATH) return false;
  wchar_t file[MAX_PATH] = {};
  if (!GetTempFileNameW(folder, L"~", 0, file)) return false;
  bool ok = stream.extract(member, zpath(file), nullptr);
  if (ok) *value = profile_value(file, section, key, capacity);
  DeleteFileW(file);
  if (!ok) QZ_LOG(L"Cannot read %s from the setup stream", member);
  return ok;
}

}  // namespace

std::wstring read_packaged_setting_from(const std::wstring& launcher, const std::wstring& section,
                                        const std::wstring& key, size_t capacity) {
  qz::LastErrorKeeper keep;
  std::wstring value;
  {
    STREAM stream{zpath(launcher)};
    if (stream.contains(L"Setup.INI")) {
      member_value(stream, L"Setup.INI", section, key, capacity, &value);
      return value;
    }
  }
  // No member: the one the session has extracted or found already, else the one
  // beside the launcher (a clone runs from its temporary folder, where the parent
  // copied it).
  std::vector<std::wstring> candidates;
  if (const LaunchSettings* s = qzproc::settings(); s && !s->setup_ini_path.empty())
    candidates.push_back(s->setup_ini_path);
  candidates.push_back(zpath(launcher).folder().join(L"setup.ini"));
  for (const auto& c : candidates)
    if (file_exists(c)) return profile_value(c, section, key, capacity);
  return value;
}

std::wstring read_packaged_setting_ini_from(const std::wstring& launcher, const std::wstring& section,
                                            const std::wstring& key, size_t capacity) {
  qz::LastErrorKeeper keep;
  std::wstring value;
  STREAM stream{zpath(launcher)};
  if (stream.contains(L"Setting.INI")) member_value(stream, L"Setting.INI", section, key, capacity, &value);
  return value;
}

std::wstring read_setting_file(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                               size_t capacity) {
  qz::LastErrorKeeper keep;
  return profile_value(file, section, key, capacity);
}

std::wstring read_packaged_setting(const std::wstring& section, const std::wstring& key, size_t capacity) {
  return read_packaged_setting_from(qzproc::own_file_name(), section, key, capacity);
}

std::wstring read_packaged_setting_ini(const std::wstring& section, const std::wstring& key, size_t capacity) {
  return read_packaged_setting_ini_from(qzproc::own_file_name(), section, key, capacity);
}
