// portable
#include "instance_rules.h"

#include <climits>

#include "msi_rules.h"
#include "support/error_codes.h"

namespace instance_rules {

namespace {

constexpr wchar_t kInstancePrefix[] = L"InstanceId";

// Decimal digits only, within the int range.
std::optional<int> strict_decimal(std::wstring_view text) {
  if (text.empty()) return std::nullopt;
  long long value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + (c - L'0');
    if (value > INT_MAX) return std::nullopt;
  }
  return static_cast<int>(value);
}

std::wstring_view trim(std::wstring_view s) {
  while (!s.empty() && (s.front() == L' ' || s.front() == L'\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == L' ' || s.back() == L'\t')) s.remove_suffix(1);
  return s;
}

// The number after "key" in a key name of [Instances] / [UpgardeTable], when below count.
std::optional<int> entry_index(const std::wstring& key, int count) {
  if (key.size() < 4 || (key[0] != L'k' && key[0] != L'K') || (key[1] != L'e' && key[1] != L'E') ||
      (key[2] != L'y' && key[2] != L'Y'))
    return std::nullopt;
  std::optional<int> n = strict_decimal(std::wstring_view(key).substr(3));
  if (!n || *n >= count) return std::nullopt;
  return n;
}

// The values of key0 .. key<count-1> present in the section, in index order.
std::vector<std::wstring> numbered_values(const qz::IniProfile& settings, const wchar_t* section) {
  std::vector<std::wstring> values;
  auto s = settings.sections().find(section);
  if (s == settings.sections().end()) return values;
  auto c = s->second.find(L"count");
  int count = c == s->second.end() ? 0 : qz::profile_atoi(c->second);
  if (count <= 0) return values;
  std::map<int, std::wstring> ordered;
  for (const auto& [key, value] : s->second)
    if (std::optional<int> n = entry_index(key, count)) ordered.emplace(*n, value);
  for (auto& [n, value] : ordered) values.push_back(std::move(value));
  return values;
}

bool in_language_list(std::wstring_view list, std::wstring_view language) {
  language = trim(language);
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(L',', start);
    std::wstring_view piece = list.substr(start, comma == std::wstring_view::npos ? std::wstring_view::npos
                                                                                   : comma - start);
    if (!trim(piece).empty() && trim(piece) == language) return true;
    if (comma == std::wstring_view::npos) break;
    start = comma + 1;
  }
  return false;
}

bool is_hex(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }

// Appends the text after a blank unless the list already holds it; true when added.
bool add_once(std::wstring& list, std::wstring& forwarded, const std::wstring& text) {
  if (list.find(text) != std::wstring::npos) return false;
  msi_rules::append_properties(list, text);
  msi_rules::append_properties(forwarded, text);
  return true;
}

}  // namespace

std::wstring InstanceRecord::property(const wchar_t* name) const {
  auto p = properties.find(name);
  return p == properties.end() ? std::wstring() : p->second;
}

bool InstanceTable::has_instances() const {
  for (const auto& [id, record] : instances)
    if (id >= 0) return true;
  return false;
}

const InstanceRecord* InstanceTable::find(int id) const {
  auto r = instances.find(id);
  return r == instances.end() ? nullptr : &r->second;
}

std::optional<int> instance_id_of(std::wstring_view value) {
  const size_t n = sizeof kInstancePrefix / sizeof kInstancePrefix[0] - 1;
  if (value.substr(0, n) != kInstancePrefix) return std::nullopt;
  return strict_decimal(value.substr(n));
}

UpgradeEntry parse_upgrade_entry(std::wstring_view value) {
  std::vector<std::wstring_view> fields;
  size_t start = 0;
  for (;;) {
    size_t at = value.find(L'@', start);
    fields.push_back(value.substr(start, at == std::wstring_view::npos ? std::wstring_view::npos : at - start));
    if (at == std::wstring_view::npos) break;
    start = at + 1;
  }
  fields.resize(5);
  UpgradeEntry e;
  e.min_version = std::wstring(trim(fields[1]));
  e.max_version = std::wstring(trim(fields[2]));
  e.languages = std::wstring(trim(fields[3]));
  e.attributes = static_cast<uint32_t>(qz::profile_atoi(fields[4]));
  return e;
}

void load_table(const qz::IniProfile& settings, const OwnCodes& own, InstanceTable* table) {
  table->instances.clear();
  table->upgrades.clear();
  for (const std::wstring& value : numbered_values(settings, L"Instances")) {
    std::optional<int> id = instance_id_of(value);
    if (!id || table->instances.count(*id)) continue;
    InstanceRecord& record = table->instances[*id];
    auto section = settings.sections().find(value);
    if (section == settings.sections().end()) continue;
    for (const auto& [key, text] : section->second)
      if (!text.empty()) record.properties.emplace(key, text);
  }
  if (!table->instances.empty()) {
    InstanceRecord& def = table->instances[kDefaultInstance];
    const std::pair<const wchar_t*, const std::wstring*> own_values[] = {{L"ProductCode", &own.product_code},
                                                                          {L"UpgradeCode", &own.upgrade_code},
                                                                          {L"PackageCode", &own.package_code},
                                                                          {L"ProductVersion", &own.product_version}};
    for (const auto& [name, text] : own_values)
      if (!text->empty()) def.properties[name] = *text;
  }
  table->instances_loaded = true;
  for (const std::wstring& value : numbered_values(settings, L"UpgardeTable"))
    if (!value.empty()) table->upgrades.push_back(parse_upgrade_entry(value));
  table->upgrades_loaded = true;
}

bool upgrade_entry_matches(const UpgradeEntry& entry, const std::wstring& version, const std::wstring& language) {
  if (entry.attributes & kDetectOnly) return false;
  if (!entry.min_version.empty()) {
    int c = msi_rules::compare_versions(entry.min_version.c_str(), version.c_str());
    if (c < 0 || (c == 0 && !(entry.attributes & kMinInclusive))) return false;
  }
  if (!entry.max_version.empty()) {
    int c = msi_rules::compare_versions(entry.max_version.c_str(), version.c_str());
    if (c > 0 || (c == 0 && !(entry.attributes & kMaxInclusive))) return false;
  }
  if (!entry.languages.empty()) {
    bool listed = in_language_list(entry.languages, language);
    return (entry.attributes & kLanguagesExclusive) ? !listed : listed;
  }
  return true;
}

bool usable(const InstanceTable& table, int id, bool patch_run) {
  if (id == kInvalidInstance || id == kAskInstance) return false;
  if (id == kDefaultInstance) return !patch_run;
  if (id == kAllInstances) return patch_run;
  return table.find(id) != nullptr;
}

DialogChoices dialog_choices(const InstanceTable& table, bool patch_run) {
  DialogChoices d;
  for (const auto& [id, record] : table.instances) {
    if (!record.free())
      d.rows.push_back(id);
    else if (d.first_choice == kAskInstance)
      d.first_choice = id;
  }
  if (patch_run) {
    d.first_choice = kAllInstances;
    d.first_enabled = true;
  } else {
    d.first_enabled = d.first_choice != kAskInstance;
  }
  d.second_enabled = !d.rows.empty();
  return d;
}

SelectOutcome select(const InstanceTable& table, const SelectInput& in, const std::function<DialogAnswer()>& ask) {
  SelectOutcome out;
  int id = in.requested;
  if (in.silent && id == kAskInstance) id = in.patch_run ? kAllInstances : kDefaultInstance;
  if (usable(table, id, in.patch_run)) {
    out.go_on = true;
    out.id = id;
    out.changed = id != in.requested;
    return out;
  }
  if (in.silent) {
    out.id = id;
    out.result = err::kInstanceNotChosen;
    return out;
  }
  bool any = false;
  for (const auto& [n, record] : table.instances) any = any || !record.free();
  if (!any) {
    out.go_on = true;
    out.id = kDefaultInstance;
    out.changed = in.requested != kDefaultInstance;
    return out;
  }
  out.asked = true;
  DialogAnswer answer = ask ? ask() : DialogAnswer{};
  if (answer.kind == DialogAnswer::kCancel) {
    out.result = -1;
    return out;
  }
  // No dialog could ask: the run cannot tell which instance it is for.
  if (answer.kind == DialogAnswer::kUnavailable || !usable(table, answer.selection, in.patch_run)) {
    out.id = answer.selection;
    out.result = err::kInstanceNotChosen;
    return out;
  }
  out.go_on = true;
  out.id = answer.selection;
  out.changed = answer.selection != in.requested;
  return out;
}

bool is_product_code(std::wstring_view t) {
  if (t.size() != 38 || t.front() != L'{' || t.back() != L'}') return false;
  for (size_t i = 1; i < 37; ++i) {
    bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? t[i] != L'-' : !is_hex(t[i])) return false;
  }
  return true;
}

Applied apply(const InstanceTable& table, int id, std::wstring& properties) {
  Applied out;
  const InstanceRecord* record = id >= 0 ? table.find(id) : nullptr;
  if (!record) return out;
  if (record->installed) {
    std::wstring code = record->property(L"ProductCode");
    if (code.empty()) return out;
    if (!is_product_code(code)) {
      out.refused_product_code = true;
      return out;
    }
    add_once(properties, out.forwarded, L"/n " + code);
    return out;
  }
  const std::wstring transform = L":InstanceId" + std::to_wstring(id) + L".mst";
  if (properties.find(transform) == std::wstring::npos) {
    msi_rules::merge_language_transform(properties, transform);
    msi_rules::append_properties(out.forwarded, L"TRANSFORMS=" + transform);
  }
  add_once(properties, out.forwarded, L"MSINEWINSTANCE=1");
  return out;
}

}  // namespace instance_rules
