#include "msi_checks.h"

#include <cstring>
#include <cwchar>
#include <vector>

#include "msi_library.h"
#include "msi_rules.h"
#include "package/LaunchSettings.h"
#include "package/error_display.h"
#include "package/load_string.h"
#include "package/positional_text.h"
#include "packaged_setting.h"
#include "secret_mask.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/dynload.h"
#include "support/error_codes.h"
#include "support/handles.h"
#include "support/process_state.h"
#include "support/support_rules.h"
#include "support/utils.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\msi_checks";

namespace {
std::wstring g_settings_file_for_tests;
}

void set_msi_settings_file_for_tests(const std::wstring& path) { g_settings_file_for_tests = path; }

namespace {

std::wstring test_file_setting(const std::wstring& section, const std::wstring& key, size_t capacity) {
  std::vector<wchar_t> buffer(capacity + 2);
  DWORD n = GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", buffer.data(),
                                     static_cast<DWORD>(buffer.size()), g_settings_file_for_tests.c_str());
  return std::wstring(buffer.data(), n < capacity ? n : capacity);
}

}  // namespace

std::wstring msi_setting(const std::wstring& section, const std::wstring& key, size_t capacity) {
  if (g_settings_file_for_tests.empty()) return read_packaged_setting(section, key, capacity);
  return test_file_setting(section, key, capacity);
}

int msi_setting_int(const std::wstring& section, const std::wstring& key, int default_value) {
  return qz::rules::parse_profile_int(msi_setting(section, key, 64), default_value);
}

std::wstring msi_package_setting(Session& session, const std::wstring& package, const std::wstring& key,
                                 size_t capacity) {
  // /e made the temporary folder's Setup.INI the session's settings file: its
  // profile is read once and kept, not loaded again for every key.
  if (!session.temp_folder_override().empty() &&
      (session.profile_loaded() || session.load_profile(session.settings().setup_ini_path)))
    return session.get_setting(package, key, L"").substr(0, capacity);
  return msi_setting(package, key, capacity);
}

int msi_package_setting_int(Session& session, const std::wstring& package, const std::wstring& key,
                            int default_value) {
  return qz::rules::parse_profile_int(msi_package_setting(session, package, key, 64), default_value);
}

std::wstring msi_stream_setting_ini(const std::wstring& section, const std::wstring& key, size_t capacity) {
  if (g_settings_file_for_tests.empty()) return read_packaged_setting_ini(section, key, capacity);
  return test_file_setting(section, key, capacity);
}

int msi_message_box(Session& session, const std::wstring& text, UINT type, int silent_answer, bool auto_is_silent) {
  const LaunchSettings& s = session.settings();
  if (s.silent || (auto_is_silent && s.auto_)) return silent_answer;
  int answer = message_box(s, nullptr, text, type, silent_answer, 0);
  // No display (or no window station): take the silent answer rather than a failure.
  return answer > 0 ? answer : silent_answer;
}

std::wstring msi_message_text(Session& session, unsigned id, const std::wstring& arg) {
  std::wstring text = load_string(session.settings(), id);
  if (text.empty()) return std::to_wstring(id);
  return lang::fill_printf_style(text, {arg});
}

std::wstring module_file_version(const wchar_t* module) {
  DWORD ms = 0, ls = 0;
  if (!qz::FileVersion(module, &ms, &ls)) return std::wstring();
  wchar_t text[64];
  swprintf(text, 64, L"%u.%u.%u.%u", HIWORD(ms), LOWORD(ms), HIWORD(ls), LOWORD(ls));
  return text;
}

bool check_engine_version(Session& session) {
  std::wstring version = module_file_version(L"Msi.DLL");
  // No version resource reads as 0, which is lower.
  if (msi_rules::compare_versions(msi_rules::kMinimumEmbeddedUiEngine, version.c_str()) == -1) {
    QZ_LOG(L"Windows Installer 4.5 or newer is required to run this installation but is not present on the "
           L"machine. Setup will now exit.");
    report_error(session.settings(), err::kEngineTooOld);
    return false;
  }
  return true;
}

UINT installed_product_info(const std::wstring& product_code, const wchar_t* property, size_t capacity,
                            std::wstring* value) {
  value->clear();
  std::wstring buffer(capacity, L'\0');
  DWORD size = static_cast<DWORD>(capacity);
  UINT st = qzmsi::GetProductInfo(product_code.c_str(), property, &buffer[0], &size);
  if (st == ERROR_SUCCESS) value->assign(buffer.c_str(), size < capacity ? size : capacity - 1);
  return st;
}

bool product_installed(const std::wstring& product_code) {
  std::wstring code;
  return installed_product_info(product_code, L"PackageCode", 260, &code) == ERROR_SUCCESS;
}

int upgrade_policy_for(Session& session) {
  const LaunchSettings& s = session.settings();
  return msi_rules::upgrade_policy(msi_setting_int(L"Startup", L"OnUpgrade", 1), s.silent || s.auto_);
}

void apply_minor_upgrade_properties(Session& session) {
  std::wstring list = session.get_value(kValueInstallerCommandLine);
  std::wstring add = msi_rules::minor_upgrade_additions(list);
  if (add.empty()) return;
  msi_rules::append_properties(list, add);
  session.set_value(kValueInstallerCommandLine, list);
  session.add_switch(L"/v", add, true);
}

bool upgrade_check(Session& session, int* policy) {
  msi_rules::UpgradeFacts facts;
  facts.policy = *policy;
  facts.launch_mode = session.launch_mode();
  facts.product_code = session.get_value(kValueProductCode);
  facts.package_code = session.get_value(kValuePackageCode);
  facts.product_version = session.get_value(kValueProductVersion);
  msi_rules::UpgradeHooks hooks;
  hooks.product_info = [&facts](const std::wstring& property, std::wstring* value) -> unsigned {
    size_t capacity = property == L"InstalledProductName" ? 1024 : 50;
    return installed_product_info(facts.product_code, property.c_str(), capacity, value);
  };
  hooks.ask_upgrade = [&session](const std::wstring& name) {
    return msi_message_box(session, msi_message_text(session, 1128, name), MB_YESNO | MB_ICONQUESTION, IDYES) ==
           IDYES;
  };
  hooks.tell_later_version = [&session](const std::wstring& name) {
    msi_message_box(session, msi_message_text(session, 1129, name), MB_OK | MB_ICONEXCLAMATION, IDOK);
  };
  hooks.log = [](const std::wstring& line) { QZ_LOG(L"%s", line.c_str()); };
  msi_rules::UpgradeOutcome out = msi_rules::decide_upgrade(facts, hooks);
  *policy = facts.policy;
  if (out.apply_minor_upgrade) apply_minor_upgrade_properties(session);
  // A run that installs nothing over the installed product must not end as a success.
  if (!out.go_on) qzproc::set_exit_code(out.result);
  return out.go_on;
}

// The session run's step: the check with the session's policy, which it may
// turn to skip.
bool upgrade_check(Session& session) {
  int policy = session.upgrade_mode();
  bool go_on = upgrade_check(session, &policy);
  session.set_upgrade_mode(policy);
  return go_on;
}

bool IsPackage64Bit(const std::wstring& package_path) {
  QZ_LOG(L"Checking package platform...");
  qzmsi::handle db;
  if (qzmsi::OpenDatabase(package_path.c_str(), MSIDBOPEN_READONLY, db.receive()) != ERROR_SUCCESS) {
    QZ_LOG(L"Package is 32-bit");
    return false;
  }
  qzmsi::handle summary;
  UINT st = qzmsi::GetSummaryInformation(db.get(), nullptr, 0, summary.receive());
  QZ_LOG(L"Status returned from summary info: %d", static_cast<int>(st));
  bool is64 = false;
  if (st == ERROR_SUCCESS) {
    std::wstring templ;
    st = qzmsi::read_string(260, &templ, [&](wchar_t* b, DWORD* s) {
      UINT type = 0;
      INT number = 0;
      FILETIME time{};
      return qzmsi::SummaryInfoGetProperty(summary.get(), 7, &type, &number, &time, b, s);
    });
    QZ_LOG(L"Status returned obtaining PID_TEMPLATE property: %d", static_cast<int>(st));
    if (st == ERROR_SUCCESS) {
      QZ_LOG(L"Template summary for current package: %s", templ.c_str());
      is64 = msi_rules::template_is_64bit(templ);
    }
  }
  QZ_LOG(is64 ? L"Package is 64-bit" : L"Package is 32-bit");
  return is64;
}

std::wstring read_package_product_version(const std::wstring& package_path) {
  qzmsi::handle db;
  if (qzmsi::OpenDatabase(package_path.c_str(), MSIDBOPEN_READONLY, db.receive()) != ERROR_SUCCESS)
    return std::wstring();
  try {
    qzmsi::handle record =
        qzmsi::query_first_record(db.get(), L"SELECT * FROM `Property` WHERE `Property`='ProductVersion'");
    std::wstring buffer(1024, L'\0');
    DWORD size = 1024;
    if (qzmsi::RecordGetString(record.get(), 2, &buffer[0], &size) != ERROR_SUCCESS) return std::wstring();
    return std::wstring(buffer.c_str(), size < 1024 ? size : 1023);
  } catch (const qzmsi::com_exception& e) {
    QZ_LOG(L"%s", e.description().c_str());
    return std::wstring();
  }
}

namespace {

// 1 when the file begins with the compound-file signature every installer
// database has, 0 when it is read and does not, -1 when it cannot be read.
int is_compound_file(const std::wstring& path) {
  static const unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  qz::file_handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return -1;
  unsigned char head[8] = {};
  DWORD got = 0;
  if (!ReadFile(file.get(), head, sizeof(head), &got, nullptr)) return -1;
  return got == sizeof(head) && memcmp(head, kSignature, sizeof(head)) == 0 ? 1 : 0;
}

}  // namespace

void learn_hidden_properties(const std::wstring& package_path) {
  qzmsi::handle db, view, record;
  if (qzmsi::OpenDatabase(package_path.c_str(), MSIDBOPEN_READONLY, db.receive()) != ERROR_SUCCESS) {
    // A file that is no installer database at all hides nothing from anyone.
    if (is_compound_file(package_path) == 0) {
      QZ_LOG(L"The package %s is no installer database: no property value is hidden", package_path.c_str());
      secret_mask::set_hidden_properties(L"");
    } else {
      QZ_LOG(L"The package %s cannot be read: every property value stays hidden in the log", package_path.c_str());
    }
    return;
  }
  std::wstring hidden;
  if (qzmsi::DatabaseOpenView(db.get(), L"SELECT `Value` FROM `Property` WHERE `Property`='MsiHiddenProperties'",
                              view.receive()) == ERROR_SUCCESS &&
      qzmsi::ViewExecute(view.get(), 0) == ERROR_SUCCESS && qzmsi::ViewFetch(view.get(), record.receive()) == ERROR_SUCCESS)
    qzmsi::read_string(256, &hidden, [&](wchar_t* b, DWORD* n) { return qzmsi::RecordGetString(record.get(), 1, b, n); });
  if (view) qzmsi::ViewClose(view.get());
  secret_mask::set_hidden_properties(hidden);
}

bool package_product_version_matches(const std::wstring& package_path, const std::wstring& version) {
  std::wstring v = read_package_product_version(package_path);
  if (v.empty()) return false;
  return msi_rules::compare_versions(v.c_str(), version.c_str()) == 0;
}

bool ReadPackageCode(const std::wstring& package_path, std::wstring* package_code) {
  package_code->clear();
  qzmsi::handle db;
  if (qzmsi::OpenDatabase(package_path.c_str(), MSIDBOPEN_READONLY, db.receive()) != ERROR_SUCCESS) return false;
  qzmsi::handle summary;
  if (qzmsi::GetSummaryInformation(db.get(), nullptr, 0, summary.receive()) != ERROR_SUCCESS) return false;
  wchar_t buffer[72] = {};
  DWORD size = 72;
  UINT type = 0;
  INT number = 0;
  FILETIME time{};
  if (qzmsi::SummaryInfoGetProperty(summary.get(), 9, &type, &number, &time, buffer, &size) != ERROR_SUCCESS)
    return false;
  package_code->assign(buffer, size < 72 ? size : 71);
  return true;
}
