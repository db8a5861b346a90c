// The installation sequence of the prerequisite dialog: the scheduled
// prerequisites one after the other in index order, or all of them handed to an
// elevated copy of the launcher.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <wincrypt.h>

#include "QzPreReqDlg.h"
#include "SetupPreRequisite.h"
#include "SetupPrereqMgr.h"
#include "package/LaunchSettings.h"
#include "package/load_string.h"
#include "package/positional_text.h"
#include "prereq_command_rules.h"
#include "prereq_execution.h"
#include "prereq_host.h"
#include "prereq_manager_rules.h"
#include "prereq_msi.h"
#include "prereq_rules.h"
#include "support/debuglog.h"
#include "support/error_codes.h"
#include "support/handles.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\Shared\\Setup\\QzPreReqDlg";

namespace {

constexpr unsigned kTextInstalling = 1653, kTextFilesMissing = 1655, kTextAppearsFailed = 1656;
constexpr unsigned kTextSucceeded = 1657, kTextRowInstalling = 1658, kTextFailed = 1663, kTextExtracting = 1664;
constexpr unsigned kTextDownloading = 1665, kTextSkipped = 1666, kTextHasFailed = 1667, kTextRestart = 1668;
constexpr unsigned kTextOptional = 1669;
constexpr int kEngineRestart = 4;
const wchar_t kCurrentVersion[] = L"Software\\Microsoft\\Windows\\CurrentVersion";
const wchar_t kRunOnce[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kRunOnceValue[] = L"  QZSetupPrerequisistes";

std::wstring own_path() { return qzproc::own_file_name(); }

bool set_string(HKEY root, const wchar_t* key, const std::wstring& name, const std::wstring& data) {
  qz::reg_key k;
  if (RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, k.receive(), nullptr) != ERROR_SUCCESS)
    return false;
  return RegSetValueExW(k.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool md5_of_file(const std::wstring& path, uint8_t (&digest)[16]) {
  qz::file_handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return false;
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return false;
  HCRYPTHASH hash = 0;
  bool ok = CryptCreateHash(provider, CALG_MD5, 0, 0, &hash) != FALSE;
  std::vector<BYTE> buffer(65536);
  while (ok) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) ok = false;
    if (!ok || got == 0) break;
    ok = CryptHashData(hash, buffer.data(), got, 0) != FALSE;
  }
  DWORD size = 16;
  if (ok) ok = CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) && size == 16;
  if (hash) CryptDestroyHash(hash);
  CryptReleaseContext(provider, 0);
  return ok;
}

}  // namespace

void QzPreReqDlg::RegisterResume(int index) {
  const std::wstring product = settings().product_name;
  set_string(HKEY_CURRENT_USER, kCurrentVersion, zString::format(L"%%QZ_PREREQ%%-%s", product.c_str()),
             std::to_wstring(index));
  if (!register_resume_) return;
  prq::ResumeLineInput in;
  in.saved = mgr_.get_value(prq::kValueResumeCommandLine);
  in.process_line = GetCommandLineW();
  in.stripped = mgr_.strip_relaunch_switches(std::wstring(prq::trim(in.process_line, L" ")));
  in.launcher_path = own_path();
  in.first_launcher_path = settings().first_launcher_path;
  set_string(HKEY_CURRENT_USER, kRunOnce, kRunOnceValue, prq::resume_command_line(in));
}

void QzPreReqDlg::restart_now() {
  if (settings().waiting_for_child_process) {
    // The waiting parent restarts once this process has ended.
    mgr_.set_value(prq::kValueChildRebootRequested, L"Y", false);
  } else {
    QZ_LOG(L"Restarting the computer for a prerequisite");
    qz::RebootSystem();
  }
}

int QzPreReqDlg::elevated_relaunch() {
  RegisterResume(-1);
  std::wstring parameters;
  mgr_.append_relaunch_switches(parameters);
  parameters = prq::elevated_parameters(parameters, features_, mgr_.get_origin_text());
  QZ_LOG(L"Prerequisites need elevation; launching elevated with arguments: %s", mgr_.loggable(parameters).c_str());
  const std::wstring file = own_path();
  SHELLEXECUTEINFOW sei{};
  sei.cbSize = sizeof(sei);
  sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOZONECHECKS;
  sei.hwnd = dialog_;
  sei.lpVerb = L"runas";
  sei.lpFile = file.c_str();
  sei.lpParameters = parameters.c_str();
  sei.nShow = silent() ? SW_HIDE : SW_SHOWNORMAL;
  if (!ShellExecuteExW(&sei) || !sei.hProcess) {
    QZ_LOG(L"The elevated launcher could not be started, error %u", GetLastError());
    int row = 0;
    for (const auto& [index, entry] : mgr_.entries()) {
      current_hidden_ = entry.hidden;
      set_row_status(row, kTextFailed);
      if (!entry.hidden) ++row;
    }
    std::wstring first = mgr_.entries().empty() ? std::wstring()
                                                : prerequisite_display_name(mgr_.entries().begin()->second.path);
    message(lang::fill_printf_style(load_string(settings(), kTextHasFailed), {first}), MB_OK | MB_ICONERROR, IDOK);
    return stop(err::kPrerequisiteFailed);
  }
  qz::file_handle process(sei.hProcess);
  WaitForInputIdle(process.get(), 10000);
  if (dialog_) ShowWindow(dialog_, SW_HIDE);
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  if (!GetExitCodeProcess(process.get(), &code)) code = static_cast<DWORD>(err::kNotStarted);
  QZ_LOG(L"The elevated prerequisite pass returned %d", static_cast<int>(code));
  if (code == static_cast<DWORD>(err::kChildRequestsRestart))
    mgr_.set_value(prq::kValueChildRebootRequested, L"Y", false);
  int result = prq::elevated_result(code);
  // The pass answers 2 when it stopped; anything else unexpected (a crash) is
  // passed on as it is.
  if (result == prq::kSequenceStop) return stop(code == CSetupPrereqMgr::kStop ? err::kPrerequisiteFailed : static_cast<int>(code));
  return result;
}

void QzPreReqDlg::resolve_silent_command_lines(MSIHANDLE* installer) {
  if (!installer || !*installer) return;
  // Formatting leaves these for ResolveCommandLine, which knows their values.
  for (const wchar_t* name : {L"QZPREREQDIR", L"SETUPEXEDIR", L"SETUPEXENAME"})
    prq::msi::SetProperty(*installer, name, (L"[" + std::wstring(name) + L"]").c_str());
  for (auto& [index, entry] : mgr_.entries()) {
    CSetupPreRequisite p(nullptr, nullptr, nullptr, &settings(), entry.kind, mgr_.system());
    p.LoadPrq(entry.path, false, L"");
    entry.command_line = prq::msi::format_text(*installer, p.fields().cmdline_silent);
  }
  prq::msi::CloseHandle(*installer);
  *installer = 0;
}

int QzPreReqDlg::engine_step() {
  if (!engine_package_.empty() || mgr_.reserved()) return cancel_ ? prq::kSequenceStop : 0;
  layout_for_downloads();
  std::wstring package;
  if (!mgr_.locate_package(package)) return prq::kSequenceStop;
  engine_package_ = package.empty() ? L"?" : package;
  switch (mgr_.ask_reboot()) {
    case 6:
      qz::RebootSystem();
      return kEngineRestart;
    case 7:
      QZ_LOG(L"User chose to reboot later. Exiting.");
      return kEngineRestart;
    case 5:
      QZ_LOG(L"Delaying required MSI Reboot");
      mgr_.schedule_reboot(true);
      break;
  }
  return cancel_ ? prq::kSequenceStop : 0;
}

int QzPreReqDlg::InstallPrerequisites(MSIHANDLE* installer) {
  if (needs_elevation_) return elevated_relaunch();
  cancel_ = false;
  host_ = find_host();
  if (!features_.empty() && silent() && !host_) resolve_silent_command_lines(installer);
  return run_entries(installer);
}

int QzPreReqDlg::run_entries(MSIHANDLE*) {
  LaunchSettings& s = settings();
  const bool quiet = silent();
  int row = 0;
  handled_ = 0;
  for (auto& [index, entry] : mgr_.entries()) {
    current_hidden_ = entry.hidden;
    set_row_status(row, kTextRowInstalling);
    HWND bar = host_, status = host_;
    if (!host_) {
      HWND owner = dialog_ ? dialog_ : mgr_.get_setup_dialog();
      bar = owner ? GetDlgItem(owner, 301) : nullptr;
      status = owner ? GetDlgItem(owner, dialog_ ? 1003 : 1004) : nullptr;
    }
    CSetupPreRequisite p(bar, status, &cancel_, &s, entry.kind, mgr_.system());
    if (host_) p.set_host_window(host_);
    p.LoadPrq(entry.path, false, entry.command_line);
    const std::wstring name = prerequisite_display_name(entry.path);

    if (p.fields().optional && !quiet && !entry.hidden) {
      std::wstring text = lang::fill_positional(load_string(s, kTextOptional), {s.product_name, name});
      if (message(text, MB_YESNO | MB_ICONQUESTION, IDYES) == IDNO) {
        set_row_status(row, kTextSkipped);
        ++row;
        continue;
      }
    }
    RegisterResume(index);
    if ((!host_ || features_.empty()) && p.fields().requires_msi_engine && !mgr_.is_click_once()) {
      int r = engine_step();
      if (r == kEngineRestart) {
        QZ_LOG(L"MSI or .NET rebooting before prerequsite");
        RegisterResume(index - 1);
        return prq::kSequenceRestart;
      }
      if (r != 0) return r;
    }

    placing_ = true;
    extraction_reported_ = false;
    std::wstring folder = LocatePrerequisiteFiles(p, qzproc::temp_folder(), row);
    placing_ = false;
    if (cancel_) return stop(err::kCancelled);
    if (folder.empty()) {
      set_row_status(row, kTextFailed);
      if (extraction_reported_) return prq::kSequenceStop;  // error 1152 has been shown and set
      message(lang::fill_printf_style(load_string(s, kTextFilesMissing), {name}), MB_OK | MB_ICONWARNING, IDOK);
      return stop(err::kPrerequisiteFilesMissing);
    }

    set_row_status(row, kTextRowInstalling);
    current_name_ = name;
    status_text(lang::fill_printf_style(load_string(s, kTextInstalling), {name}));
    const bool own_progress = p.fields().msi_progress &&
                              prq::file_kind(p.fields().execute_file) == prq::FileKind::kInstallerPackage;
    if (!own_progress) StartStopProgress(true);
    bool go_on = true;
    bool refused = false;
    try {
      PrerequisiteExecution run(p);
      go_on = run.ExecutePrerequisite(folder, quiet);
      refused = !go_on;
    } catch (...) {
      QZ_LOG(L"The prerequisite run ended with an error; its conditions decide");
    }
    if (host_ && !cancel_) {
      if (prq::host::send_command(host_, prq::host::kPrerequisiteRan) == prq::host::kCancelAnswer) cancel_request();
    }
    if (!own_progress) StartStopProgress(false);
    // The installer's own progress set the bar's range to its ticks.
    if (own_progress && dialog_) SendDlgItemMessageW(dialog_, 301, PBM_SETRANGE32, 0, 100);
    ++handled_;
    if (refused || cancel_) {
      cancel_ = true;
      return stop(refused ? err::kUserDeclined : err::kCancelled);
    }

    const PrerequisiteFields& f = p.fields();
    const bool outside = f.package_manager || prq::file_kind(f.execute_file) == prq::FileKind::kAppPackage ||
                         f.kind == prq::kKindAppBundle;
    if (!outside) {
      std::wstring restart_text = lang::fill_printf_style(load_string(s, kTextRestart), {name});
      switch (prq::restart_step(f.reboot_action, f.reboot_needed)) {
        case prq::RestartStep::kEndForRestart:
          return prq::kSequenceRestart;
        case prq::RestartStep::kAskThenEnd:
          // A silent run restarts later: nobody is there to lose unsaved work.
          if (message(restart_text, MB_YESNO | MB_ICONQUESTION, IDNO) == IDYES) restart_now();
          return prq::kSequenceRestart;
        case prq::RestartStep::kRestartNowThenEnd:
          restart_now();
          return prq::kSequenceRestart;
        case prq::RestartStep::kLaterThenCarryOn:
          if (host_)
            prq::host::send_command(host_, prq::host::kRestartLater);
          else
            mgr_.schedule_reboot(true);
          break;
        case prq::RestartStep::kCarryOn:
          break;
      }
    }

    p.LoadPrq(entry.path, true, L"");
    if (p.HasFailed()) {
      QZ_LOG(L"The prerequisite appears to have failed...");
      if (f.failure_action == 1) {
        set_row_status(row, kTextFailed);
        std::wstring text = lang::fill_printf_style(load_string(s, kTextAppearsFailed), {name});
        // A silent run stops: going on would install the product without what it needs.
        if (message(text, MB_YESNO | MB_ICONQUESTION, IDNO) != IDYES) return stop(err::kPrerequisiteFailed);
      } else if (f.failure_action == 2) {
        set_row_status(row, kTextFailed);
        message(lang::fill_printf_style(load_string(s, kTextHasFailed), {name}), MB_OK | MB_ICONERROR, IDOK);
        return stop(err::kPrerequisiteFailed);
      } else {
        set_row_status(row, kTextSucceeded);
      }
    } else {
      set_row_status(row, kTextSucceeded);
    }
    if (!entry.hidden) ++row;
  }
  return cancel_ ? stop(err::kCancelled) : prq::kSequenceCarryOn;
}

std::wstring QzPreReqDlg::LocatePrerequisiteFiles(CSetupPreRequisite& p, const std::wstring& base, int row) {
  size_t count = p.file_count();
  // Without files (a package-manager package) nothing is placed: it runs from the base.
  if (count == 0) return base;
  const std::wstring id = p.folder_name();
  if (id.empty() || base.empty()) {
    QZ_LOG(L"Prerequisite '%s' has no identifier that can name its folder", p.fields().id.c_str());
    return std::wstring();
  }
  LaunchSettings& s = settings();
  const int mode = mgr_.get_launch_mode();
  const zpath target = zpath(base).join(id);
  for (size_t i = 0; i < count; ++i) {
    std::wstring name = p.placed_file_name(i);
    if (name.empty()) {
      QZ_LOG(L"Prerequisite file '%s' cannot be placed", p.local_file(i).c_str());
      return std::wstring();
    }
    if (i == 0) {
      std::wstring media = s.media_folder;
      if (!qz::PathExists(media, qz::kPathFolder) && !s.unc_path.empty() && qz::PathExists(s.unc_path, qz::kPathFolder))
        media = s.unc_path;
      zpath beside = zpath(media).join(L"QZSetupPrerequisites").join(id).join(name);
      if (!media.empty() && qz::PathExists(beside, qz::kPathFile)) return beside.folder();
    }
    if (!qz::CreateFolderTree(target)) return std::wstring();
    if (i == 0 && mode != prq::kModeAdministrative) mgr_.delete_folder_later(target);
    std::wstring path = target.join(name);
    std::wstring member = p.member_name(i);
    if (!member.empty() && mgr_.stream_contains(member)) {
      set_row_status(row, kTextExtracting);
      if (!mgr_.extract_member(member, true, true, &path, mode != prq::kModeAdministrative)) {
        extraction_reported_ = true;
        return std::wstring();
      }
    } else if (mode == prq::kModeInstall) {
      if (dialog_) {
        set_row_status(row, kTextDownloading);
        status_text(load_string(s, kTextDownloading) + L": " + name);
        layout_for_downloads();
      }
      if (!FetchPrerequisiteFile(p, path, i, count)) return std::wstring();
    }
  }
  return target;
}

bool QzPreReqDlg::FetchPrerequisiteFile(CSetupPreRequisite& p, std::wstring& target, size_t i, size_t& count) {
  const zpath folder = zpath(target).folder();
  if (i == 0 && !p.fields().alt_prq_url.empty()) {
    const std::wstring url = p.fields().alt_prq_url;
    const std::wstring replacement = folder.join(p.alternative_prq_name());
    if (!copy(url, replacement)) return false;
    p.LoadPrq(replacement, false, L"");
    count = p.file_count();
    std::wstring name = p.placed_file_name(0);
    if (name.empty()) {
      QZ_LOG(L"The replacement description %s names no file that can be placed", url.c_str());
      return false;
    }
    target = folder.join(name);
  }
  const std::wstring source = p.url(i);
  if (source.empty()) {
    QZ_LOG(L"Prerequisite file '%s' is neither carried nor has a URL", p.local_file(i).c_str());
    return false;
  }
  if (!copy(source, target)) return false;
  const std::wstring checksum = p.checksum(i);
  if (checksum.empty()) return true;
  uint8_t digest[16] = {};
  if (!md5_of_file(target, digest)) {
    QZ_LOG(L"The checksum of %s could not be computed, error %u", target.c_str(), GetLastError());
    DeleteFileW(target.c_str());
    return false;
  }
  if (prq::checksum_matches(digest, checksum)) return true;
  QZ_LOG(L"Checksum mismatch for %s: %s expected, %s found", target.c_str(), checksum.c_str(),
         prq::digest_text(digest).c_str());
  // A file that is not the one the description names is never run.
  DeleteFileW(target.c_str());
  return false;
}
