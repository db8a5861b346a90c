// The feature selection rules: the property list map, the selected features and
// the costing transforms. Line 1 is the property list, line 2 the package's
// features (comma-separated), line 3 the package folder; the first byte says
// whether a package is open and, with the name, which states it reports.
#include <algorithm>
#include <set>

#include "feature_rules.h"
#include "fuzz_input.h"

using namespace feature_rules;

namespace {

std::vector<std::wstring> split(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = std::min(text.find(separator, start), text.size());
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::wstring> lines = fuzz_lines(data, size);
  lines.resize(std::max<size_t>(lines.size(), 3));
  const uint8_t flags = size ? data[0] : 0;
  const std::wstring& list = lines[0];

  // Names hold neither a blank nor "="; nothing is longer than the list.
  const PropertyMap properties = ParsePropertyList(list);
  FUZZ_CHECK(properties.size() <= static_cast<size_t>(std::count(list.begin(), list.end(), L'=')));
  for (const auto& [name, value] : properties) {
    FUZZ_CHECK(!name.empty() && name.find_first_of(L" =") == std::wstring::npos);
    FUZZ_CHECK(name.size() + value.size() < list.size());
  }
  FUZZ_CHECK(ParsePropertyList(list) == properties);

  // Every selected name comes from the list's values or the package's features,
  // once, without empty items.
  const std::vector<std::wstring> features = split(lines[1], L',');
  auto state = [&](const std::wstring& name) { return static_cast<int>((name.size() + flags) % 7); };
  FeatureFacts facts;
  facts.features = (flags & 1) ? &features : nullptr;
  facts.installed_state = state;
  facts.costed_state = [&](const std::wstring& name) { return state(name) ^ 1; };
  const std::wstring selected = select_features(properties, facts);
  FUZZ_CHECK(select_features(properties, facts) == selected);
  if (!selected.empty()) {
    std::set<std::wstring> seen;
    for (const std::wstring& name : split(selected, L',')) {
      FUZZ_CHECK(!name.empty() && seen.insert(name).second);
      bool known = (flags & 1) && std::find(features.begin(), features.end(), name) != features.end();
      for (const auto& [property, value] : properties) known = known || value.find(name) != std::wstring::npos;
      FUZZ_CHECK(known);
    }
  }

  // Each transform is its own name or that name beside the package.
  const std::wstring& folder = lines[2];
  auto found = properties.find(L"TRANSFORMS");
  const std::vector<std::wstring> transforms = costing_transforms(properties, folder);
  if (found == properties.end()) {
    FUZZ_CHECK(transforms.empty());
  } else {
    FUZZ_CHECK(transforms.size() <= split(found->second, L';').size());
    for (const std::wstring& path : transforms) {
      FUZZ_CHECK(!path.empty());
      FUZZ_CHECK(found->second.find(path) != std::wstring::npos || path.compare(0, folder.size(), folder) == 0);
    }
  }
  return 0;
}
