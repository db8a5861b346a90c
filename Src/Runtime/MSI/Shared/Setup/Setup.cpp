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
#include "package/error_display.h"
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
#include "support/hold.h"
#include "support/process_state.h"
#include "support/support_rules.h"
#include "support/utils.h"
#include "support/zstring.h"
#include "test_hooks.h"

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
  // Once, with the process-wide security, before the first use of COM.
  void init() {
    if (tried_) return;
    tried_ = true;
    ok_ = SUCCEEDED(CoInitialize(nullptr));
    if (qz::OsMajorVersion() >= 6) set_process_com_security();
  }

 private:
  bool tried_ = false;
  bool ok_ = false;
};

// The argument vector, split by the shell (shell32, which starts the window system)
// only when something asks for more than argument 0.
class Argv {
 public:
  Argv() = default;
  Argv(const Argv&) = delete;
  Argv& operator=(const Argv&) = delete;
  ~Argv() {
    if (argv_) LocalFree(argv_);
  }
  int count() {
    split();
    return argc_;
  }
  wchar_t** get() {
    split();
    return argv_;
  }
  std::wstring operator[](int i) { return i < count() ? std::wstring(argv_[i]) : std::wstring(); }

 private:
  void split() {
    if (split_) return;
    split_ = true;
    argv_ = CommandLineToArgvW(GetCommandLineW(), &argc_);
    if (!argv_) argc_ = 0;
  }
  bool split_ = false;
  int argc_ = 0;
  wchar_t** argv_ = nullptr;
};

// Libraries loaded by name come from the system folder alone, in every role: the
// launcher's own folder and the current one (a download folder, removable media)
// may hold anything. Without the call (an old system) the current folder at least
// leaves the search.
void restrict_dll_search() {
  if (auto fn = qz::bound<BOOL(WINAPI*)(DWORD)>(qz::kernel32_export("SetDefaultDllDirectories"))) {
    fn(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return;
  }
  SetDllDirectoryW(L"");
}

std::wstring system_temp_folder() {
  wchar_t buf[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  return n > 0 && n <= MAX_PATH ? std::wstring(buf, n) : std::wstring();
}

// A new uniquely named folder under base (the system temporary folder when empty),
// created held for the run: no other folder can take its place.
std::wstring new_folder_under(const std::wstring& base) {
  qz::file_handle hold;
  std::wstring folder;
  if (qz::IsElevatedAdministrator()) {
    folder = qz::SecureTemporaryFolder(base, false, &hold);
  } else {
    // A kind-0 name only names the folder (its parent is made): create it here.
    folder = qz::TemporaryName(0, base.empty() ? system_temp_folder() : base, L"", false);
    if (!folder.empty()) hold = qz::create_held_folder(folder, nullptr);
  }
  if (folder.empty() || !hold) return std::wstring();
  qzproc::adopt_folder_hold(folder, std::move(hold));
  return folder;
}

// ---- the launcher's one run --------------------------------------------------

class Launcher {
 public:
  Launcher(HINSTANCE module, const wchar_t* command_line) : module_(module), text_(command_line ? command_line : L"") {}
  ~Launcher() { qzproc::set_settings(nullptr); }

  int run();

 private:
  int refuse_redirection(const std::wstring& local);
  void startup();
  void start_debug_log();
  // A numbered error of the parent, which the setup driver has not run for: /s
  // still means no dialog.
  void report(int code);
  // /s of the command line for a role the setup driver does not run for (the
  // engine it reaches may report an error).
  void read_silent_switches();
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
  entry::LeadingArgument leading_;  // argument 0, read without the shell
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
  // Before anything is loaded by name, in every role.
  restrict_dll_search();
  const bool held = qzproc::hold_own_image();
  const DWORD hold_error = held ? 0 : GetLastError();
  const std::wstring local = qzproc::own_file_name() + L".local";
  if (qz::PathExists(local)) return refuse_redirection(local);
  set_waiting_launcher([](const std::wstring& command_line, bool show) { return launch_and_wait(command_line, show); });
  startup();
  if (!held) QZ_LOG(L"The launcher's own file cannot be held open (error %u); it is read by its name", hold_error);
  // The system folder is looked up only for the one command that starts msiexec.
  const bool percent = text_.size() >= 2 && text_[1] == L'%';
  entry::OneShotCommand command =
      entry::one_shot_command(text_, leading_.more, percent ? msiexec_path() : std::wstring());
  // A first launcher loads nothing of the window system (COM, the shell) before its
  // clone runs: the clone's start waits for nothing but the copy. Every other role
  // starts COM here, as before.
  const bool parent = clone_path_.empty() || (has_prerequisites_ && !eprq_);
  if (!parent || command.kind != entry::OneShot::kNone || has_reboot_) com_.init();
  if (command.kind != entry::OneShot::kNone) return one_shot(command);
  if (has_reboot_) return resume_after_reboot();
  if (!run_from_temp_ || switches_.find(L"Q")) {
    int code = 0;
    if (remove_major_upgrade(&code)) return code;
  }
  if (!packaged_settings_readable()) {
    report(err::kSettingsUnreadable);
    return qzproc::exit_code();
  }
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

// A file or folder "<launcher>.local" makes the system take the libraries the
// launcher loads from there instead: nothing may be loaded, so nothing is shown
// either; the reason goes to the log alone.
int Launcher::refuse_redirection(const std::wstring& local) {
  switches_.set_text(text_);
  qzproc::set_module(module_);
  start_debug_log();
  QZ_LOG(L"%s exists: the system would load this program's libraries from it. Setup does not run.", local.c_str());
  return err::kLibraryRedirection;
}

void Launcher::read_silent_switches() {
  std::wstring text = text_;
  LaunchSettings switches;
  switches.apply_settings_switches(text);
  settings_->silent = settings_->silent || switches.silent;
}

void Launcher::report(int code) {
  read_silent_switches();
  report_error(*settings_, code);
}

void Launcher::startup() {
  switches_.set_text(text_);
  run_from_temp_ = switches_.find(L"runfromtemp", nullptr, true, true);
  leading_ = entry::leading_argument(GetCommandLineW());
  if (leading_.more && entry::names_first_launcher(text_)) {
    std::wstring a1 = argv_[1];
    clone_path_ = a1.size() > 2 ? a1.substr(2) : std::wstring();
  }
  // A clone runs from a temporary folder that its clean-up deletes: its default log
  // lies beside the first launcher, in the file the parent writes too.
  if (!clone_path_.empty()) dbglog::set_default_folder(zpath(clone_path_).folder());
  has_prerequisites_ = switches_.find(L"runprerequisites", &prerequisites_value_);
  if (has_prerequisites_) eprq_ = switches_.find(L"eprq", nullptr, false, true);
  has_reboot_ = switches_.find(L"reboot", &reboot_value_);

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

  test_hooks::install_restart_stand_in();
  start_debug_log();
  QZ_LOG(L"Brackenwright setup.exe (Unicode) started, cmdline: %s", secret_mask::for_log(text_).c_str());
}

void Launcher::start_debug_log() {
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
}

int Launcher::one_shot(const entry::OneShotCommand& command) {
  switch (command.kind) {
    case entry::OneShot::kMsiexec: {
      int r = launch_and_wait(command.text, true);
      process_deletion_list();
      return r == err::kNotStarted ? err::kNotStarted : 0;  // a program that never ran is no success
    }
    case entry::OneShot::kRestart: {
      std::wstring line = entry::program_token(leading_.program.empty() ? own_ : leading_.program) + command.text;
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
  read_silent_switches();
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
  com_.init();
  read_silent_switches();
  std::vector<std::wstring> parts;
  if (!entry::split_removal_value(value, &parts)) {
    *code = err::kBadRemovalValue;
    return true;
  }
  std::wstring library = QzMsiHelper::default_location(own_);
  std::wstring temp_library, library_folder;
  qz::file_handle library_hold;
  if (!qz::PathExists(library, qz::kPathFile)) {
    library.clear();
    // The carried library goes into a folder of its own, held, and stays open (for
    // reading only) while the engine uses it: between its writing and its loading
    // nobody else can change or replace it.
    library_folder = new_folder_under(L"");
    const std::wstring guid = qz::GuidText();
    if (!library_folder.empty() && guid.size() > 8) {
      const std::wstring name = zpath(library_folder).join(L"QZ_" + guid.substr(1, 8) + L".tmp");
      if (extract_stream_member(L"QZSetup.dll", name)) {
        library_hold = qz::hold_file(name);
        if (library_hold) library = temp_library = name;
      }
    }
  }
  if (library.empty()) {
    if (!library_folder.empty()) {
      qzproc::release_folder(library_folder);
      qz::RemoveFolderTree(library_folder);
    }
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
  library_hold.reset();
  if (!temp_library.empty()) DeleteFileW(temp_library.c_str());
  if (!library_folder.empty()) {
    qzproc::release_folder(library_folder);
    RemoveDirectoryW(library_folder.c_str());
  }
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
  // A folder handed on is worked in only when it is one, not a link nor a file, and
  // held from now on; otherwise the run makes its own. (One too long for the run's
  // folder is refused as such below.)
  if (!candidate.empty() && qz::rules::fits_temp_folder(zpath(candidate).remove_backslash()) &&
      !qzproc::hold_folder(candidate)) {
    QZ_LOG(L"The temporary folder %s is not used: it is no folder that can be held (error %u)", candidate.c_str(),
           GetLastError());
    candidate.clear();
  }
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
  if (!folder.empty()) QZ_LOG(L"Temporary folder %s", folder.c_str());
  // The mark lets the clean-up remove the folder whole; a parent passes it on to
  // its clone through the deletion list.
  if (made && !folder.empty()) record_created_folder(folder, parent);
}

bool Launcher::relaunch(int* code) {
  const std::wstring argv0 = leading_.program.empty() ? own_ : leading_.program;
  const std::wstring name = entry::copy_name(argv0);
  zpath source = zpath(argv0).folder();
  if (source.empty() || !qz::PathExists(source, qz::kPathFolder)) source = zpath(own_).folder();
  const zpath temp = qzproc::temp_folder();
  test_hooks::pause_point(L"copy");
  qz::file_handle copy = copy_companion_files(qzproc::own_image(), source, temp, name);
  if (!copy) {
    // Starting a partial copy would run something else than this setup.
    QZ_LOG(L"The copy of the launcher in %s could not be made whole; it is not started", temp.c_str());
    process_deletion_list();
    report(err::kNoTemporaryLocation);
    *code = copy_failed_exit_code(read_return_code_settings());
    return true;
  }
  // The clone inherits the holds on its folder and its file and keeps them for as
  // long as it runs; this process lets go of its own once the clone has started.
  HandedOver handed;
  handed.push_back(std::move(copy));
  handed.push_back(qzproc::take_folder_hold(temp));

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
    // Everything this process reads from its own file has been read; the first
    // launcher's file need not stay while the clone runs (removable media).
    qzproc::release_own_image();
    int result = launch_and_wait(line + entry::wait_tail(rest), true, &handed);
    if (!handed.empty()) qzproc::adopt_folder_hold(temp, std::move(handed.back()));
    published_.close();
    // A clone that never ran cannot clean up the copies made for it.
    if (result == err::kNotStarted) process_deletion_list();
    *code = finish_waited_clone(result, codes);
    return true;
  }
  if (launch_no_wait(line + entry::no_wait_tail(rest), true, &handed)) {
    published_.close();
    *code = started_clone_exit_code(codes);
    return true;
  }
  QZ_LOG(L"The copy could not be started; setup runs in this process");
  if (!handed.empty()) qzproc::adopt_folder_hold(temp, std::move(handed.back()));
  return false;
}

int Launcher::in_process() {
  com_.init();
  test_hooks::pause_point(L"run");
  std::wstring unc;
  if (switches_.find(L"unc", &unc, false, true)) settings_->unc_path = unquote_text(unc);
  settings_->waiting_for_child_process = switches_.find(L"waitingforchildprocess", nullptr, false, true);
  qz::init_common_controls(ICC_PROGRESS_CLASS);

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
  int code = 0;
  {
    Launcher launcher(module, command_line);
    code = launcher.run();
  }
  start_pending_self_removal();
  return code;
}
