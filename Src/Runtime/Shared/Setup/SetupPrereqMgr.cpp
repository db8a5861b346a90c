#include "SetupPrereqMgr.h"

#include "QzPreReqDlg.h"
#include "SetupPreRequisite.h"
#include "package/LaunchSettings.h"
#include "prereq_manager_rules.h"
#include "prereq_section.h"
#include "prereq_system_win.h"
#include "support/debuglog.h"
#include "support/handles.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\Shared\\Setup\\SetupPrereqMgr";

namespace {

const wchar_t kCurrentVersion[] = L"Software\\Microsoft\\Windows\\CurrentVersion";
const wchar_t kRunOnce[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kRunOnceValue[] = L"  QZSetupPrerequisistes";

bool read_string(HKEY key, const std::wstring& name, std::wstring* text) {
  return qz::RegQueryString(key, L"", name, 0, text) == ERROR_SUCCESS;
}

}  // namespace

CSetupPrereqMgr::CSetupPrereqMgr(CSetupPrereqMgrCallback& session, PrerequisiteHooks hooks)
    : session_(session), hooks_(std::move(hooks)), system_(&prq::windows_system()) {
  session_.set_resume_index(-1);
}

CSetupPrereqMgr::~CSetupPrereqMgr() = default;

std::wstring CSetupPrereqMgr::ReadPrerequisiteKey(const std::wstring& key, int index) {
  return get_setting(prq::kPrerequisiteSection, prq::section_key(key, index), L"");
}

bool CSetupPrereqMgr::needs_elevation_now(bool some_not_limited) {
  bool elevated = hooks_.elevated ? hooks_.elevated() : qz::IsElevatedAdministrator();
  return some_not_limited && qz::OsMajorVersion() >= 6 && !elevated;
}

bool CSetupPrereqMgr::CollectPrerequisites(const std::wstring& features, bool* needs_elevation, bool* any_visible) {
  entries_.clear();
  *needs_elevation = false;
  *any_visible = false;
  const std::vector<std::wstring> requested = prq::feature_names(features);
  LaunchSettings& settings = get_launch_settings();
  const int mode = get_launch_mode();
  const auto listed =
      prq::listed_prerequisites([this](const std::wstring& key) { return get_setting(prq::kPrerequisiteSection, key, L""); });
  for (const prq::ListedPrerequisite& item : listed) {
    const wchar_t* name = item.prq_name.c_str();
    QZ_LOG(L"Checking setup prerequisite '%s'", name);
    if (!item.features.empty()) set_value(prq::kValueFeaturePrerequisites, L"1", false);
    if (mode == prq::kModeAdministrative) {
      if (!requested.empty()) break;
    } else if (!requested.empty() || !item.features.empty()) {
      if (!prq::features_match(item.features, requested)) {
        QZ_LOG(L"Features do not match for prerequisite '%s'", name);
        continue;
      }
      QZ_LOG(L"Features match for prerequisite '%s'", name);
    } else {
      QZ_LOG(L"Prerequisite '%s' scheduled before feature selection", name);
    }
    if (!item.name_is_safe) {
      // Joined to a folder, a name with a path in it would read or write elsewhere.
      QZ_LOG(L"Prerequisite '%s' is not a plain file name; skipped", name);
      continue;
    }
    if (item.app_package) {
      extract_member(L"PkgDeployHost.exe", true, true, nullptr, true);
      settings.app_package_helper = zpath(qzproc::temp_folder()).join(L"PkgDeployHost.exe");
    }
    std::wstring path;
    if (settings.no_engine) {
      path = zpath(settings.media_folder).join(L"QZSetupPrerequisites").join(item.prq_name);
    } else {
      if (qzproc::temp_folder().empty() || !extract_member(item.prq_name, true, true, nullptr, true)) continue;
      path = zpath(qzproc::temp_folder()).join(item.prq_name);
    }
    CSetupPreRequisite p(nullptr, nullptr, nullptr, &settings, item.kind, system());
    p.LoadPrq(path, true, L"");
    if (mode == prq::kModeAdministrative) {
      QZ_LOG(L"Marking prerequisite '%s' for install during ADMIN install", name);
    } else if (!p.IsNeeded() || item.index <= get_resume_index()) {
      QZ_LOG(L"Skipping prerequisite '%s' because it was installed before the reboot", name);
      continue;
    }
    PrerequisiteEntry entry;
    entry.hidden = p.fields().hidden;
    entry.path = path;
    entry.kind = item.kind;
    entries_[item.index] = entry;
    if (!p.fields().limited_user) *needs_elevation = true;
    if (!entry.hidden) *any_visible = true;
  }
  return !entries_.empty();
}

int CSetupPrereqMgr::RunPrerequisites(int dialog_mode, const std::wstring& features, bool register_resume,
                                      MSIHANDLE* installer) {
  QZ_LOG(L"Running setup prerequisites (%s)...", features.c_str());
  const std::wstring product = get_launch_settings().product_name;
  const std::wstring resume_name = zString::format(L"%%QZ_PREREQ%%-%s", product.c_str());
  const std::wstring saved_name = zString::format(L"%%QZ_PREREQF%%-%s", product.c_str());
  const int mode = get_launch_mode();
  qz::reg_key key;
  bool opened = false;
  if (mode == prq::kModeInstall) {
    opened = RegOpenKeyExW(HKEY_CURRENT_USER, kCurrentVersion, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.receive()) ==
             ERROR_SUCCESS;
    std::wstring text;
    if (opened && features.empty() && read_string(key.get(), saved_name, &text)) {
      // The prerequisites of this pass were installed before the restart; the
      // installation goes on with the properties it had then.
      set_value(prq::kValueSavedProperties, text, false);
      RegDeleteValueW(key.get(), saved_name.c_str());
      QZ_LOG(L"Prerequisites returning %d", kCarryOn);
      return kCarryOn;
    }
    if (opened && read_string(key.get(), resume_name, &text)) {
      int index = prq::parse_resume_index(text);
      QZ_LOG(L"Resuming prerequisites after index %d ('%s')", index, text.c_str());
      set_resume_index(index);
      RegDeleteValueW(key.get(), resume_name.c_str());
    }
  }

  int result = kCarryOn;
  bool needs_elevation = false, any_visible = false;
  if (CollectPrerequisites(features, &needs_elevation, &any_visible)) {
    if (mode == prq::kModeAdministrative && has_value(prq::kValueAdminImageFolder)) {
      QzPreReqDlg placement(*this, dialog_mode, false);
      const std::wstring image = get_value(prq::kValueAdminImageFolder);
      for (const auto& [index, entry] : entries_) {
        CSetupPreRequisite p(nullptr, nullptr, nullptr, &get_launch_settings(), entry.kind, system());
        p.LoadPrq(entry.path, false, L"");
        placement.LocatePrerequisiteFiles(p, image, 0);
      }
    } else if (mode == prq::kModeInstall) {
      QzPreReqDlg dialog(*this, dialog_mode, register_resume);
      const bool elevation = needs_elevation_now(needs_elevation);
      dialog.set_needs_elevation(elevation);
      if (!elevation && !any_visible && !has_value(prq::kValueHostWindow)) {
        if (!create_setup_dialog()) {
          QZ_LOG(L"Prerequisites returning %d", kStop);
          return kStop;
        }
        QZ_LOG(L"Showing initialization dialog for prerequisites.");
      }
      int r = dialog.RunPrerequisiteDialog(features, !any_visible, installer);
      if (r == 2 || r == 9) {
        result = kStop;
      } else if (r == 7) {
        QZ_LOG(L"Prerequisites rebooting");
        return kRestartPending;
      }
    }
  }

  if (mode == prq::kModeInstall) {
    if (opened) {
      RegDeleteValueW(key.get(), resume_name.c_str());
      RegDeleteValueW(key.get(), saved_name.c_str());
    }
    if (register_resume) {
      qz::reg_key run_once;
      if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunOnce, 0, KEY_SET_VALUE, run_once.receive()) == ERROR_SUCCESS)
        RegDeleteValueW(run_once.get(), kRunOnceValue);
    }
  }
  QZ_LOG(L"Prerequisites returning %d", result);
  return result;
}

std::wstring CSetupPrereqMgr::transform_list() {
  std::wstring line = get_value(prq::kValueInstallerCommandLine);
  if (hooks_.merge_transform) line = hooks_.merge_transform(line, get_value(prq::kValueLanguageTransform));
  std::wstring list = prq::transform_list(line);
  if (!list.empty()) QZ_LOG(L"Transform list: %s", list.c_str());
  return list;
}
