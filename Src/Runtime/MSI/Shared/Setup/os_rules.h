// portable
// The pure rules of the operating-system and disk-space checks: the system
// record and its verdict, the engine-version selection from setup.ini, the
// upgrade policy and the free-space arithmetic. No system calls: the callers pass
// what the system reported.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qz {
class IniProfile;
}

// What OSAction records about the running system.
struct OsRecord {
  int platform_code = 1;  // 1 9x or unknown, 2 NT, 3 NT Alpha, 4 NT MIPS, 5 NT PowerPC, 7 Win32s
  bool supported = false;
  int major = 0;
  int minor = 0;
  int build = 0;
  int platform_id = 0;  // 0 Win32s, 1 9x, 2 NT
};

namespace os_rules {

// Processor architectures of the system information that change the NT code.
constexpr int kArchMips = 1;
constexpr int kArchAlpha = 2;
constexpr int kArchPowerPc = 3;

// The record for the reported version and processor architecture.
OsRecord classify_system(int major, int minor, int build, int platform_id, int processor_architecture);

// Capacity of an engine-version key and of its listing-section name, terminator
// included: longer text is cut to 19 characters.
constexpr size_t kEngineTextCapacity = 20;

using Version = std::array<uint32_t, 4>;
// Every character that is not 0-9 becomes a dot; then up to four dotted unsigned
// numbers are read in order (stopping at the first that does not parse); missing
// parts are 0 and a number too large for 32 bits saturates (msi_rules::parse_version).
Version parse_version(std::wstring_view text);

// An operating-system section of setup.ini.
struct OsRequirement {
  int major = 0;
  int minor = 0;
  int build = 0;
  int platform_id = 0;
  int minor_max = 0;
  int service_pack = 0;
};

// The service-pack level a requirement asks for: its ServicePack, except 768 for
// NT 4 when the engine version is not above 1.20.1827.0.
int needed_service_pack(const OsRequirement& req, const Version& engine);

// csd_version: the system's CSDVersion, or nullopt when its key cannot be opened
// (which passes). Asked only when the platform is NT and a level is needed.
using CsdReader = std::function<std::optional<uint32_t>()>;
bool requirement_matches(const OsRequirement& req, const OsRecord& os, const Version& engine, const CsdReader& csd);

// The engine-version selection over section MsiVersion. No such section, or an
// empty one: nullopt (nothing selected, still a success). Otherwise the highest
// version whose listed operating-system sections match; when none matches, the
// lowest version (the last one tried).
std::optional<std::wstring> select_engine_version(const qz::IniProfile& profile, const OsRecord& os,
                                                  const CsdReader& csd);

// OnUpgrade of setup.ini → the session's upgrade mode (0 ask, 1 do not ask, 2 skip).
int upgrade_mode(int on_upgrade, bool silent_or_auto);

// Free bytes → KB as the disk check keeps them (at most 0x7FFFFFFF).
uint32_t free_kb_from_bytes(uint64_t free_bytes);
// KB the whole stream needs on disk; the total may exceed 4 GiB.
uint64_t needed_kb(uint64_t total_stored_size);
// A folder is a candidate for the temporary location only when it begins with a
// drive letter (so never a UNC path).
bool begins_with_drive_letter(std::wstring_view folder);

}  // namespace os_rules
