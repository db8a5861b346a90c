// portable
#include "os_rules.h"

#include <algorithm>
#include <vector>

#include "msi_rules.h"
#include "package/IniProfile.h"

namespace os_rules {

namespace {

constexpr Version kOldEngine = {1, 20, 1827, 0};
constexpr int kNt4ServicePack = 768;

std::wstring cut(std::wstring_view text) {
  return std::wstring(text.substr(0, kEngineTextCapacity - 1));
}

int section_int(const qz::IniProfile& profile, const std::wstring& section, const wchar_t* key) {
  wchar_t buffer[64];
  return profile.get_int(section.c_str(), key, 0, buffer, 64);
}

}  // namespace

OsRecord classify_system(int major, int minor, int build, int platform_id, int processor_architecture) {
  OsRecord r;
  r.major = major;
  r.minor = minor;
  r.build = build;
  r.platform_id = platform_id;
  switch (platform_id) {
    case 0:
      r.platform_code = 7;
      r.supported = false;
      break;
    case 1:
      r.platform_code = 1;
      r.supported = true;
      r.build = build & 0xFFFF;
      break;
    case 2:
      r.platform_code = 2;
      if (processor_architecture == kArchMips) r.platform_code = 4;
      if (processor_architecture == kArchAlpha) r.platform_code = 3;
      if (processor_architecture == kArchPowerPc) r.platform_code = 5;
      r.supported = major >= 4;
      break;
    default:
      r.platform_code = 1;
      r.supported = false;
      break;
  }
  return r;
}

Version parse_version(std::wstring_view text) {
  // One reader for every version text, so an engine key orders exactly as the
  // version comparison sees it (overflowing numbers saturate, never wrap).
  msi_rules::Version v = msi_rules::parse_version(text);
  return {v.part[0], v.part[1], v.part[2], v.part[3]};
}

int needed_service_pack(const OsRequirement& req, const Version& engine) {
  if (req.major == 4 && engine <= kOldEngine) return kNt4ServicePack;
  return req.service_pack;
}

bool requirement_matches(const OsRequirement& req, const OsRecord& os, const Version& engine, const CsdReader& csd) {
  if (os.major != req.major) return false;
  if (os.minor < req.minor) return false;
  if (os.build < req.build) return false;
  if (os.platform_id != req.platform_id) return false;
  if (os.minor >= req.minor_max) return false;
  if (os.platform_id != 2) return true;
  int needed = needed_service_pack(req, engine);
  if (needed == 0) return true;
  std::optional<uint32_t> level = csd ? csd() : std::nullopt;
  if (!level) return true;
  return static_cast<int64_t>(*level) >= static_cast<int64_t>(needed);
}

std::optional<std::wstring> select_engine_version(const qz::IniProfile& profile, const OsRecord& os,
                                                  const CsdReader& csd) {
  const auto& sections = profile.sections();
  auto engines = sections.find(L"MsiVersion");
  if (engines == sections.end() || engines->second.empty()) return std::nullopt;

  struct Candidate {
    std::wstring version;
    std::wstring listing;
    Version parsed;
  };
  std::vector<Candidate> order;
  for (const auto& [key, value] : engines->second) order.push_back({cut(key), cut(value), parse_version(cut(key))});
  std::stable_sort(order.begin(), order.end(),
                   [](const Candidate& a, const Candidate& b) { return a.parsed > b.parsed; });

  std::optional<std::wstring> tried;
  for (const Candidate& c : order) {
    tried = c.version;
    auto listing = sections.find(c.listing);
    if (listing == sections.end()) continue;
    for (const auto& entry : listing->second) {
      const std::wstring& os_section = entry.first;
      if (sections.find(os_section) == sections.end()) continue;
      OsRequirement req;
      req.major = section_int(profile, os_section, L"MajorVer");
      req.minor = section_int(profile, os_section, L"MinorVer");
      req.build = section_int(profile, os_section, L"BuildNo");
      req.platform_id = section_int(profile, os_section, L"PlatformId");
      req.minor_max = section_int(profile, os_section, L"MinorVerMax");
      req.service_pack = section_int(profile, os_section, L"ServicePack");
      if (requirement_matches(req, os, c.parsed, csd)) return c.version;
    }
  }
  return tried;
}

int upgrade_mode(int on_upgrade, bool silent_or_auto) {
  if (on_upgrade == 1) return silent_or_auto ? 1 : 0;
  if (on_upgrade == 2) return 1;
  return 2;
}

uint32_t free_kb_from_bytes(uint64_t free_bytes) {
  uint64_t kb = free_bytes / 1024;
  return kb > 0x7FFFFFFFull ? 0x7FFFFFFFu : static_cast<uint32_t>(kb);
}

uint64_t needed_kb(uint64_t total_stored_size) { return total_stored_size / 1024; }

bool begins_with_drive_letter(std::wstring_view folder) {
  if (folder.empty()) return false;
  wchar_t c = folder[0];
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

}  // namespace os_rules
