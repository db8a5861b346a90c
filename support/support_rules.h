// portable
// Pure rules behind the support utilities (support/utils.h): path splitting for
// folder creation, the drive-root refusal, temporary-name extensions, string-table
// blocks, language texts and architecture predicates. No system calls here, so
// they are tested natively and can be fuzzed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qz::rules {

// Capacity of the temporary-folder text, terminator included: longer input is refused.
constexpr size_t kTempFolderCapacity = 1024;
// The one rule for every temporary-folder text (the /e folder, the folder the entry
// chooses or is given, the folder a resume cleans up): it fits with its terminator.
// A cut text would name another folder, which the clean-up would then remove.
inline bool fits_temp_folder(std::wstring_view folder) { return folder.size() < kTempFolderCapacity; }

// The prefixes of `path` that CreateFolderTree creates, shortest first. A drive
// ("C:") and, for a path beginning with "\\", the server and share are never
// created; a relative first component is. Empty components (doubled or trailing
// backslashes) produce no prefix of their own.
std::vector<std::wstring> folder_prefixes(std::wstring_view path);

// RemoveFolderTree refuses these: empty, an absolute path of three characters or
// fewer, and a drive root however it is written ("C:\\\", "\\?\C:\").
bool refuses_folder_removal(std::wstring_view path);

// True for "http://", "https://" and "ftp://" addresses (scheme compared without case).
bool is_internet_address(std::wstring_view source);

// The temporary-name extension rule: a given extension (without its dot) replaces
// the extension of the last component; without one a ".tmp" ending of the last
// component is removed. The folder part is never touched.
std::wstring apply_temp_extension(std::wstring_view path, std::wstring_view extension);

// Entry `index` (0..15) of a string-table resource block: 16 strings, each a
// 16-bit little-endian length followed by that many UTF-16 units. False when the
// block ends before the entry is complete (nothing is read past `size`).
bool string_block_entry(const unsigned char* data, size_t size, unsigned index, std::u16string* out);

// The languages a string-table block is looked up for, in order and without
// repeats: the language, its primary language with the default sublanguage, the
// neutral language with the default sublanguage (0x0400), the neutral language (0).
std::vector<uint16_t> string_block_languages(uint16_t language);

// A language identifier written in hexadecimal ("00000409"); 0 when the text is
// not 1 to 8 hex digits or the value is 0 or does not fit 16 bits.
uint16_t parse_hex_language(std::wstring_view text);
// The registry fallback of the system UI language: the first readable of the two
// texts, else 1033.
uint16_t fallback_ui_language(std::wstring_view resource_locale, std::wstring_view locale);

// A profile integer: optional blanks, sign and decimal digits (the rest ignored);
// `default_value` when there are no digits. Out-of-range values saturate.
int parse_profile_int(std::wstring_view text, int default_value);

// Processor facts: the native processor architecture (PROCESSOR_ARCHITECTURE_*) and
// the native machine from the second-generation WOW64 query (IMAGE_FILE_MACHINE_*,
// 0 when unknown).
struct Architecture {
  unsigned processor = 0;
  unsigned native_machine = 0;
};
bool arch_is_x64(const Architecture& a);
bool arch_is_itanium(const Architecture& a);
bool arch_is_x86_family64(const Architecture& a);
bool arch_is_arm64(const Architecture& a);
bool arch_is_arm32(const Architecture& a);
bool arch_is_64bit(const Architecture& a);

}  // namespace qz::rules
