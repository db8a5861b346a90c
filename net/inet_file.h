// The Internet transport: HTTP, HTTPS and FTP resources opened through WinINet in
// its asynchronous mode, their size and date, and reads in pieces that resume a
// broken transfer with a Range request. Every call that pends is waited for on an
// event while the waiting thread keeps dispatching its window messages.
//
// Errors travel as the thread's last error: WinINet's numbers, an HTTP status S
// outside 200-299 as 0x80040000 | (0xD3C0 + S), err::kTransferIncomplete and
// err::kTransferMismatch.
#pragma once
#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "net/inet_rules.h"

namespace qz {

class internet_exception : public std::runtime_error {
 public:
  explicit internet_exception(DWORD code) : std::runtime_error("internet"), code_(code) {}
  DWORD code() const noexcept { return code_; }

 private:
  DWORD code_;
};
// A read of the file abstraction through this transport failed.
class internet_file_exception : public internet_exception {
 public:
  using internet_exception::internet_exception;
};

// One WinINet session handle; copies share the handle and its count, the last one
// to let go closes it.
class inet_session {
 public:
  inet_session() = default;
  inet_session(const wchar_t* agent, DWORD access, const wchar_t* proxy, const wchar_t* bypass, DWORD flags);
  inet_session(const inet_session& other);
  inet_session& operator=(const inet_session& other);
  virtual ~inet_session();
  HINTERNET handle() const { return handle_; }

 private:
  void let_go();
  HINTERNET handle_ = nullptr;
  volatile LONG* count_ = nullptr;
};

// One WinINet handle used asynchronously: the status callback stores the result
// of each call here and sets the events the issuing thread waits on. Reference
// counted: WinINet holds one reference while the handle is open, so the object
// outlives every callback for it. Made with new and ended with Release.
class wininet_async_handle {
 public:
  wininet_async_handle();
  virtual LONG AddRef();
  // The count after; when it drops to 1 with a handle open (only WinINet holds it)
  // the handle is closed, at 0 the object deletes itself.
  virtual LONG Release();
  // After a WinINet call: its last error 0 is success at once, ERROR_IO_PENDING
  // waits for `event` (dispatching messages) up to `timeout` ms; a time-out closes
  // the handle unless `keep_handle` and fails with 12002. The stored error becomes
  // the thread's last error.
  virtual bool wait_for_completion(DWORD timeout, HANDLE event, bool keep_handle);
  virtual ~wininet_async_handle();
  // A completed call's result value; the base takes nothing.
  virtual bool on_success(DWORD_PTR value);

  HINTERNET handle() const { return handle_; }
  DWORD timeout() const { return timeout_; }
  void set_timeout(DWORD ms) { timeout_ = ms; }
  // Takes a handle a synchronous call returned (the callback may have stored it already).
  void adopt(HINTERNET handle) { handle_ = handle; }
  // The result value of the last completed call (a handle, or 1).
  DWORD_PTR result() const { return result_; }
  HANDLE completion_event() const { return complete_; }
  // Closes the WinINet handle and waits for WinINet to let go of it.
  void close_handle();
  // The status callback installed on every session handle.
  static void CALLBACK status_callback(HINTERNET handle, DWORD_PTR context, DWORD status, void* info, DWORD length);

 protected:
  HINTERNET handle_ = nullptr;
  volatile LONG last_error_ = 0;
  HANDLE complete_ = nullptr;
  HANDLE closing_ = nullptr;
  wchar_t* response_ = nullptr;  // the server's last text for 12003, 1024 characters
  DWORD response_length_ = 0;
  DWORD response_error_ = 0;
  volatile LONG refs_ = 1;
  DWORD* pending_count_ = nullptr;  // the byte counter of the read in progress
  DWORD timeout_ = 30000;
  volatile LONG handle_ref_ = 0;  // 1 while WinINet's reference for the open handle is held
  volatile DWORD_PTR result_ = 0;
};

// Decides what a failed call does next: inet::kForceRetry retries it, any other
// answer ends it with the error.
class inet_error_handler {
 public:
  virtual ~inet_error_handler() = default;
  virtual DWORD on_error(class inet_file& file) = 0;
};

class inet_file : public wininet_async_handle {
 public:
  // Opens the session (asynchronous); `http` files may share one (see session rule).
  inet_file(bool http, const wchar_t* agent, DWORD timeout_ms, DWORD access, const wchar_t* proxy,
            const wchar_t* bypass, DWORD flags);
  ~inet_file() override;

  // Stores the address (canonical), the extra headers and the flags; nothing is
  // sent yet. False with the last error (12005 for a bad address, 87 for headers).
  bool open(const std::wstring& url, const std::wstring& headers, DWORD flags);
  // Sends the request unless one is open (retrying as on_error decides).
  bool ensure_request();
  // Fills `buffer` up to `length` or to the end of the data; a transfer that breaks
  // off is resumed. *read gets what was delivered. False with the last error.
  bool read(void* buffer, DWORD length, DWORD* read);
  void close_request();
  // From another thread: closes the request and the connection; the reads in
  // progress and after end as at the end of the data.
  void abort();

  virtual int64_t seek(int64_t offset, int origin) = 0;
  // Bytes, or -1 when unknown.
  virtual int64_t size() = 0;
  virtual bool last_modified(FILETIME* time) = 0;
  virtual void reserved() {}
  virtual DWORD on_error();
  virtual bool check_response();
  virtual HINTERNET open_request(HINTERNET session, const std::wstring& url, const std::wstring& headers, DWORD flags,
                                 DWORD_PTR context);

  const std::wstring& url() const { return url_; }
  bool has_session() const { return session_.handle() != nullptr; }
  void set_error_handler(inet_error_handler* handler) { error_handler_ = handler; }
  void set_owner_window(HWND window) { owner_ = window; }
  void set_retry_limit(int limit) { retry_limit_ = limit; }
  uint64_t received() const { return received_; }
  // The thread's last error of the latest failure, as the caller saw it.
  DWORD error() const { return static_cast<DWORD>(last_error_); }

 protected:
  bool send_request(bool resend);
  // One piece loop: fills up to `length`; false when a piece failed.
  bool read_pieces(BYTE* buffer, DWORD length, DWORD* got);
  // Called after each answer to a (re)sent request: judges whether it continues the file.
  virtual bool accept_answer() { return true; }
  // The address an answer redirects to (made absolute); false when it is no redirection.
  virtual bool redirect_target(std::wstring* next) { return false; }
  // The file's size as its first answer announced it (0 unknown).
  uint64_t expected_total_ = 0;
  // Bytes of a restarted body still to drop before it reaches what is had.
  uint64_t skip_ = 0;
  volatile bool aborted_ = false;
  DWORD read_count_ = 0;  // WinINet writes a pending read's count here
  bool read_event_clear_ = false;  // no completion can be waiting on the event
  int resumes_ = 0;       // resumes of this transfer so far

  inet_session session_;
  std::wstring url_;
  std::wstring original_url_;
  std::wstring headers_;
  std::wstring request_headers_;
  uint64_t resume_offset_ = 0;
  uint64_t received_ = 0;
  DWORD flags_ = 0;
  inet::TransferStats stats_;
  int retry_limit_ = 5;
  DWORD autodial_ = INTERNET_AUTODIAL_FORCE_ONLINE;
  HWND owner_ = nullptr;
  inet_error_handler* error_handler_ = nullptr;
  LARGE_INTEGER frequency_{};
  bool counter_ = false;
  wininet_async_handle* connection_ = nullptr;
  std::wstring connection_host_;
};

class http_file : public inet_file {
 public:
  http_file(const wchar_t* agent, DWORD timeout_ms, DWORD access = INTERNET_OPEN_TYPE_PRECONFIG,
            const wchar_t* proxy = nullptr, const wchar_t* bypass = nullptr, DWORD flags = 0)
      : inet_file(true, agent, timeout_ms, access, proxy, bypass, flags) {}
  bool wait_for_completion(DWORD timeout, HANDLE event, bool keep_handle) override;
  int64_t seek(int64_t offset, int origin) override;
  int64_t size() override;
  bool last_modified(FILETIME* time) override;
  DWORD on_error() override;
  bool check_response() override;

 protected:
  bool accept_answer() override;
  bool redirect_target(std::wstring* next) override;
};

class ftp_file : public inet_file {
 public:
  ftp_file(const wchar_t* agent, DWORD timeout_ms, DWORD access = INTERNET_OPEN_TYPE_PRECONFIG,
           const wchar_t* proxy = nullptr, const wchar_t* bypass = nullptr, DWORD flags = 0)
      : inet_file(false, agent, timeout_ms, access, proxy, bypass, flags) {}
  bool wait_for_completion(DWORD timeout, HANDLE event, bool keep_handle) override;
  bool on_success(DWORD_PTR value) override;
  int64_t seek(int64_t, int) override { return -1; }
  int64_t size() override;
  bool last_modified(FILETIME* time) override;

 protected:
  // FTP has no ranges: a resumed transfer starts over and skips what is had.
  bool accept_answer() override;
  // Looks the path up on the server: false (last error set) when not found.
  bool find(WIN32_FIND_DATAW* data);
  bool found_ = false;
  WIN32_FIND_DATAW data_{};
};

// "ftp://" addresses as ftp_file, any other as http_file; null when the session
// cannot be opened (last error set). Released with Release().
inet_file* make_inet_file(const std::wstring& url, const wchar_t* agent, DWORD timeout_ms);

}  // namespace qz
