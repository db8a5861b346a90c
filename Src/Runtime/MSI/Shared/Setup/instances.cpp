#include "instances.h"

#include <memory>

#include "instance_dialog.h"
#include "instance_rules.h"
#include "msi_checks.h"
#include "msi_library.h"
#include "package/LaunchSettings.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/error_codes.h"
#include "support/process_state.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\instances";

using namespace instance_rules;

namespace {

constexpr size_t kProductTextCapacity = 260;

// The session's table, loaded when the session asks whether instances exist.
struct SessionTable {
  const Session* owner = nullptr;
  InstanceTable table;
};
SessionTable g_table;

InstanceDialogUi* g_dialog = nullptr;

std::wstring product_info(const std::wstring& product, const wchar_t* property) {
  std::wstring value;
  if (product.empty() || installed_product_info(product, property, kProductTextCapacity, &value) != ERROR_SUCCESS)
    return std::wstring();
  return value;
}

// The first product related to the upgrade code that one of the entries would
// upgrade, tried entry by entry; else the first related product at all.
void find_related_product(const std::vector<UpgradeEntry>& upgrades, InstanceRecord& record) {
  const std::wstring upgrade_code = record.property(L"UpgradeCode");
  if (upgrade_code.empty()) return;
  auto related = [&upgrade_code](DWORD index, std::wstring* code) {
    wchar_t product[kProductTextCapacity] = {};
    if (qzmsi::EnumRelatedProducts(upgrade_code.c_str(), index, product) != ERROR_SUCCESS) return false;
    *code = product;
    return true;
  };
  for (const UpgradeEntry& entry : upgrades) {
    std::wstring code;
    for (DWORD index = 0; related(index, &code); ++index) {
      if (upgrade_entry_matches(entry, product_info(code, L"VersionString"), product_info(code, L"Language"))) {
        record.related_product = code;
        record.related_found = true;
        return;
      }
    }
  }
  std::wstring first;
  if (related(0, &first)) {
    record.related_product = first;
    record.related_found = true;
  }
}

InstanceTable& table_of(Session& session, bool reload = false) {
  if (!reload && g_table.owner == &session && g_table.table.instances_loaded) return g_table.table;
  g_table.owner = &session;
  g_table.table = InstanceTable();
  OwnCodes own{session.get_value(kValueProductCode), session.get_value(kValueUpgradeCode),
               session.get_value(kValuePackageCode), session.get_value(kValueProductVersion)};
  load_table(session.profile(), own, &g_table.table);
  return g_table.table;
}

void load_states(InstanceTable& table) {
  if (table.states_loaded) return;
  table.states_loaded = true;
  for (auto& [id, record] : table.instances) {
    // A missing msi.dll answers "not installed" and finds no related product.
    record.installed = product_installed(record.property(L"ProductCode"));
    if (!record.installed && !table.upgrades.empty()) find_related_product(table.upgrades, record);
    QZ_LOG(L"Instance %d: installed %d, related product %s", id, record.installed ? 1 : 0,
           record.related_found ? record.related_product.c_str() : L"none");
  }
}

const InstanceRecord* record_of(Session& session, int id) {
  InstanceTable& table = table_of(session);
  load_states(table);
  return table.find(id);
}

// The installed product behind the instance: its own when installed, else the related one.
std::wstring installed_product_of(const InstanceRecord& record) {
  if (record.installed) return record.property(L"ProductCode");
  return record.related_found ? record.related_product : std::wstring();
}

std::wstring default_property(Session& session, const wchar_t* name) {
  const InstanceRecord* def = record_of(session, kDefaultInstance);
  return def ? def->property(name) : std::wstring();
}

int ask_in_dialog(Session& session, const InstanceTable& table, int* selection) {
  if (!g_dialog) {
    QZ_LOG(L"No dialog can ask for the instance");
    return InstanceDialogUi::kUnavailable;
  }
  const bool patch = session.launch_mode() == kModePatch;
  DialogChoices choices = dialog_choices(table, patch);
  InstanceDialogModel model;
  model.patch_run = patch;
  model.first_choice = choices.first_choice;
  model.first_enabled = choices.first_enabled;
  model.second_enabled = choices.second_enabled;
  for (int id : choices.rows) {
    InstanceDialogRow row;
    row.id = id;
    row.name = instance_product_name(session, id);
    row.version = instance_product_version(session, id);
    row.location = instance_install_location(session, id);
    model.rows.push_back(std::move(row));
  }
  session.hide_setup_dialog();
  return g_dialog->show(session.settings(), model, selection);
}

// The chosen instance's codes become the session's, for the upgrade check and the
// package location; its name becomes the one the user interface shows.
void take_instance_codes(Session& session, int id) {
  const InstanceRecord* record = record_of(session, id);
  if (!record || id < 0) return;
  const std::pair<uint32_t, const wchar_t*> codes[] = {
      {kValueProductCode, L"ProductCode"}, {kValuePackageCode, L"PackageCode"},
      {kValueProductVersion, L"ProductVersion"}, {kValueUpgradeCode, L"UpgradeCode"}};
  for (const auto& [value, name] : codes) {
    std::wstring text = record->property(name);
    if (!text.empty()) session.set_value(value, text);
  }
  std::wstring code = record->property(L"ProductCode");
  if (!code.empty()) session.settings().product_code = code;
}

}  // namespace

void set_instance_dialog(InstanceDialogUi* ui) { g_dialog = ui; }
InstanceDialogUi* instance_dialog() { return g_dialog; }

// The run's one load: a later session at the same address never sees this one's table.
bool detect_instances(Session& session) { return table_of(session, true).has_instances(); }

int choose_instance(Session& session) {
  InstanceTable& table = table_of(session);
  load_states(table);
  LaunchSettings& settings = session.settings();
  SelectInput in;
  in.requested = session.instance_choice();
  in.silent = settings.silent || settings.auto_;
  in.patch_run = session.launch_mode() == kModePatch;
  SelectOutcome out = select(table, in, [&]() {
    DialogAnswer answer;
    int selection = kAskInstance;
    int shown = ask_in_dialog(session, table, &selection);
    answer.kind = shown == InstanceDialogUi::kNext     ? DialogAnswer::kNext
                  : shown == InstanceDialogUi::kCancel ? DialogAnswer::kCancel
                                                       : DialogAnswer::kUnavailable;
    answer.selection = selection;
    return answer;
  });
  if (!out.go_on) {
    if (out.result == -1)
      QZ_LOG(L"The instance dialog was cancelled");
    else
      QZ_LOG(L"Instance %d cannot be used (requested %d): setup returns %d", out.id, in.requested, out.result);
    qzproc::set_exit_code(out.result);
    return kInstanceChoiceFailed;
  }
  session.set_instance_choice(out.id);
  QZ_LOG(L"Instance chosen: %d", out.id);
  take_instance_codes(session, out.id);
  std::wstring list = session.get_value(kValueInstallerCommandLine);
  Applied applied = apply(table, out.id, list);
  if (applied.refused_product_code)
    QZ_LOG(L"Instance %d: its ProductCode is not a product code and is not passed on", out.id);
  if (!applied.forwarded.empty()) {
    session.set_value(kValueInstallerCommandLine, list);
    session.add_switch(L"/v", applied.forwarded, true);
  }
  if (!out.asked) return kInstanceChosen;
  const InstanceRecord* record = table.find(out.id);
  std::wstring name = record ? record->property(L"ProductName") : std::wstring();
  if (name.empty()) name = default_property(session, L"ProductName");
  if (!name.empty()) settings.product_name = name;
  return out.changed ? kInstanceChosenChooseLanguage : kInstanceChosen;
}

std::wstring instance_product_code(Session& session, int id) {
  const InstanceRecord* r = record_of(session, id);
  return r ? r->property(L"ProductCode") : std::wstring();
}

std::wstring instance_package_code(Session& session, int id) {
  const InstanceRecord* r = record_of(session, id);
  return r ? r->property(L"PackageCode") : std::wstring();
}

std::wstring instance_product_version(Session& session, int id) {
  const InstanceRecord* r = record_of(session, id);
  if (!r) return std::wstring();
  std::wstring version = product_info(installed_product_of(*r), L"VersionString");
  if (version.empty()) version = r->property(L"ProductVersion");
  if (version.empty()) version = default_property(session, L"ProductVersion");
  return version;
}

std::wstring instance_product_name(Session& session, int id) {
  const InstanceRecord* r = record_of(session, id);
  if (!r) return std::wstring();
  std::wstring name = product_info(installed_product_of(*r), L"InstalledProductName");
  if (name.empty()) name = r->property(L"ProductName");
  if (name.empty()) name = session.settings().product_name;
  return name;
}

std::wstring instance_install_location(Session& session, int id) {
  const InstanceRecord* r = record_of(session, id);
  return r ? product_info(installed_product_of(*r), L"InstallLocation") : std::wstring();
}

bool instance_installed(Session& session, int id) {
  const InstanceRecord* r = record_of(session, id);
  return r && r->installed;
}
