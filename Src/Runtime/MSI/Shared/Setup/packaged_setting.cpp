#include "packaged_setting.h"

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <vector>

#include "package/IniProfile.h"
#include "package/LaunchSettings.h"
#include "package/qzfile.h"
#include "package/stream.h"
#include "support/debuglog.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\packaged_setting";

namespace {

std::wstring profile_value(const qz::IniProfile& profile, const std::wstring& section, const std::wstring& key,
                           size_t capacity) {
  std::vector<wchar_t> buffer(capacity + 1);
  profile.get_string(section.c_str(), key.c_str(), L"", buffer.data(), buffer.size());
  return std::wstring(buffer.data());
}

std::wstring profile_value(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                           size_t capacity) {
  qz::IniProfile profile(file);
  if (!profile.load()) return std::wstring();
  return profile_value(profile, section, key, capacity);
}

// A launcher file as it is now: a rewritten file (a test image, a replaced copy)
// never answers from what an earlier version held.
struct FileIdentity {
  std::wstring path;
  std::wstring member;
  uint64_t size = 0;
  uint64_t write_time = 0;
  bool operator<(const FileIdentity& o) const {
    return std::tie(path, member, size, write_time) < std::tie(o.path, o.member, o.size, o.write_time);
  }
};

bool identify(const std::wstring& launcher, const wchar_t* member, FileIdentity* id) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(launcher.c_str(), GetFileExInfoStandard, &data)) return false;
  id->path = launcher;
  for (wchar_t& c : id->path) c = wide_lower(c);
  id->member = member;
  id->size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  id->write_time = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  return true;
}

// What a launcher's member holds: absent, or its profile. Null profile with
// `present` set: the member is there but could not be read.
struct MemberSettings {
  bool present = false;
  std::shared_ptr<const qz::IniProfile> profile;
};

// Decoding a member costs opening the stream and an inflate, and the entry and the
// driver read a dozen values from the same member: each member is read once per
// process and kept.
std::mutex g_members_lock;
std::map<FileIdentity, MemberSettings> g_members;

// The member decoded in memory: no file in a folder another user could reach
// between the writing and the reading. Null when it could not be read.
std::shared_ptr<const qz::IniProfile> read_member_profile(STREAM& stream, const wchar_t* member) {
  std::vector<uint8_t> bytes;
  if (!stream.read_member(member, &bytes, qz::kMaxTextFileBytes)) {
    QZ_LOG(L"Cannot read %s from the setup stream (error %u)", member, stream.last_error());
    return nullptr;
  }
  auto profile = std::make_shared<qz::IniProfile>();
  profile->load_bytes(bytes, qz::system_ansi_decode);
  return profile;
}

MemberSettings member_settings(const std::wstring& launcher, const wchar_t* member) {
  FileIdentity id;
  const bool known = identify(launcher, member, &id);
  if (known) {
    std::lock_guard<std::mutex> hold(g_members_lock);
    auto it = g_members.find(id);
    if (it != g_members.end()) return it->second;
  }
  MemberSettings m;
  {
    STREAM stream{zpath(launcher)};
    m.present = stream.contains(member);
    if (m.present) m.profile = read_member_profile(stream, member);
  }
  if (known) {
    std::lock_guard<std::mutex> hold(g_members_lock);
    g_members[id] = m;
  }
  return m;
}

}  // namespace

std::wstring read_packaged_setting_from(const std::wstring& launcher, const std::wstring& section,
                                        const std::wstring& key, size_t capacity) {
  qz::LastErrorKeeper keep;
  const MemberSettings m = member_settings(launcher, L"Setup.INI");
  if (m.present) return m.profile ? profile_value(*m.profile, section, key, capacity) : std::wstring();
  // No member: the one the session has extracted or found already, else the one
  // beside the launcher (a clone runs from its temporary folder, where the parent
  // copied it).
  std::vector<std::wstring> candidates;
  if (const LaunchSettings* s = qzproc::settings(); s && !s->setup_ini_path.empty())
    candidates.push_back(s->setup_ini_path);
  candidates.push_back(zpath(launcher).folder().join(L"setup.ini"));
  for (const auto& c : candidates)
    if (qz::PathExists(c, qz::kPathFile)) return profile_value(c, section, key, capacity);
  return std::wstring();
}

std::wstring read_packaged_setting_ini_from(const std::wstring& launcher, const std::wstring& section,
                                            const std::wstring& key, size_t capacity) {
  qz::LastErrorKeeper keep;
  const MemberSettings m = member_settings(launcher, L"Setting.INI");
  return m.profile ? profile_value(*m.profile, section, key, capacity) : std::wstring();
}

bool packaged_settings_readable_from(const std::wstring& launcher) {
  qz::LastErrorKeeper keep;
  // Setting.INI holds ValidateSetupAndMSISignatures: read as empty, the signer
  // comparison would be skipped.
  for (const wchar_t* member : {L"Setup.INI", L"Setting.INI"}) {
    const MemberSettings m = member_settings(launcher, member);
    if (m.present && !m.profile) return false;
  }
  return true;
}

bool packaged_settings_readable() { return packaged_settings_readable_from(qzproc::own_file_name()); }

std::wstring read_packaged_setting(const std::wstring& section, const std::wstring& key, size_t capacity) {
  return read_packaged_setting_from(qzproc::own_file_name(), section, key, capacity);
}

std::wstring read_packaged_setting_ini(const std::wstring& section, const std::wstring& key, size_t capacity) {
  return read_packaged_setting_ini_from(qzproc::own_file_name(), section, key, capacity);
}
