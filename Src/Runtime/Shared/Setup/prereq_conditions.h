// portable
// Evaluation of one `condition` of a .prq file against the running system:
// registry keys and values, files (existence, date, version, PATH search), and
// app packages through the helper. Path tokens and registry references at the
// start of a condition path are resolved here too. Nothing here raises: every
// failure to open, query or read counts as the outcome the rules give for it.
#pragma once
#include <cstdint>
#include <string>

#include "prereq_system.h"

namespace prq {

// Condition types.
inline constexpr int kTypeRegistryKey = 1;
inline constexpr int kTypeRegistryValue = 2;
inline constexpr int kTypeFileExists = 4;
inline constexpr int kTypeFileDate = 8;
inline constexpr int kTypeFileVersion = 16;
inline constexpr int kTypeRegistryVersion = 32;
inline constexpr int kTypeAppPackage = 64;

struct Condition {
  int type = 0;
  int comparison = 0;
  std::wstring path;
  std::wstring file_name;
  std::wstring bits;
  std::wstring return_value;
};

class PrqConditions {
 public:
  PrqConditions(PrereqSystem& system, const OsFacts& os, const ArchFacts& arch) : system_(system), os_(os), arch_(arch) {}

  // Types other than the seven above always hold. `helper` is the app-package
  // helper's path; `bundle` marks a prerequisite of the bundle kind.
  bool evaluate(const Condition& c, const std::wstring& helper, bool bundle);
  bool registry(const Condition& c);
  bool file(const Condition& c);
  bool app_package(const Condition& c, const std::wstring& helper, bool bundle);

  // Resolves a leading path token or registry reference through the process's own
  // registry view; the 64-bit tokens read the 64-bit view and switch redirection
  // off through `guard`. Anything else is returned unchanged.
  std::wstring expand_path(const std::wstring& path, RedirectionGuard& guard);

 private:
  std::wstring registry_string(RootKey root, const std::wstring& key, const std::wstring& name, RegView view);
  // The first candidate that is a file: the path itself when it holds a
  // backslash, else the current folder and the machine PATH entries in turn.
  bool find_file(const std::wstring& path, std::wstring& found, FileFacts& facts);
  PackedVersion version_of(const std::wstring& path, const FileFacts& facts);

  PrereqSystem& system_;
  const OsFacts& os_;
  const ArchFacts& arch_;
};

}  // namespace prq
