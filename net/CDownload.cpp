// The transfer of one file on a worker thread, and its display.
#include "net/CDownload.h"

#include <windows.h>
#include <commctrl.h>

#include "net/download_rules.h"
#include "net/inet_file.h"
#include "support/debuglog.h"
#include "support/process_state.h"

static const wchar_t kLogSource[] = L"net\\CDownload";

namespace {

constexpr int kBar = 301;
constexpr int kAmountText = 1004;
constexpr int kTimeText = 1005;
// Each WinINet read costs a fixed round trip besides its bytes: with 64 KB
// blocks that cost, not the link, bounded a fast transfer to half its speed.
constexpr DWORD kBlock = 262144;
// The transport's code for HTTP status 404, used for a resource without a size.
constexpr HRESULT kNoSize = static_cast<HRESULT>(0x8004D554);

HRESULT last_error_status() {
  DWORD e = GetLastError();
  return HRESULT_FROM_WIN32(e ? e : ERROR_GEN_FAILURE);
}

}  // namespace

// The URL, the handler and, while it runs, the Internet file. The abort comes
// from the user-interface thread while the worker may be inside a read: it only
// closes the file's handles, under the lock that guards the pointer.
class DownloadTransfer {
 public:
  DownloadTransfer(std::wstring url, std::wstring target, IDownloadProgressHandler& handler)
      : url_(std::move(url)), target_(std::move(target)), handler_(handler) {
    InitializeCriticalSection(&lock_);
  }
  ~DownloadTransfer() { DeleteCriticalSection(&lock_); }

  static DWORD WINAPI thread_main(void* self) { return static_cast<DWORD>(static_cast<DownloadTransfer*>(self)->run()); }

  void abort() {
    EnterCriticalSection(&lock_);
    aborted_ = true;
    if (file_) file_->abort();
    LeaveCriticalSection(&lock_);
  }

 private:
  HRESULT run();
  HRESULT fail(HRESULT status, DownloadProgress& p) {
    p.status = status;
    handler_.error(p);
    return status;
  }
  void set_file(qz::inet_file* file) {
    EnterCriticalSection(&lock_);
    file_ = file;
    if (file_ && aborted_) file_->abort();
    LeaveCriticalSection(&lock_);
  }

  std::wstring url_;
  std::wstring target_;
  IDownloadProgressHandler& handler_;
  CRITICAL_SECTION lock_;
  qz::inet_file* file_ = nullptr;
  bool busy_ = false;
  bool aborted_ = false;
};

HRESULT DownloadTransfer::run() {
  if (busy_) return E_UNEXPECTED;
  busy_ = true;
  DownloadProgress p;
  const bool ftp = download_rules::is_ftp_url(url_);
  qz::inet_file* file = qz::make_inet_file(url_, L"webfetch", 30000);
  if (!file) {
    busy_ = false;
    return fail(last_error_status(), p);
  }
  set_file(file);
  auto let_go = [&] {
    set_file(nullptr);
    file->Release();
    busy_ = false;
  };
  if (!file->open(url_, download_rules::referer_header(url_),
                  INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_PRAGMA_NOCACHE)) {
    HRESULT st = fail(last_error_status(), p);
    let_go();
    return st;
  }
  p.total = file->size();
  DWORD size_error = GetLastError();
  handler_.start(p);
  if (!ftp && p.total <= 0) {
    QZ_LOG(L"The server gives no size for %s (error %u)", download_rules::url_for_log(url_).c_str(), size_error);
    HRESULT st = fail(kNoSize, p);
    let_go();
    handler_.complete(p);
    return st;
  }

  HANDLE out = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (attempt) Sleep(500);
    // Opened without emptying it (the end is set after the data): on some file
    // systems a file emptied at opening has all its data flushed to disk when it
    // is closed, which costs as much as the whole transfer again.
    out = CreateFileW(target_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
    if (out != INVALID_HANDLE_VALUE) break;
  }
  if (out == INVALID_HANDLE_VALUE) {
    HRESULT st = fail(last_error_status(), p);
    let_go();
    handler_.complete(p);
    return st;
  }

  std::unique_ptr<BYTE[]> buffer(new BYTE[kBlock]);
  HRESULT status = S_OK;
  bool stopped = false, read_failed = false;
  for (;;) {
    DWORD got = 0;
    if (!file->read(buffer.get(), kBlock, &got)) {
      // A failed read ends the data; whether the file is whole is judged below.
      read_failed = true;
      QZ_LOG(L"Reading %s failed after %llu bytes, error %u", download_rules::url_for_log(url_).c_str(),
             static_cast<unsigned long long>(p.done + got), GetLastError());
    }
    if (got > 0) {
      DWORD written = 0;
      if (!WriteFile(out, buffer.get(), got, &written, nullptr) || written != got) {
        status = p.status = written ? HRESULT_FROM_WIN32(ERROR_DISK_FULL) : last_error_status();
        if (handler_.error(p) != 1) {
          stopped = true;
          break;
        }
        if (read_failed) break;
        continue;
      }
    }
    p.done += got;
    if (handler_.progress(p) != 1) {
      stopped = true;
      break;
    }
    if (got == 0 || read_failed) break;
  }
  // What an earlier file of that name held past the new data goes.
  if (!SetEndOfFile(out) && status == S_OK && !stopped) status = last_error_status();
  CloseHandle(out);
  let_go();
  if (status == S_OK && !stopped && !download_rules::transfer_complete(p.total, p.done, read_failed)) {
    QZ_LOG(L"The transfer of %s ended after %llu of %lld bytes", download_rules::url_for_log(url_).c_str(),
           static_cast<unsigned long long>(p.done), static_cast<long long>(p.total));
    status = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
  }
  if (stopped && status == S_OK) status = HRESULT_FROM_WIN32(ERROR_CANCELLED);
  p.status = status;
  handler_.complete(p);
  if (status != S_OK) DeleteFileW(target_.c_str());
  return status;
}

CDownload::CDownload(const LaunchSettings& settings, HWND dialog) : calculator_(settings), dialog_(dialog) {}
CDownload::~CDownload() = default;

bool CDownload::Download(const std::wstring& source, const std::wstring& target) {
  target_ = target;
  if (download_rules::is_unc_source(source)) {
    url_ = source;
    if (CopyFileW(source.c_str(), target.c_str(), FALSE)) return true;
    status_ = last_error_status();
    return false;
  }
  url_ = download_rules::normalise_url(source);
  transfer_ = std::make_unique<DownloadTransfer>(url_, target_, *this);
  HANDLE thread = CreateThread(nullptr, 0, &DownloadTransfer::thread_main, transfer_.get(), 0, nullptr);
  if (!thread) {
    status_ = last_error_status();
    transfer_.reset();
    return false;
  }
  bool wait_ok = true, aborted = false, quit = false;
  WPARAM quit_code = 0;
  for (;;) {
    DWORD w = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT);
    if (w == WAIT_OBJECT_0) break;
    if (w != WAIT_OBJECT_0 + 1) {
      // The worker must end before the transfer object goes.
      wait_ok = false;
      transfer_->abort();
      WaitForSingleObject(thread, INFINITE);
      break;
    }
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.hwnd == nullptr && m.message == kDownloadAbortMessage) {
        QZ_LOG(L"The download of %s is aborted", download_rules::url_for_log(url_).c_str());
        aborted = true;
        transfer_->abort();
        continue;
      }
      if (m.message == WM_QUIT) {
        quit = true;
        quit_code = m.wParam;
        continue;
      }
      if (!dialog_ || !IsWindow(dialog_) || !IsDialogMessageW(dialog_, &m)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
      }
    }
  }
  DWORD code = static_cast<DWORD>(E_FAIL);
  if (!GetExitCodeThread(thread, &code)) wait_ok = false;
  CloseHandle(thread);
  transfer_.reset();
  // Whoever waits after this transfer still sees the user's Cancel and the quit.
  if (aborted) PostThreadMessageW(GetCurrentThreadId(), kDownloadAbortMessage, 0, 0);
  if (quit) PostQuitMessage(static_cast<int>(quit_code));
  status_ = static_cast<HRESULT>(code);
  return wait_ok && status_ >= 0;
}

int CDownload::start(const DownloadProgress& p) {
  shift_ = 0;
  uint64_t total = p.total > 0 ? static_cast<uint64_t>(p.total) : 0;
  while ((total >> shift_) > 0xFFFFFFFFull) ++shift_;
  calculator_.start(static_cast<uint32_t>(total >> shift_));
  last_update_ = 0;
  shown_once_ = false;
  last_percent_ = 0;
  last_time_text_.clear();
  if (dialog_) SendDlgItemMessageW(dialog_, kBar, PBM_SETPOS, 0, 0);
  return 1;
}

int CDownload::progress(const DownloadProgress& p) {
  const int go_on = qzproc::cancelled() ? 2 : 1;
  if (!dialog_ || !IsWindow(dialog_)) return go_on;
  int percent = 0;
  uint32_t rate = 0, left = 0;
  const uint32_t done = static_cast<uint32_t>(p.done >> shift_);
  calculator_.update(done, &percent, &rate, &left);
  const DWORD now = GetTickCount();
  // Every update is a message to another thread: only what changed is sent, the
  // amount line at most once a second.
  if (!shown_once_ || now - last_update_ >= 1000) {
    std::wstring amount = calculator_.transfer_text(rate, done, 0);
    SetDlgItemTextW(dialog_, kAmountText, amount.c_str());
    last_update_ = now;
    shown_once_ = true;
    std::wstring time = calculator_.remaining_text(left);
    if (time != last_time_text_) {
      SetDlgItemTextW(dialog_, kTimeText, time.c_str());
      last_time_text_ = time;
    }
  }
  if (percent > 100) percent = 100;
  if (percent != last_percent_) {
    SendDlgItemMessageW(dialog_, kBar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    last_percent_ = percent;
  }
  return go_on;
}

int CDownload::error(const DownloadProgress& p) {
  QZ_LOG(L"Transfer of %s: error 0x%08x after %llu bytes", download_rules::url_for_log(url_).c_str(),
         static_cast<unsigned>(p.status), static_cast<unsigned long long>(p.done));
  return 1;
}

int CDownload::complete(const DownloadProgress& p) {
  if (dialog_ && IsWindow(dialog_)) {
    SendDlgItemMessageW(dialog_, kBar, PBM_SETPOS, 100, 0);
    SetDlgItemTextW(dialog_, kAmountText, L"");
    SetDlgItemTextW(dialog_, kTimeText, L"");
  }
  return 1;
}
