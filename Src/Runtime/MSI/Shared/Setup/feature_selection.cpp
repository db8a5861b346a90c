#include "feature_selection.h"

#include <vector>

#include "msi_library.h"
#include "msi_rules.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\feature_selection";

namespace {

// Every transform error is suppressed: costing only needs the feature states.
constexpr int kIgnoreTransformErrors = 31;
constexpr size_t kFeatureNameCapacity = 260;

// Field 1 of every record of the active database's Feature table.
std::vector<std::wstring> feature_table(MSIHANDLE installer) {
  std::vector<std::wstring> features;
  qzmsi::handle db(qzmsi::GetActiveDatabase(installer));
  qzmsi::handle view;
  if (!db || qzmsi::DatabaseOpenView(db.get(), L"SELECT * FROM `Feature`", view.receive()) != ERROR_SUCCESS ||
      qzmsi::ViewExecute(view.get(), 0) != ERROR_SUCCESS)
    return features;
  qzmsi::handle record;
  while (qzmsi::ViewFetch(view.get(), record.receive()) == ERROR_SUCCESS) {
    std::wstring name;
    if (qzmsi::read_string(kFeatureNameCapacity, &name, [&](wchar_t* b, DWORD* s) {
          return qzmsi::RecordGetString(record.get(), 1, b, s);
        }) == ERROR_SUCCESS)
      features.push_back(name);
  }
  qzmsi::ViewClose(view.get());
  return features;
}

}  // namespace

MSIHANDLE OpenPackageForCosting(const std::wstring& package, const feature_rules::PropertyMap& properties) {
  const std::vector<std::wstring> transforms = feature_rules::costing_transforms(properties, zpath(package).folder());
  // The level in force before is given back once costing is done.
  const INSTALLUILEVEL previous = qzmsi::SetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  struct RestoreLevel {
    INSTALLUILEVEL level;
    ~RestoreLevel() {
      if (level != INSTALLUILEVEL_NOCHANGE) qzmsi::SetInternalUI(level, nullptr);
    }
  } restore{previous};

  qzmsi::handle db;
  UINT status = qzmsi::OpenDatabase(package.c_str(), MSIDBOPEN_READONLY, db.receive());
  if (status != ERROR_SUCCESS) {
    QZ_LOG(L"Error opening database '%s' for Costing: %d", package.c_str(), static_cast<int>(status));
    return 0;
  }
  for (const std::wstring& transform : transforms) {
    status = qzmsi::DatabaseApplyTransform(db.get(), transform.c_str(), kIgnoreTransformErrors);
    if (status != ERROR_SUCCESS)
      QZ_LOG(L"Error applying transform '%s' for Costing: %d", transform.c_str(), static_cast<int>(status));
  }
  MSIHANDLE installer = 0;
  const std::wstring reference = L"#" + std::to_wstring(static_cast<unsigned long>(db.get()));
  status = qzmsi::OpenPackage(reference.c_str(), &installer);
  if (status != ERROR_SUCCESS) {
    QZ_LOG(L"Error opening package '%s' for Costing: %d", package.c_str(), static_cast<int>(status));
    return 0;
  }
  for (const auto& [name, value] : properties) qzmsi::SetProperty(installer, name.c_str(), value.c_str());
  for (const wchar_t* action : {L"CostInitialize", L"FileCost", L"CostFinalize"}) {
    status = qzmsi::DoAction(installer, action);
    if (status != ERROR_SUCCESS) QZ_LOG(L"%s for Costing returned %d", action, static_cast<int>(status));
  }
  return installer;
}

std::wstring BuildFeatureSelection(Session& session, const std::wstring& package, MSIHANDLE* installer) {
  std::wstring text = session.get_value(kValueInstallerCommandLine) + L" " + session.get_value(kValueSavedProperties);
  msi_rules::merge_language_transform(text, session.get_value(kValueLanguageTransform));
  const feature_rules::PropertyMap properties = feature_rules::ParsePropertyList(text);
  if (!*installer) *installer = OpenPackageForCosting(package, properties);

  const MSIHANDLE handle = *installer;
  std::vector<std::wstring> features;
  if (handle) features = feature_table(handle);
  const std::wstring product = session.get_value(kValueProductCode);
  feature_rules::FeatureFacts facts;
  facts.features = handle ? &features : nullptr;
  facts.installed_state = [&](const std::wstring& name) {
    return static_cast<int>(qzmsi::QueryFeatureState(product.c_str(), name.c_str()));
  };
  facts.costed_state = [&](const std::wstring& name) {
    INSTALLSTATE installed = INSTALLSTATE_UNKNOWN, action = INSTALLSTATE_UNKNOWN;
    if (qzmsi::GetFeatureState(handle, name.c_str(), &installed, &action) != ERROR_SUCCESS) return -1;
    return static_cast<int>(action);
  };
  return feature_rules::select_features(properties, facts);
}
