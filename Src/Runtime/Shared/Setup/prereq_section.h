// portable
// The prerequisite list of setup.ini: section "QZSetupPrerequisites" with the keys
// PreReq<n>, PreReqFeatures<n>, PreReqAppPackage<n> and PreReqWPMPackage<n>,
// counted from 0 without leading zeros.
#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace prq {

inline constexpr wchar_t kPrerequisiteSection[] = L"QZSetupPrerequisites";

// Prerequisite kinds.
inline constexpr int kKindOrdinary = 0;
inline constexpr int kKindPackageManager = 1;
inline constexpr int kKindAppBundle = 2;

// "PreReq" and 3 -> "PreReq3".
std::wstring section_key(std::wstring_view name, int index);

// "WPM" (exactly) gives the package-manager kind, else "Bundle" (exactly) the
// app-package bundle kind, else ordinary.
int prerequisite_kind(std::wstring_view app_package, std::wstring_view wpm_package);

// A feature list split at ",", empty items left out; names stay as written.
std::vector<std::wstring> feature_names(std::wstring_view list);

struct ListedPrerequisite {
  int index = 0;
  std::wstring prq_name;                // PreReq<n>
  std::vector<std::wstring> features;   // PreReqFeatures<n>
  bool app_package = false;             // PreReqAppPackage<n> non-empty: the helper is needed
  int kind = kKindOrdinary;
  // The name is one plain file name, so joining it to a folder stays in that folder.
  bool name_is_safe = false;
};

// Reads one key of the section; a missing key reads as empty.
using SectionReader = std::function<std::wstring(const std::wstring& key)>;

// The listed prerequisites in index order, up to the first empty or missing
// PreReq<n> (later indexes are never read).
std::vector<ListedPrerequisite> listed_prerequisites(const SectionReader& read);

}  // namespace prq
