// Session construction, stream progress, member extraction, the settings profile
// and the session's dialogs.
#include "session.h"

#include <vector>

#include "SetupPrereqMgr.h"
#include "cleanup.h"
#include "net/download_rules.h"
#include "package/LaunchSettings.h"
#include "package/error_display.h"
#include "package/inifilex.h"
#include "package/load_string.h"
#include "package/positional_text.h"
#include "package/settings_rules.h"
#include "packaged_setting.h"
#include "secret_mask.h"
#include "session_ui.h"
#include "support/debuglog.h"
#include "support/error_codes.h"
#include "support/message_pump.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\session";

namespace {

constexpr unsigned kTextExtracting = 1664;
constexpr unsigned kTextDecompressing = 1714;
constexpr unsigned kTextRestartQuestion = 1127;
constexpr unsigned kTextPreparing = 1102;
const wchar_t kWizardName[] = L"Brackenwright Wizard";
constexpr size_t kSettingCapacity = 1024;
constexpr int kSetupIniAttempts = 5;
constexpr DWORD kSetupIniPauseMs = 500;

// The prerequisite resume index is process-wide.
int g_resume_index = -1;

std::wstring module_file_name(HINSTANCE module) {
  wchar_t buffer[1024] = {};
  DWORD n = GetModuleFileNameW(module, buffer, 1024);
  if (n == 0 || n >= 1024) return std::wstring();  // a cut name would open another file
  return std::wstring(buffer, n);
}

class WaitCursor {
 public:
  WaitCursor() : old_(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
  ~WaitCursor() { SetCursor(old_); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  HCURSOR old_;
};

}  // namespace

Session::Session(HINSTANCE module, LaunchSettings& settings) : Session(module, settings, module_file_name(module)) {}

Session::Session(HINSTANCE module, LaunchSettings& settings, const std::wstring& launcher_file)
    : SessionState(settings), module_(module) {
  g_resume_index = -1;
  stream_ = std::make_unique<STREAM>(zpath(launcher_file));
}

Session::~Session() = default;

std::wstring Session::packaged_setting(const std::wstring& section, const std::wstring& key) {
  return read_packaged_setting(section, key, 260);
}

SessionDialog* Session::progress_dialog() {
  if (prerequisite_dialog_) return prerequisite_dialog_;
  return setup_dialog_.get();
}

bool Session::user_cancelled() { return setup_cancelled() || (prerequisite_dialog_ && prerequisite_dialog_->cancelled()); }

bool Session::progress(uint32_t done, uint32_t total) {
  int percent = (done == 0 || total < 100) ? 0 : static_cast<int>(done / (total / 100));
  SessionDialog* dialog = progress_dialog();
  return dialog ? dialog->set_progress(percent) : false;
}

void Session::show_status(int kind, const zString& name) {
  std::wstring text = load_string(settings(), kind == 1 ? kTextDecompressing : kTextExtracting);
  text += L": ";
  text += name;
  set_status_text(text);
}

void Session::delete_folder_later(const std::wstring& path) { record_folder(path); }

HWND Session::get_setup_dialog() { return setup_dialog_ ? setup_dialog_->window() : nullptr; }

bool Session::setup_cancelled() { return qzproc::cancelled() || (setup_dialog_ && setup_dialog_->cancelled()); }

int Session::create_setup_dialog() {
  if (settings().silent || setup_dialog_) return 1;
  if (dbglog::is_enabled()) QZ_LOG(L"Creating setup dialog...");
  std::unique_ptr<SessionDialog> dialog = session_ui().create_setup_dialog(*this, ui());
  if (!dialog) return 1;
  setup_dialog_ = std::move(dialog);
  std::wstring text =
      lang::fill_positional(load_string(settings(), kTextPreparing), {settings().product_name, kWizardName});
  if (main_text_window_) SetWindowTextW(main_text_window_, text.c_str());
  return 1;
}

void Session::close_setup_dialog() { session_ui().close_setup_windows(); }

bool Session::setup_dialog_shown() const { return setup_dialog_ && setup_dialog_->window(); }

bool Session::wait_out_splash() {
  if (settings().silent || settings().auto_ || !setup_dialog_) return !setup_cancelled();
  return setup_dialog_->wait_out_splash();
}

void Session::hide_setup_dialog() {
  if (setup_dialog_) setup_dialog_->hide();
}

void Session::set_progress(int percent) {
  if (setup_dialog_) setup_dialog_->set_progress(percent);
}

void Session::set_resume_index(int index) { g_resume_index = index; }
int Session::get_resume_index() { return g_resume_index; }

void Session::set_status_text(const std::wstring& text) {
  if (status_window_) SetWindowTextW(status_window_, text.c_str());
}

void Session::attach_status_window(HWND main_text, HWND status) {
  main_text_window_ = main_text;
  status_window_ = status;
}

bool Session::stream_contains(const std::wstring& name) { return stream_->contains(name); }

bool Session::extract_member(const std::wstring& name, bool report_error, bool force, const std::wstring* target,
                             bool delete_later) {
  if ((package_mode() == kPackageBesideLauncher && !force) || extraction_mode() != kExtractNormal) return true;
  WaitCursor cursor;
  zpath to;
  if (target && !target->empty()) {
    to = *target;
  } else if (!qzproc::temp_folder().empty()) {
    to = zpath(qzproc::temp_folder()).join(name);
  }
  bool ok = false;
  if (to.empty()) {
    // Without a temporary folder the name alone would land in the current folder.
    QZ_LOG(L"No temporary folder to extract '%s' to", name.c_str());
  } else {
    show_status(0, name);
    QZ_LOG(L"Extracting '%s' to %s", name.c_str(), to.c_str());
    ok = stream_->extract(name, to, this);
  }
  if (ok) {
    if (delete_later) record_file(to);
    return true;
  }
  if (!user_cancelled() && report_error) ::report_error(settings(), err::kExtractionFailed, name);
  QZ_LOG(L"Extraction of '%s' failed", name.c_str());
  return false;
}

bool Session::extract_setup_ini() {
  if (dbglog::is_enabled()) QZ_LOG(L"Extracting setup.ini...");
  bool ok = false;
  // Another process (a virus scanner, a second launcher) may hold the file for a
  // moment: retry quietly before reporting.
  for (int i = 0; i < kSetupIniAttempts && !ok; ++i) {
    ok = extract_member(L"Setup.INI", false, false, nullptr, true);
    if (!ok) qz::pump_wait(kSetupIniPauseMs);
  }
  if (!ok) ok = extract_member(L"Setup.INI", true, false, nullptr, true);
  if (ok) {
    set_source_folder(qzproc::temp_folder());
    settings().setup_ini_path = zpath(qzproc::temp_folder()).join(L"Setup.INI");
  }
  return ok;
}

bool Session::extract_string_files() {
  for (uint16_t id : settings().supported_languages) {
    std::wstring name = zString::format(L"0x%04x.ini", static_cast<unsigned>(id));
    if (!extract_member(name, true, false, nullptr, true)) return false;
  }
  return true;
}

namespace {

struct ExtractAllContext {
  Session* session;
  std::wstring prefix;  // text 1664
};

void choose_member_target(const StreamEntry& member, void* context, zpath& target) {
  auto* c = static_cast<ExtractAllContext*>(context);
  c->session->set_status_text(zString::format(L"%s: %s", c->prefix.c_str(), member.name.c_str()));
  if (qzproc::temp_folder().empty()) return;  // no target: the member fails
  target = zpath(qzproc::temp_folder()).join(member.name);
  record_file(target);
}

}  // namespace

bool Session::extract_all_members() {
  ExtractAllContext context{this, load_string(settings(), kTextExtracting)};
  if (stream_->extract_all(&choose_member_target, &context, this)) return true;
  report_error(settings(), err::kExtractionFailed);
  return false;
}

bool Session::load_profile(const std::wstring& path) {
  qz::IniProfile loaded(path);
  if (path.empty() || !loaded.load()) {
    QZ_LOG(L"Cannot read settings from %s", path.c_str());
    return false;
  }
  profile_ = std::move(loaded);
  profile_loaded_ = true;
  return true;
}

bool Session::ensure_profile() {
  if (profile_loaded_) return true;
  if (settings_reader_) return settings_reader_(*this) && profile_loaded_;
  return load_profile(settings().setup_ini_path);
}

std::wstring Session::get_setting(const std::wstring& section, const std::wstring& key,
                                  const std::wstring& default_value) {
  if (!ensure_profile()) return std::wstring();
  std::vector<wchar_t> buffer(kSettingCapacity);
  profile_.get_string(section.c_str(), key.c_str(), default_value.c_str(), buffer.data(), buffer.size());
  return std::wstring(buffer.data());
}

int Session::get_setting_int(const std::wstring& section, const std::wstring& key, int default_value, int radix) {
  return settings_rules::setting_int(get_setting(section, key, L""), default_value, radix);
}

std::wstring Session::billboard_type() {
  std::wstring v = get_setting(L"Startup", L"BillboardType", L"0");
  return v.empty() ? L"0" : v;
}

std::wstring Session::advertise_while_elevated() {
  std::wstring v = get_setting(L"Startup", L"AdvertiseWhileElevated", L"N");
  return v.empty() ? L"N" : v;
}

bool Session::load_package_name() {
  set_value(kValuePackageName, package_name(), false);
  if (has_value(kValuePackageName)) return true;
  QZ_LOG(kNoPackageNameLog);
  return false;
}

bool Session::is_click_once() { return settings_rules::is_click_once(click_once_package()); }

bool Session::read_launch_settings(const std::wstring& path) {
  if (path.empty() || !qz::PathExists(path, qz::kPathFile)) {
    QZ_LOG(L"Cannot read %s", path.c_str());
    return false;
  }
  qz::inifilex doc;
  bool loaded = false;
  try {
    loaded = doc.load(path, L"=", false);
  } catch (const qz::file_exception& e) {
    QZ_LOG(L"Cannot read %s (error %u)", path.c_str(), static_cast<unsigned>(e.code()));
    return false;
  }
  // A malformed line ends the reading; what was read before it still counts.
  if (!loaded) QZ_LOG(L"setup.ini %s read with errors (error %u)", path.c_str(), static_cast<unsigned>(doc.last_error()));
  settings_rules::apply_launch_settings(settings(), doc, qz::IsElevatedAdministrator());
  return true;
}

void Session::dump_settings() {
  if (!dbglog::is_enabled()) return;
  QZ_LOG(L"Dumping setup.ini...");
  for (const auto& [section, keys] : profile_.sections()) {
    QZ_LOG(L"Section: %s", section.c_str());
    for (const auto& [key, value] : keys) {
      if (settings_rules::is_secret_key(key)) continue;
      // A value can be a property list (CmdLine); a key named like a password is
      // as secret as a property of that name.
      const bool secret = secret_mask::is_secret(key, secret_mask::Names{true, {}});
      // An address (Location, CabN) may carry a password in its user information.
      QZ_LOG(L"%s=%s", key.c_str(), secret ? L"***" : secret_mask::for_log(download_rules::url_for_log(value)).c_str());
    }
  }
}

int Session::ask_reboot() {
  if (!reboot_needed_) return restart_due_ ? 5 : 1;
  reboot_needed_ = false;
  return message_box(settings(), nullptr, load_string(settings(), kTextRestartQuestion), MB_YESNO | MB_ICONQUESTION,
                     IDYES);
}

void Session::schedule_reboot(bool flag) {
  if (flag && !reboot_scheduled_) {
    std::wstring v = get_value(kValueInstallerCommandLine);
    if (!v.empty()) v.push_back(L' ');
    v += L"QZSCHEDULEREBOOT=1";
    set_value(kValueInstallerCommandLine, v, false);
    add_switch(L"/v", L"QZSCHEDULEREBOOT=1", true);
  }
  reboot_scheduled_ = flag;
}
