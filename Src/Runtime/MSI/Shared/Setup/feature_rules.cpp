// portable
#include "feature_rules.h"

#include "support/zstring.h"

namespace feature_rules {

PropertyMap ParsePropertyList(std::wstring_view text) {
  PropertyMap map;
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    while (i < n && text[i] == L' ') ++i;
    const size_t eq = text.find(L'=', i);
    if (eq == std::wstring_view::npos) break;
    size_t start = i;
    const size_t blank = text.rfind(L' ', eq);
    if (blank != std::wstring_view::npos && blank >= i) start = blank + 1;
    std::wstring value;
    bool quoted = false;
    int quotes = 0;
    size_t j = eq + 1;
    for (; j < n; ++j) {
      const wchar_t c = text[j];
      if (c == L'"') {
        if (++quotes == 3) {
          value += L'"';
          quotes = 0;
        } else {
          quoted = !quoted;
        }
        continue;
      }
      quotes = 0;
      if (c == L' ' && !quoted) break;
      value += c;
    }
    if (eq > start) map[std::wstring(text.substr(start, eq - start))] = value;
    i = j;
  }
  return map;
}

namespace {

constexpr int kInstalledState = 0;  // REINSTALL: the feature's installed state

struct FeatureProperty {
  const wchar_t* name;
  int state;
};
const FeatureProperty kFeatureProperties[] = {
    {L"ADDLOCAL", kLocal},      {L"REMOVE", kAbsent},         {L"ADDSOURCE", kSource},
    {L"ADDDEFAULT", kDefault},  {L"REINSTALL", kInstalledState}, {L"ADVERTISE", kAdvertised},
};

bool adds(int state) { return state == kLocal || state == kSource || state == kDefault; }

template <typename F>
void for_each_item(std::wstring_view list, wchar_t separator, F f) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(separator, start);
    if (end == std::wstring_view::npos) end = list.size();
    if (end > start) f(std::wstring(list.substr(start, end - start)));
    start = end + 1;
  }
}

}  // namespace

std::wstring select_features(const PropertyMap& properties, const FeatureFacts& facts) {
  std::map<std::wstring, int> recorded;
  for (const FeatureProperty& p : kFeatureProperties) {
    auto it = properties.find(p.name);
    if (it == properties.end()) continue;
    auto record = [&](const std::wstring& name) {
      int state = p.state;
      if (state == kInstalledState) state = facts.installed_state ? facts.installed_state(name) : -1;
      recorded[name] = state;
    };
    if (wide_iequals(it->second, L"ALL")) {
      if (facts.features)
        for (const std::wstring& name : *facts.features)
          if (!name.empty()) record(name);
    } else {
      for_each_item(it->second, L',', record);
    }
  }
  if (recorded.empty() && facts.features && facts.costed_state) {
    for (const std::wstring& name : *facts.features) {
      int state = facts.costed_state(name);
      if (!name.empty() && adds(state)) recorded[name] = state;
    }
  }
  std::wstring out;
  for (const auto& [name, state] : recorded) {
    if (!adds(state)) continue;
    if (!out.empty()) out += L',';
    out += name;
  }
  return out;
}

std::vector<std::wstring> costing_transforms(const PropertyMap& properties, std::wstring_view package_folder) {
  std::vector<std::wstring> out;
  auto it = properties.find(L"TRANSFORMS");
  if (it == properties.end()) return out;
  std::wstring_view list = it->second;
  if (!list.empty() && (list[0] == L'@' || list[0] == L'|')) list.remove_prefix(1);
  for_each_item(list, L';', [&](const std::wstring& name) {
    const bool full = (name.size() >= 2 && name[0] == L'\\' && name[1] == L'\\') ||
                      (name.size() >= 2 && name[1] == L':' &&
                       ((name[0] >= L'A' && name[0] <= L'Z') || (name[0] >= L'a' && name[0] <= L'z')));
    if (full || name[0] == L':') {
      out.push_back(name);
      return;
    }
    std::wstring path(package_folder);
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    out.push_back(path + name);
  });
  return out;
}

}  // namespace feature_rules
