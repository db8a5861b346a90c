// portable
// The rules of side-by-side instances: the instance table read from the settings,
// the upgrade entries that find a related product, which requested id a run may
// use, the silent and interactive choice, the dialog's options and rows, and the
// properties an instance adds to the msiexec property list. Pure functions over
// memory; instances.cpp asks the Windows Installer and shows the dialog.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "package/IniProfile.h"

namespace instance_rules {

// Ids with a meaning of their own.
constexpr int kDefaultInstance = -1;  // the product as built, no instance transform
constexpr int kAllInstances = -2;     // every instance (patch runs only)
constexpr int kInvalidInstance = -3;  // a /instance= value that is not a number
constexpr int kAskInstance = -4;      // not decided: ask

// Upgrade-entry attribute bits.
constexpr uint32_t kDetectOnly = 0x2;
constexpr uint32_t kMinInclusive = 0x100;
constexpr uint32_t kMaxInclusive = 0x200;
constexpr uint32_t kLanguagesExclusive = 0x400;

struct UpgradeEntry {
  std::wstring min_version;  // empty: no lower bound
  std::wstring max_version;  // empty: no upper bound
  std::wstring languages;    // comma-separated language ids; empty: any language
  uint32_t attributes = 0;
};

struct InstanceRecord {
  qz::IniProfile::Keys properties;  // every non-empty key of the instance's section
  bool installed = false;
  std::wstring related_product;     // an installed product this instance would upgrade
  bool related_found = false;
  // The property's value, empty when absent.
  std::wstring property(const wchar_t* name) const;
  // Neither installed nor upgrading an installed product: free for a new instance.
  bool free() const { return !installed && !related_found; }
};

struct InstanceTable {
  std::map<int, InstanceRecord> instances;  // by id, the default instance (-1) included
  std::vector<UpgradeEntry> upgrades;
  bool instances_loaded = false;
  bool upgrades_loaded = false;
  bool states_loaded = false;
  // At least one instance is defined (the default instance does not count).
  bool has_instances() const;
  const InstanceRecord* find(int id) const;
};

// The setup's own codes, which the default instance carries.
struct OwnCodes {
  std::wstring product_code, upgrade_code, package_code, product_version;
};

// The instance id a value of [Instances] names: "InstanceId" followed by decimal
// digits only; nothing for any other value (or an id beyond the int range).
std::optional<int> instance_id_of(std::wstring_view value);
// One [UpgardeTable] value: fields separated by "@", the second to fifth being the
// minimum and maximum version, the languages and the attribute bits (decimal).
UpgradeEntry parse_upgrade_entry(std::wstring_view value);

// Reads [Instances], each named section and [UpgardeTable] into the table (the
// installed states stay unknown). Only the keys present are walked, so a huge
// count costs nothing; an id named twice keeps its first entry.
void load_table(const qz::IniProfile& settings, const OwnCodes& own, InstanceTable* table);

// Whether an installed product (its VersionString and Language) is one the entry
// would upgrade.
bool upgrade_entry_matches(const UpgradeEntry& entry, const std::wstring& version, const std::wstring& language);

// Whether the run may work on the id: -1 outside a patch run, -2 in one, any id
// of the table otherwise; -3 and -4 never.
bool usable(const InstanceTable& table, int id, bool patch_run);

// What the dialog offers (its option and list rules).
struct DialogChoices {
  int first_choice = kAskInstance;  // the id the first option stands for
  bool first_enabled = false;
  std::vector<int> rows;            // installed or related instances, in id order
  bool second_enabled = false;
};
DialogChoices dialog_choices(const InstanceTable& table, bool patch_run);

// The dialog as select sees it.
struct DialogAnswer {
  enum Kind { kNext, kCancel, kUnavailable } kind = kUnavailable;
  int selection = kAskInstance;
};

struct SelectInput {
  int requested = kAskInstance;
  bool silent = false;  // /s or /auto
  bool patch_run = false;
};
struct SelectOutcome {
  bool go_on = false;
  int id = kAskInstance;
  bool changed = false;  // the id differs from the requested one
  bool asked = false;    // the dialog was shown
  int result = 0;        // the result code when the run stops
};
// The choice of the instance. `ask` shows the dialog; it is called only when
// neither the command line nor the table decides.
SelectOutcome select(const InstanceTable& table, const SelectInput& in, const std::function<DialogAnswer()>& ask);

// A product code as the Windows Installer writes one: "{" 8-4-4-4-12 hex digits "}".
bool is_product_code(std::wstring_view text);

// The property-list additions for a usable id (none for -1 and -2). Each text that
// is not yet in the list (case-sensitive) is appended after a blank; the instance
// transform of a new instance is merged into TRANSFORMS once. `forwarded` gets
// what the session hands on as a /v value (empty: nothing to hand on). A product
// code that is not one is never put after /n.
struct Applied {
  std::wstring forwarded;
  bool refused_product_code = false;
};
Applied apply(const InstanceTable& table, int id, std::wstring& properties);

}  // namespace instance_rules
