// portable
// The pure rules of the feature selection for feature-bound prerequisites: the
// installer property list as a map, the transforms applied for costing, and which
// features a silent installation will add.
#pragma once
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace feature_rules {

// Property name -> value; a later entry of the same name replaces the earlier one.
using PropertyMap = std::map<std::wstring, std::wstring>;

// NAME=value entries separated by blanks. A name ends at "=" and starts after the
// last blank before it (so switches such as "/qn" in front fall away); a value ends
// at the next blank outside double quotes. Quotes toggle quoting and are dropped,
// except that the third of three in a row is kept as a literal quote. Text with no
// further "=" ends the list.
PropertyMap ParsePropertyList(std::wstring_view text);

// The installer's feature states (INSTALLSTATE).
inline constexpr int kAdvertised = 1;
inline constexpr int kAbsent = 2;
inline constexpr int kLocal = 3;
inline constexpr int kSource = 4;
inline constexpr int kDefault = 5;

// What the package can tell about its features.
struct FeatureFacts {
  // Every feature of the package's Feature table; null when no package is open.
  const std::vector<std::wstring>* features = nullptr;
  // The installed state of a feature of the setup's product (for REINSTALL).
  std::function<int(const std::wstring&)> installed_state;
  // The action state costing gave a feature.
  std::function<int(const std::wstring&)> costed_state;
};

// Comma-separated features the installation adds (local, source or default): from
// ADDLOCAL, REMOVE, ADDSOURCE, ADDDEFAULT, REINSTALL and ADVERTISE, applied in that
// order (a later one wins for the same feature; "ALL" stands for every feature of
// the package); when none of them names a feature, the costed states. Sorted by
// name; empty when nothing is added.
std::wstring select_features(const PropertyMap& properties, const FeatureFacts& facts);

// The TRANSFORMS property split at ";" as paths to apply to the package: full paths
// (a drive letter and colon, or "\\") and transforms stored in the package (":name")
// stay as they are, others are taken relative to `package_folder`. A leading "@" or
// "|" (secure transforms) marks the whole list and is not part of a name.
std::vector<std::wstring> costing_transforms(const PropertyMap& properties, std::wstring_view package_folder);

}  // namespace feature_rules
