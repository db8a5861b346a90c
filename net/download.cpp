// The download manager: what is fetched for the web location types, and the list
// of transfers with its status line, Retry/Cancel, clean-up record and check.
#include "net/download.h"

#include <windows.h>

#include "net/CDownload.h"
#include "net/download_rules.h"
#include "net/trust.h"
#include "package/LaunchSettings.h"
#include "package/error_display.h"
#include "package/load_string.h"
#include "package/positional_text.h"
#include "support/debuglog.h"
#include "support/dynload.h"
#include "support/error_codes.h"
#include "support/process_state.h"
#include "support/utils.h"

static const wchar_t kLogSource[] = L"net\\download";

namespace {

constexpr UINT kDownloadDisplay = WM_USER + 1;
constexpr unsigned kRetryQuestion = 1614;

bool is_silent(CSetupPrereqMgrCallback& session) {
  const LaunchSettings& s = session.get_launch_settings();
  return s.silent || s.auto_;
}

bool iequals(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::wstring join(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty() || folder.back() == L'\\') return folder + name;
  return folder + L"\\" + name;
}

// The result code, and the numbered message unless silent or not reporting.
void fail_with(CSetupPrereqMgrCallback& session, int code, const std::vector<std::wstring>& args, bool report) {
  const LaunchSettings& s = session.get_launch_settings();
  qzproc::set_exit_code(code);
  if (report)
    show_error_text(s, numbered_error_text(s, static_cast<unsigned>(code), args), false);
  else
    QZ_LOG(L"Error %d: %s", code, lang::fill_printf_style(load_string(s, static_cast<unsigned>(code)), args).c_str());
}

// WinInet.dll's file version, read once.
bool wininet_version(uint32_t version[4]) {
  static int known = 0;  // 0 unread, 1 read, -1 unreadable
  static uint32_t cached[4] = {};
  if (known == 0) {
    known = -1;
    wchar_t system[MAX_PATH] = {};
    UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
      std::wstring path = join(system, L"wininet.dll");
      DWORD ms = 0, ls = 0;
      if (qz::FileVersion(path, &ms, &ls)) {
        cached[0] = HIWORD(ms);
        cached[1] = LOWORD(ms);
        cached[2] = HIWORD(ls);
        cached[3] = LOWORD(ls);
        known = 1;
      }
    }
  }
  for (int i = 0; i < 4; ++i) version[i] = cached[i];
  return known == 1;
}

// The check of a fetched file against the certificate its section's CertKey
// names; nothing to check when none is named.
bool verify_file(CSetupPrereqMgrCallback& session, const DownloadEntry& entry) {
  std::wstring certificate;
  if (!lookup_cert_key(session, entry.name, &certificate)) {
    QZ_LOG(L"The certificate for %s cannot be had", entry.name.c_str());
    return false;
  }
  if (certificate.empty()) return true;
  return check_downloaded_file(session, entry.target, certificate, false);
}

class DisplayOn {
 public:
  explicit DisplayOn(HWND window) : window_(window) {
    if (window_) SendMessageW(window_, kDownloadDisplay, 0, 1);
  }
  ~DisplayOn() {
    if (window_ && IsWindow(window_)) SendMessageW(window_, kDownloadDisplay, 0, 0);
  }

 private:
  HWND window_;
};

}  // namespace

bool DownloadFiles(CSetupPrereqMgrCallback& session, std::vector<DownloadEntry>& entries, bool verify,
                   bool targets_given, bool report_errors,
                   const std::function<void(const std::wstring&)>& record_file,
                   const std::function<bool(const std::wstring&)>& reserved_name) {
  const LaunchSettings& settings = session.get_launch_settings();
  uint32_t version[4] = {};
  if (!wininet_version(version) || download_rules::wininet_too_old(version)) {
    QZ_LOG(L"WinInet.dll version %u.%u.%u.%u", version[0], version[1], version[2], version[3]);
    fail_with(session, err::kWinInetTooOld, {}, report_errors);
    return false;
  }
  HWND dialog = session.get_setup_dialog();
  DisplayOn display(dialog);
  for (size_t i = 0; i < entries.size(); ++i) {
    DownloadEntry& entry = entries[i];
    const std::wstring shown_url = download_rules::url_for_log(entry.source);
    QZ_LOG(L"DownloadFiles: downloading %s", shown_url.c_str());
    if (!targets_given) {
      std::wstring name = download_rules::target_name(entry.source);
      if (name.empty() || qzproc::temp_folder().empty() || (reserved_name && reserved_name(name))) {
        QZ_LOG(L"The address %s names no file that can be written", shown_url.c_str());
        fail_with(session, err::kDownloadFailed, {shown_url}, report_errors);
        return false;
      }
      entry.target = join(qzproc::temp_folder(), name);
    }
    download_rules::StatusLine line = download_rules::status_line(entry.name, i, entries.size());
    std::wstring text = load_string(settings, line.text_id);
    session.set_status_text(line.positional ? lang::fill_positional(text, line.args)
                                            : lang::fill_printf_style(text, line.args));
    for (;;) {
      CDownload download(settings, session.get_setup_dialog());
      if (download.Download(entry.source, entry.target)) break;
      if (qzproc::cancelled()) {
        // The dialog has set the result code (-1); the partial file goes at the end.
        if (record_file) record_file(entry.target);
        return false;
      }
      std::wstring question = lang::fill_printf_style(load_string(settings, kRetryQuestion), {shown_url});
      QZ_LOG(L"DownloadFiles: %s (status 0x%08x)", question.c_str(), static_cast<unsigned>(download.last_status()));
      int answer = IDCANCEL;
      if (!is_silent(session))
        answer = message_box(settings, session.get_setup_dialog(), question, MB_RETRYCANCEL | MB_ICONEXCLAMATION,
                             IDCANCEL);
      DeleteFileW(entry.target.c_str());
      if (answer != IDRETRY) {
        // A fetch that failed must not leave the run's result at success.
        qzproc::set_exit_code(err::kDownloadFailed);
        return false;
      }
      QZ_LOG(L"DownloadFiles: retrying %s", shown_url.c_str());
    }
    if (record_file) record_file(entry.target);
    if (qzproc::cancelled()) return false;
    if (verify && !verify_file(session, entry)) return false;
  }
  return true;
}

bool fetch_web_package(CSetupPrereqMgrCallback& session, const WebPackageRequest& request, std::wstring* package_path) {
  if (request.type == 3) {
    if (!request.download_web_install) {
      // The Windows Installer fetches the package itself.
      *package_path = request.location;
      return true;
    }
    std::vector<DownloadEntry> entries{{request.location, request.package_name, L""}};
    if (!DownloadFiles(session, entries, true, false, true, request.record_file)) return false;
    *package_path = entries[0].target;
    return true;
  }

  std::vector<DownloadEntry> entries{{request.location, request.package_name, L""}};
  if (iequals(request.package_name, session.get_setting(L"Startup", L"PackageName", L""))) {
    for (int i = 0;; ++i) {
      std::wstring cab = session.get_setting(request.package_name, L"Cab" + std::to_wstring(i), L"");
      if (cab.empty()) break;
      entries.push_back({cab, download_rules::entry_display_name(cab), L""});
    }
  }
  const uint64_t total = download_rules::parse_cabs_size(session.get_setting(request.package_name, L"CabsSize", L""));
  if (total != 0) {
    const std::wstring& temp = qzproc::temp_folder();
    ULARGE_INTEGER free_bytes{};
    uint64_t free_kb = 0;
    if (!temp.empty() && GetDiskFreeSpaceExW(temp.c_str(), &free_bytes, nullptr, nullptr))
      free_kb = free_bytes.QuadPart / 1024;
    if (!download_rules::cabinets_fit(free_kb, total)) {
      QZ_LOG(L"The cabinets need %llu bytes, %llu KB are free", static_cast<unsigned long long>(total),
             static_cast<unsigned long long>(free_kb));
      fail_with(session, err::kNoRoomForCabinets,
                {std::to_wstring(total / 1024), download_rules::drive_of(temp)}, request.report_errors);
      return false;
    }
  }
  if (!DownloadFiles(session, entries, request.verify, false, request.report_errors, request.record_file,
                     request.reserved_name))
    return false;
  *package_path = entries[0].target;
  return true;
}
