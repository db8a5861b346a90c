// portable
// The path rules of the package cache: where a package is cached, what a cabinet
// entry names, the names of the companion files, and when an existing cached
// copy may be replaced without asking. Free of Windows so they run natively.
#pragma once
#include <string>
#include <string_view>

namespace package_cache_rules {

// `CacheRoot` when the settings give none: below -1 means no cache.
inline constexpr int kNoCacheRoot = -2;
// `CacheRoot` -1: `CacheFolder` is the whole path.
inline constexpr int kWholePathRoot = -1;

enum class CacheKind {
  kNone,       // nothing is cached
  kExplicit,   // `folder` is the cache folder (the /b value or CacheFolder)
  kShellRoot,  // the cache lies below the shell folder `CacheRoot`
};
struct CachePlan {
  CacheKind kind = CacheKind::kNone;
  std::wstring folder;  // kExplicit only
};
// has_b: the command line named a cache location with /b (b_value).
CachePlan plan_cache(bool has_b, std::wstring_view b_value, int cache_root, std::wstring_view cache_folder);

// Joins path parts with exactly one backslash between them; empty parts are
// skipped, so an empty `CacheFolder` does not leave a doubled separator.
std::wstring join_path(std::wstring_view folder, std::wstring_view name);
// Where a location of the source folder lies: an absolute location (a drive letter
// and colon) or a UNC one is used as it is, any other is joined to the folder.
std::wstring source_location_path(std::wstring_view source_folder, std::wstring_view location);
// root\cache_folder, and \package_code when one could be read.
std::wstring shell_cache_folder(std::wstring_view root, std::wstring_view cache_folder,
                                std::wstring_view package_code);

// The file a `CabN` entry names: without a query or fragment, the part after the
// last '/', else after the last '\' (the name its fetch gave it). Empty when the
// entry names no file of its own (it ends in a separator, or the last part is dots
// and blanks only): moving that name would move a folder.
std::wstring cabinet_file_name(std::wstring_view entry);

// The name of the package's cached copy: the package name's last part, so a name
// with folders ("..\..\x.msi") never leads out of the cache folder. Empty when
// that part names no file of its own: "", "." or "..", or a drive or stream
// colon.
std::wstring cached_file_name(std::wstring_view package_name);

// The language string file of a language: "0x" + four hexadecimal digits + ".ini".
std::wstring string_file_name(unsigned language);

// An existing target may be overwritten without asking only when both package
// codes could be read and are equal without regard to case.
bool replace_needs_question(bool existing_code_read, std::wstring_view existing_code, bool own_code_read,
                            std::wstring_view own_code);

// The folder part of a path (before the last backslash or slash), "" without one.
std::wstring folder_of(std::wstring_view path);
// The text after the last backslash or slash.
std::wstring leaf_of(std::wstring_view path);

}  // namespace package_cache_rules
