// One transfer of the download manager: the file is fetched on a worker thread
// over the Internet transport while the calling (user-interface) thread keeps
// dispatching its messages; progress goes to the initialisation dialog.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "package/ProgressCalculator.h"

struct LaunchSettings;

struct DownloadProgress {
  HRESULT status = S_OK;
  uint64_t done = 0;
  int64_t total = 0;  // -1 when unknown
};

// How a transfer reports. progress and error answer 1 to go on, anything else
// stops the transfer.
class IDownloadProgressHandler {
 public:
  virtual int start(const DownloadProgress& p) = 0;
  virtual int progress(const DownloadProgress& p) = 0;
  virtual int error(const DownloadProgress& p) = 0;
  virtual int complete(const DownloadProgress& p) = 0;
  virtual ~IDownloadProgressHandler() = default;
};

class DownloadTransfer;

class CDownload : public IDownloadProgressHandler {
 public:
  // `dialog`: the window whose bar (301) and texts (1004, 1005) show the
  // transfer; null shows nothing.
  CDownload(const LaunchSettings& settings, HWND dialog);
  ~CDownload() override;
  CDownload(const CDownload&) = delete;
  CDownload& operator=(const CDownload&) = delete;

  // Fetches `source` (a URL, or a UNC path that is copied) into `target`. True
  // when the whole file arrived; false with the status in last_status(). A Cancel
  // in the dialog (WM_APP + 0x32) aborts the transfer, which then fails.
  bool Download(const std::wstring& source, const std::wstring& target);
  HRESULT last_status() const { return status_; }

  int start(const DownloadProgress& p) override;
  int progress(const DownloadProgress& p) override;
  int error(const DownloadProgress& p) override;
  int complete(const DownloadProgress& p) override;

 private:
  ProgressCalculator calculator_;
  HWND dialog_;
  std::wstring url_;
  std::wstring target_;
  DWORD last_update_ = 0;
  bool shown_once_ = false;
  int last_percent_ = 0;
  std::wstring last_time_text_;
  int shift_ = 0;  // sizes beyond 32 bits are fed to the calculator scaled down
  HRESULT status_ = S_OK;
  std::unique_ptr<DownloadTransfer> transfer_;
};

// The thread message the initialisation dialog posts when the user cancels.
inline constexpr UINT kDownloadAbortMessage = WM_APP + 0x32;
