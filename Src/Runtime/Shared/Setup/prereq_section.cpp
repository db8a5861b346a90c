// portable
#include "prereq_section.h"

#include "package/stream_format.h"

namespace prq {

std::wstring section_key(std::wstring_view name, int index) { return std::wstring(name) + std::to_wstring(index); }

int prerequisite_kind(std::wstring_view app_package, std::wstring_view wpm_package) {
  if (wpm_package == L"WPM") return kKindPackageManager;
  if (app_package == L"Bundle") return kKindAppBundle;
  return kKindOrdinary;
}

std::vector<std::wstring> feature_names(std::wstring_view list) {
  std::vector<std::wstring> out;
  for (;;) {
    size_t comma = list.find(L',');
    std::wstring_view item = list.substr(0, comma);
    if (!item.empty()) out.emplace_back(item);
    if (comma == std::wstring_view::npos) return out;
    list.remove_prefix(comma + 1);
  }
}

std::vector<ListedPrerequisite> listed_prerequisites(const SectionReader& read) {
  std::vector<ListedPrerequisite> out;
  for (int index = 0;; ++index) {
    ListedPrerequisite p;
    p.index = index;
    p.prq_name = read(section_key(L"PreReq", index));
    if (p.prq_name.empty()) return out;
    p.features = feature_names(read(section_key(L"PreReqFeatures", index)));
    std::wstring app = read(section_key(L"PreReqAppPackage", index));
    p.app_package = !app.empty();
    p.kind = prerequisite_kind(app, read(section_key(L"PreReqWPMPackage", index)));
    p.name_is_safe = qzstream::is_safe_member_name(p.prq_name);
    out.push_back(std::move(p));
  }
}

}  // namespace prq
