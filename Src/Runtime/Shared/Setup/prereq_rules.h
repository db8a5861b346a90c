// portable
// The pure rules of the prerequisite descriptions: numbers and versions as the
// .prq files write them, registry paths and views, the outcome of each registry,
// file and operating-system test for the facts the system reported, path tokens,
// and the names that may become paths.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "prereq_system.h"

namespace sax {
class AttributeList;
}

namespace prq {

// Decimal: leading blanks and tabs, an optional minus, digits up to the first
// non-digit; 0 when there are none. Out-of-range values saturate.
int parse_int(std::wstring_view text);
// The same text read as a 32-bit pattern: "-1" is 0xFFFFFFFF and "4294967295"
// keeps its value (a DWORD written in decimal is not cut at 0x7FFFFFFF).
uint32_t parse_u32(std::wstring_view text);

// Up to four dot-separated decimal parts, each cut to 16 bits; missing parts are 0.
PackedVersion pack_version(std::wstring_view text);

// Trims the characters of `set` from both ends.
std::wstring_view trim(std::wstring_view text, std::wstring_view set);

// ---- registry ----------------------------------------------------------------

inline constexpr int kRootKeyCount = 7;
extern const wchar_t* const kRootKeyNames[kRootKeyCount];
// The exact root name (case included) -> its index; -1 for anything else.
RootKey root_key_index(std::wstring_view name);

struct RegistryPath {
  bool valid = false;
  RootKey root = -1;
  std::wstring key;
};
// "ROOT\key\path", split at the first backslash; without one the whole path is
// both the root name and the key. Empty, ending at that first backslash, or an
// unknown root: not valid.
RegistryPath split_registry_path(std::wstring_view path);

// The registry view of a condition. Bit 1 asks for the 32-bit view and bit 2
// for the 64-bit view (bit 1 wins), on the 64-bit x86 family only. Everything
// else reads the process's own view.
RegView condition_view(std::wstring_view bits, const ArchFacts& arch);

// Outcomes for what the registry gave (Type 1 key, 2 value, 32 value as version).
bool registry_key_missing(int type, int comparison);
bool registry_key_present(int comparison);
bool registry_value_missing(int comparison);
bool registry_dword_test(uint32_t data, std::wstring_view value, int comparison);
bool registry_text_test(int type, std::wstring_view data, std::wstring_view value, int comparison);
// The text of a REG_SZ or REG_EXPAND_SZ value (up to its first NUL); empty for
// any other type.
std::wstring registry_text(const RegValue& value);
// REG_DWORD of exactly four bytes.
bool is_dword(const RegValue& value);

// ---- files -------------------------------------------------------------------

bool file_missing(int comparison);
bool file_exists_test(int comparison);
// `value` is "high.low" of the local last-write time.
bool file_date_test(uint64_t local_write_time, std::wstring_view value, int comparison);
bool file_version_test(PackedVersion file, std::wstring_view value, int comparison);
// Loaded modules below this size are examined through a copy.
inline constexpr uint64_t kModuleCopyLimit = 0xF00000;

// `Path` joined with `FileName` with one backslash; `FileName` alone when
// `Path` is empty.
std::wstring condition_path(std::wstring_view path, std::wstring_view file_name);
// A folder joined in front of a path rest, with one backslash between them.
std::wstring join_folder(std::wstring_view folder, std::wstring_view rest);
// The machine PATH split at ";", empty entries left out.
std::vector<std::wstring> path_entries(std::wstring_view path_value);

// ---- path tokens -------------------------------------------------------------

struct LeadingToken {
  bool present = false;
  std::wstring token;  // "[...]" with its brackets
  std::wstring rest;
};
// A token counts only at the very start: "[" up to the first "]".
LeadingToken leading_token(std::wstring_view path);

struct RegistryReference {
  bool valid = false;
  RootKey root = -1;
  std::wstring key;    // between the first and the last backslash
  std::wstring value;  // after the last backslash
};
// "[HKEY_LOCAL_MACHINE\key\value]": the token with "[", "]", line feeds and tabs
// trimmed from both ends, beginning with a root name and a backslash.
RegistryReference registry_reference(std::wstring_view token);

// ---- operating system ---------------------------------------------------------

// The tests of one operatingsystemcondition in order, stopping at the first that
// fails; each present attribute's text is appended to `trace`, led by a comma.
bool os_condition_matches(const sax::AttributeList& attributes, const OsFacts& os, const ArchFacts& arch,
                          uint16_t ui_language, std::wstring& trace);
// The `Bits` rule: only the lowest of the bits 1..32 counts.
bool bits_match(int bits, const ArchFacts& arch);
// A client system of Windows 10 or later (the package manager's platform).
bool package_manager_platform(const OsFacts& os);
// major * 100 + minor; app packages need 602 (Windows 8) or later.
uint32_t os_number(const OsFacts& os);
inline constexpr uint32_t kAppPackageMinimumOs = 602;

// The helper's query parameters for an app-package condition.
std::wstring app_package_query(std::wstring_view name, std::wstring_view publisher, std::wstring_view version,
                               std::wstring_view bits, bool bundle);
// The helper's exit code for a package that is not installed.
inline constexpr uint32_t kAppPackageMissing = 1605;

// ---- names that become paths ---------------------------------------------------

// The text after the last backslash.
std::wstring_view leaf_after_backslash(std::wstring_view path);
// Equal file name parts without regard to case.
bool same_file_name(std::wstring_view a, std::wstring_view b);
// `Id` as the name of the prerequisite's folder: itself when it is one plain file
// name (the rule for stream member names), else empty.
std::wstring folder_name(std::wstring_view id);
// The name a `LocalFile` is placed under: its part after the last backslash or
// slash when that is a plain file name, else empty.
std::wstring placed_file_name(std::wstring_view local_file);
// "<Id>.<name>", empty when either part or the whole is no plain file name.
std::wstring member_name(std::wstring_view id, std::wstring_view local_file);
// The name a replacement .prq fetched from `url` is stored under: the part after
// the last "/" when there is one with text after it and that text is a plain file
// name, else "Default.prq".
std::wstring alternative_prq_name(std::wstring_view url);

}  // namespace prq
