#include "Setup.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <memory>
#include <vector>

#include "QzMsiHelper.h"
#include "QzSetup.h"
#include "cleanup.h"
#include "com_security.h"
#include "entry_rules.h"
#include "launch.h"
#include "net/internet.h"
#include "net/trust.h"
#include "package/LaunchSettings.h"
#include "package/stream.h"
#include "packaged_setting.h"
#include "secret_mask.h"
#include "published_folder.h"
#include "relaunch.h"
#include "support/SwitchList.h"
#include "support/debuglog.h"
#include "support/dynload.h"
#include "support/error_codes.h"
#include "support/handles.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\Setup";

namespace {

// Extracts one member of the launcher's own stream into target; false when the
// launcher carries no stream or no such member, or the write fails.
bool extract_stream_member(const std::wstring& name, const std::wstring& target) {
  STREAM stream{zpath(qzproc::own_file_name())};
  if (!stream.is_valid() || !stream.contains(name)) return false;
  return stream.extract(name, zpath(target), nullptr);
}

// ---- small owners ------------------------------------------------------------

// COM for the thread, started once the library search path is settled.
class ComScope {
 public:
  ComScope() = default;
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  ~ComScope() {
    if (ok_) CoUninitialize();
  }
  void init() { ok_ = SUCCEEDED(CoInitialize(nullptr)); }

 private:
  bool ok_ = false;
};

class Argv {
 public:
  Argv() : argv_(CommandLineToArgvW(GetCommandLineW(), &argc_)) {
    if (!argv_) argc_ = 0;
  }
  ~Argv() {
    if (argv_) LocalFree(argv_);
  }
  int count() const { return argc_; }
  wchar_t** get() const { return argv_; }
  std::wstring operator[](int i) const { return i < argc_ ? std::wstring(argv_[i]) : std::wstring(); }

 private:
  int argc_ = 0;
  wchar_t** argv_ = nullptr;
};

void restrict_dll_search() {
  if (auto fn = qz::bound<BOOL(WINAPI*)(DWORD)>(qz::kernel32_export("SetDefaultDllDirectories")))
    fn(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void init_common_controls() {
  qz::module_handle cc(LoadLibraryW(L"COMCTL32"));
  if (!cc) return;
  if (auto ex = qz::module_export<BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*)>(cc.get(), "InitCommonControlsEx")) {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_PROGRESS_CLASS};
    ex(&icc);
  } else if (auto plain = qz::module_export<void(WINAPI*)()>(cc.get(), MAKEINTRESOURCEA(17))) {
    plain();
  }
}

std::wstring system_temp_folder() {
  wchar_t buf[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  return n > 0 && n <= MAX_PATH ? std::wstring(buf, n) : std::wstring();
}

// A new uniquely named folder under base (the system temporary folder when empty).
std::wstring new_folder_under(const std::wstring& base) {
  if (qz::IsElevatedAdministrator()) return qz::SecureTemporaryFolder(base, false);
  // A kind-0 name only names the folder (its parent is made): create it here.
  std::wstring folder = qz::TemporaryName(0, base.empty() ? system_temp_folder() : base, L"", false);
  if (folder.empty() || !CreateDirectoryW(folder.c_str(), nullptr)) return std::wstring();
  return folder;
}

// ---- the launcher's one run --------------------------------------------------

class Launcher {
 public:
  Launcher(HINSTANCE module, const wchar_t* command_line) : module_(module), text_(command_line ? command_line : L"") {}
  ~Launcher() { qzproc::set_settings(nullptr); }

  int run();

 private:
  void startup();
  int one_shot(const entry::OneShotCommand& command);
  int resume_after_reboot();
  bool remove_major_upgrade(int* code);
  void choose_temp_folder(bool parent);
  bool relaunch(int* code);
  int in_process();

  HINSTANCE module_;
  std::wstring text_;
  ComScope com_;  // declared first: uninitialised after everything below is released
  SwitchList switches_;
  Argv argv_;
  std::unique_ptr<LaunchSettings> settings_;
  PublishedFolder published_;
  std::wstring own_;
  std::wstring clone_path_;
  bool run_from_temp_ = false;
  bool has_prerequisites_ = false;
  std::wstring prerequisites_value_;
  bool eprq_ = false;
  bool has_reboot_ = false;
  std::wstring reboot_value_;
  std::wstring debug_log_path_;  // passed on to the clone; "" without the switch
};

int Launcher::run() {
  startup();
  // The system folder is looked up only for the one command that starts msiexec.
  const bool percent = text_.size() >= 2 && text_[1] == L'%';
  entry::OneShotCommand command =
      entry::one_shot_command(text_, argv_.count() >= 2, percent ? msiexec_path() : std::wstring());
  if (command.kind != entry::OneShot::kNone) return one_shot(command);
  if (has_reboot_) return resume_after_reboot();
  if (!run_from_temp_ || switches_.find(L"Q")) {
    int code = 0;
    if (remove_major_upgrade(&code)) return code;
  }
  bool parent = clone_path_.empty() || (has_prerequisites_ && !eprq_);
  choose_temp_folder(parent);
  if (parent) {
    int code = 0;
    if (qzproc::temp_folder().empty())
      QZ_LOG(L"No temporary folder could be made; setup runs in this process");
    else if (relaunch(&code))
      return code;
  }
  return in_process();
}

void Launcher::startup() {
  switches_.set_text(text_);
  run_from_temp_ = switches_.find(L"runfromtemp", nullptr, true, true);
  if (argv_.count() >= 2 && entry::names_first_launcher(text_)) {
    std::wstring a1 = argv_[1];
    clone_path_ = a1.size() > 2 ? a1.substr(2) : std::wstring();
  }
  // A clone runs from a temporary folder that its clean-up deletes: its default log
  // lies beside the first launcher, in the file the parent writes too.
  if (!clone_path_.empty()) dbglog::set_default_folder(zpath(clone_path_).folder());
  has_prerequisites_ = switches_.find(L"runprerequisites", &prerequisites_value_);
  if (has_prerequisites_) eprq_ = switches_.find(L"eprq", nullptr, false, true);
  has_reboot_ = switches_.find(L"reboot", &reboot_value_);

  if (!has_reboot_ && !(!clone_path_.empty() && (!has_prerequisites_ || eprq_))) restrict_dll_search();

  com_.init();
  if (qz::OsMajorVersion() >= 6) set_process_com_security();
  qz::install_internet_transport();

  qzproc::set_module(module_);
  own_ = qzproc::own_file_name();
  settings_ = std::make_unique<LaunchSettings>();
  settings_->module = module_;
  settings_->launcher_path = own_;
  settings_->media_folder = zpath(own_).folder();
  qzproc::set_settings(settings_.get());
  qzproc::set_temp_folder(L"");
  qzproc::set_exit_code(0);

  std::wstring log_value;
  if (switches_.find(L"debuglog", &log_value, false, true)) {
    dbglog::enable();
    dbglog::set_detailed(false);
    log_value = unquote_text(log_value);
    if (!log_value.empty())
      dbglog::set_log_path(log_value);
    else
      log_value = dbglog::default_log_path();
    debug_log_path_ = log_value;
  }
  QZ_LOG(L"Brackenwright setup.exe (Unicode) started, cmdline: %s", secret_mask::for_log(text_).c_str());
}

int Launcher::one_shot(const entry::OneShotCommand& command) {
  switch (command.kind) {
    case entry::OneShot::kMsiexec: {
      int r = launch_and_wait(command.text, true);
      process_deletion_list();
      return r == err::kNotStarted ? err::kNotStarted : 0;  // a program that never ran is no success
    }
    case entry::OneShot::kRestart: {
      std::wstring line = entry::program_token(argv_[0]) + command.text;
      return launch_no_wait(line, true) ? 0 : err::kNotStarted;
    }
    case entry::OneShot::kSignature:
      return signature_check_command(command.text);
    case entry::OneShot::kNone:
      break;
  }
  return 0;
}

int Launcher::resume_after_reboot() {
  QZ_LOG(L"Running after reboot");
  if (!reboot_value_.empty()) {
    QzMsiHelper engine(QzMsiHelper::default_location(own_));
    if (!engine.initialise()) return qzproc::exit_code();
    qzproc::set_exit_code(engine.run_from_settings(text_));
  }
  std::wstring folder;
  if (switches_.find(L"cleanuptempfolder", &folder)) {
    zpath f = unquote_text(folder);
    f.remove_backslash();
    if (!f.empty() && qzproc::set_temp_folder(f)) {
      process_deletion_list();
      remove_made_folder(f);
    }
  }
  return qzproc::exit_code();
}

bool Launcher::remove_major_upgrade(int* code) {
  std::wstring value;
  if (!switches_.find(L"removeasmajorupgrade", &value, false, true)) return false;
  QZ_LOG(L"Running as remove major upgrade");
  std::vector<std::wstring> parts;
  if (!entry::split_removal_value(value, &parts)) {
    *code = err::kBadRemovalValue;
    return true;
  }
  std::wstring library = QzMsiHelper::default_location(own_);
  std::wstring temp_library;
  if (!qz::PathExists(library, qz::kPathFile)) {
    library.clear();
    std::wstring tmp = system_temp_folder();
    const std::wstring name = tmp.empty() ? std::wstring() : qz::CreateOwnTemporaryFile(tmp, L"QZ_");
    if (!name.empty()) {
      if (extract_stream_member(L"QZSetup.dll", name))
        library = temp_library = name;
      else
        DeleteFileW(name.c_str());  // the empty placeholder must not stay behind
    }
  }
  if (library.empty()) {
    *code = err::kNoEngineLibrary;
    return true;
  }
  int result = 0;
  bool called = false;
  {
    QzMsiHelper engine(library);
    called = engine.initialise();
    if (called)
      result = engine.major_upgrade_removal(parts[0], entry::leading_decimal(parts[1]),
                                            entry::leading_decimal(parts[2]), parts[3]);
  }  // the library is released before its temporary copy goes
  if (!temp_library.empty()) DeleteFileW(temp_library.c_str());
  if (!called) {
    *code = qzproc::exit_code();
    return true;
  }
  if (run_from_temp_) process_deletion_list();
  *code = result;
  return true;
}

void Launcher::choose_temp_folder(bool parent) {
  std::wstring candidate, given;
  bool made = false;  // this process created the folder
  if (switches_.find(L"tempdisk1folder", &given)) candidate = unquote_text(given);
  std::wstring extract;
  switches_.find(L"tempextractpath", &extract, false, !given.empty());
  extract = unquote_text(extract);
  if (!extract.empty()) {
    zpath base(extract);
    base.add_backslash();
    if (!clone_path_.empty()) {
      std::wstring product = read_packaged_setting(L"Startup", L"ProductCode", 260);
      if (!product.empty()) published_.publish(product, candidate.empty() ? std::wstring(base) : candidate);
    } else {
      candidate = new_folder_under(base);
      made = !candidate.empty();
    }
  }
  if (candidate.empty()) {
    candidate = new_folder_under(L"");
    made = !candidate.empty();
    std::wstring product = read_packaged_setting(L"Startup", L"ProductCode", 260);
    if (!candidate.empty() && !product.empty()) published_.publish(product, candidate);
  }
  zpath folder = unquote_text(candidate);
  folder.remove_backslash();
  if (!qzproc::set_temp_folder(folder)) {
    folder.clear();  // refused: go without one
    qzproc::set_temp_folder(folder);
  }
  settings_->temp_folder = folder;
  // The mark lets the clean-up remove the folder whole; a parent passes it on to
  // its clone through the deletion list.
  if (made && !folder.empty()) record_created_folder(folder, parent);
}

bool Launcher::relaunch(int* code) {
  const std::wstring argv0 = argv_.count() > 0 ? argv_[0] : own_;
  const std::wstring name = entry::copy_name(argv0);
  zpath source = zpath(argv0).folder();
  if (source.empty() || !qz::PathExists(source, qz::kPathFolder)) source = zpath(own_).folder();
  const zpath temp = qzproc::temp_folder();
  copy_companion_files(source, temp, name);

  std::wstring first;
  if (switches_.find(L"q", &first, false, true)) first = unquote_text(first);
  if (first.empty()) first = source.join(name);
  std::wstring unc;
  if (switches_.find(L"unc", &unc, false, true)) unc = unquote_text(unc);
  if (unc.empty()) unc = universal_name(zpath(first).folder());

  bool skip_wait = switches_.find(L"skip_clone_wait", nullptr, true, true);
  std::wstring rest = switches_.remaining();

  entry::CloneCommand clone;
  clone.program = temp.join(name);
  clone.first_launcher = first;
  clone.temp_folder = temp;
  clone.eprq = has_prerequisites_;
  clone.qz_temp = !run_from_temp_;
  clone.unc = unc;
  clone.debug_log = debug_log_path_;
  std::wstring line = entry::clone_command_line(clone);

  ReturnCodeSettings codes = read_return_code_settings();
  QZ_LOG(L"Relaunching setup from temp");
  bool clone_wait = switches_.find(L"clone_wait", nullptr, true, true);

  if ((has_prerequisites_ || codes.wait_installation || clone_wait) && !skip_wait) {
    int result = launch_and_wait(line + entry::wait_tail(rest), true);
    published_.close();
    // A clone that never ran cannot clean up the copies made for it.
    if (result == err::kNotStarted) process_deletion_list();
    *code = finish_waited_clone(result, codes);
    return true;
  }
  if (launch_no_wait(line + entry::no_wait_tail(rest), true)) {
    published_.close();
    *code = started_clone_exit_code(codes);
    return true;
  }
  QZ_LOG(L"The copy could not be started; setup runs in this process");
  return false;
}

int Launcher::in_process() {
  std::wstring unc;
  if (switches_.find(L"unc", &unc, false, true)) settings_->unc_path = unquote_text(unc);
  settings_->waiting_for_child_process = switches_.find(L"waitingforchildprocess", nullptr, false, true);
  init_common_controls();

  QzSetup setup;
  bool initialised = setup.init(module_, argv_.count(), argv_.get(), clone_path_, debug_log_path_, *settings_);
  qz::mutex_handle lock;
  bool other_instance = false;
  if (!initialised) process_deletion_list();  // after the usage message
  if (initialised) {
    HANDLE taken = nullptr;
    other_instance = check_single_instance(&taken);
    lock.adopt_owned(taken);
    if (!other_instance) {
      if (has_prerequisites_) {
#ifdef QZ_PREREQUISITES
        int result = setup.run_prerequisites(unquote_text(prerequisites_value_));
        if (result == 0) setup.advertise();
#else
        int result = 0;  // this deliverable has no prerequisite pass
#endif
        process_deletion_list();
        published_.close();
        return result;
      }
      setup.run();
    }
  }
  published_.close();
  lock.reset();
  int code = setup.exit_code(qzproc::exit_code());
  if (other_instance)
    process_deletion_list();
  else
    QZ_LOG(L"Setup returning %d", qzproc::exit_code());
  return code;
}

}  // namespace

int launcher_main(HINSTANCE module, const wchar_t* command_line) {
  Launcher launcher(module, command_line);
  return launcher.run();
}
