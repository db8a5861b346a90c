#include "net/inet_file.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "net/wininet_api.h"
#include "package/LaunchSettings.h"
#include "support/error_codes.h"
#include "support/message_pump.h"

namespace qz {

namespace {

const wininet::Api* wi() { return wininet::api(); }

// Waits for `event` up to `ms`, dispatching the thread's messages; false on time-out.
bool wait_pumping(HANDLE event, DWORD ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  bool pump = true;
  for (;;) {
    ULONGLONG now = GetTickCount64();
    DWORD left = now >= end ? 0 : static_cast<DWORD>(end - now);
    DWORD r = pump ? MsgWaitForMultipleObjects(1, &event, FALSE, left, QS_ALLINPUT)
                   : WaitForSingleObject(event, left);
    if (r == WAIT_OBJECT_0) return true;
    if (pump && r == WAIT_OBJECT_0 + 1) {
      // A quit request stays queued for its loop: from then on wait without pumping.
      if (!pump_messages()) pump = false;
      continue;
    }
    return false;
  }
}

// Dialogs only in an interactive launch; a program without launch settings shows none.
bool dialogs_allowed() {
  LaunchSettings* s = qzproc::settings();
  return s && !s->silent;
}

// A header value as text ("" when absent).
std::wstring query_text(HINTERNET request, DWORD what) {
  std::vector<wchar_t> buffer(256);
  for (int i = 0; i < 4; ++i) {
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    DWORD index = 0;
    if (wi()->HttpQueryInfoW(request, what, buffer.data(), &bytes, &index))
      return std::wstring(buffer.data(), bytes / sizeof(wchar_t));
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes > (1u << 20)) return L"";
    buffer.resize(bytes / sizeof(wchar_t) + 1);
  }
  return L"";
}

bool parse_u64(const std::wstring& text, uint64_t* value) {
  if (text.empty()) return false;
  uint64_t v = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9' || v > (UINT64_MAX - 9) / 10) return false;
    v = v * 10 + static_cast<uint64_t>(c - L'0');
  }
  *value = v;
  return true;
}

struct CrackedUrl {
  INTERNET_SCHEME scheme = INTERNET_SCHEME_UNKNOWN;
  std::wstring host, user, password, path, extra;
  INTERNET_PORT port = 0;
};

bool crack(const std::wstring& url, DWORD flags, CrackedUrl* out) {
  URL_COMPONENTSW uc{};
  uc.dwStructSize = sizeof(uc);
  uc.dwSchemeLength = uc.dwHostNameLength = uc.dwUserNameLength = uc.dwPasswordLength = uc.dwUrlPathLength =
      uc.dwExtraInfoLength = 1;
  if (!wi()->InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), flags & ~ICU_DECODE, &uc)) return false;
  auto part = [](const wchar_t* p, DWORD n) { return p ? std::wstring(p, n) : std::wstring(); };
  out->scheme = uc.nScheme;
  out->host = part(uc.lpszHostName, uc.dwHostNameLength);
  out->user = part(uc.lpszUserName, uc.dwUserNameLength);
  out->password = part(uc.lpszPassword, uc.dwPasswordLength);
  out->path = part(uc.lpszUrlPath, uc.dwUrlPathLength);
  out->extra = part(uc.lpszExtraInfo, uc.dwExtraInfoLength);
  out->port = uc.nPort;
  return true;
}

const wchar_t* or_null(const std::wstring& s) { return s.empty() ? nullptr : s.c_str(); }

// One shared session for every HTTP file when WinINet is of major version 1.
CRITICAL_SECTION* shared_lock() {
  static CRITICAL_SECTION* cs = [] {
    auto* c = new CRITICAL_SECTION;
    InitializeCriticalSection(c);
    return c;
  }();
  return cs;
}
inet_session* g_shared_session = nullptr;

bool share_sessions() {
  INTERNET_VERSION_INFO info{};
  DWORD size = sizeof(info);
  return wi()->InternetQueryOptionW(nullptr, INTERNET_OPTION_VERSION, &info, &size) && info.dwMajorVersion == 1;
}

inet_session session_for(bool http, const wchar_t* agent, DWORD access, const wchar_t* proxy, const wchar_t* bypass,
                         DWORD flags) {
  if (!wi()) return inet_session();
  if (!http || !share_sessions()) return inet_session(agent, access, proxy, bypass, flags);
  EnterCriticalSection(shared_lock());
  // Never released: the session lives as long as the process may fetch.
  if (!g_shared_session || !g_shared_session->handle()) {
    delete g_shared_session;
    g_shared_session = new inet_session(agent, access, proxy, bypass, flags);
  }
  inet_session copy = *g_shared_session;
  LeaveCriticalSection(shared_lock());
  return copy;
}

}  // namespace

// ---- inet_session -------------------------------------------------------------

inet_session::inet_session(const wchar_t* agent, DWORD access, const wchar_t* proxy, const wchar_t* bypass,
                           DWORD flags) {
  const wininet::Api* a = wi();
  if (!a) return;
  handle_ = a->InternetOpenW(agent, access, proxy, bypass, flags | INTERNET_FLAG_ASYNC);
  if (!handle_) return;
  DWORD saved = GetLastError();
  a->InternetSetStatusCallbackW(handle_, &wininet_async_handle::status_callback);
  count_ = new LONG(1);
  SetLastError(saved);
}

inet_session::inet_session(const inet_session& other) : handle_(other.handle_), count_(other.count_) {
  if (count_) InterlockedIncrement(count_);
}

inet_session& inet_session::operator=(const inet_session& other) {
  if (this != &other) {
    if (other.count_) InterlockedIncrement(other.count_);
    let_go();
    handle_ = other.handle_;
    count_ = other.count_;
  }
  return *this;
}

inet_session::~inet_session() { let_go(); }

void inet_session::let_go() {
  if (count_ && InterlockedDecrement(count_) == 0) {
    wi()->InternetCloseHandle(handle_);
    delete count_;
  }
  handle_ = nullptr;
  count_ = nullptr;
}

// ---- wininet_async_handle -----------------------------------------------------

wininet_async_handle::wininet_async_handle() {
  complete_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  closing_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

wininet_async_handle::~wininet_async_handle() {
  if (complete_) CloseHandle(complete_);
  if (closing_) CloseHandle(closing_);
  delete[] response_;
}

LONG wininet_async_handle::AddRef() { return InterlockedIncrement(&refs_); }

LONG wininet_async_handle::Release() {
  LONG n = InterlockedDecrement(&refs_);
  if (n == 1 && handle_ref_) {
    close_handle();  // drops WinINet's reference, and with it the object
    return 0;
  }
  if (n == 0) delete this;
  return n;
}

bool wininet_async_handle::on_success(DWORD_PTR) { return false; }

void wininet_async_handle::close_handle() {
  HINTERNET h = static_cast<HINTERNET>(InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&handle_), nullptr));
  if (!h) return;
  DWORD saved = GetLastError();
  ResetEvent(closing_);
  wi()->InternetCloseHandle(h);
  // The closing notification is WinINet's last word for the handle: after it no
  // callback touches this object, so its reference can go.
  bool closed = !handle_ref_ || wait_pumping(closing_, timeout_);
  SetLastError(saved);
  if (closed && InterlockedExchange(&handle_ref_, 0)) Release();
}

bool wininet_async_handle::wait_for_completion(DWORD timeout, HANDLE event, bool keep_handle) {
  DWORD e = GetLastError();
  if (e == 0) return true;
  if (e != ERROR_IO_PENDING) return false;
  if (!wait_pumping(event, timeout)) {
    if (!keep_handle) close_handle();
    last_error_ = inet::kErrorTimeout;
  }
  DWORD stored = static_cast<DWORD>(last_error_);
  SetLastError(stored);
  return stored == 0;
}

void CALLBACK wininet_async_handle::status_callback(HINTERNET, DWORD_PTR context, DWORD status, void* info,
                                                    DWORD length) {
  auto* self = reinterpret_cast<wininet_async_handle*>(context);
  if (!self) return;
  switch (status) {
    case INTERNET_STATUS_HANDLE_CREATED: {
      auto* r = static_cast<INTERNET_ASYNC_RESULT*>(info);
      if (!r) break;
      self->handle_ = reinterpret_cast<HINTERNET>(r->dwResult);
      if (InterlockedExchange(&self->handle_ref_, 1) == 0) self->AddRef();
      break;
    }
    case INTERNET_STATUS_HANDLE_CLOSING:
      SetEvent(self->closing_);
      break;
    case INTERNET_STATUS_REQUEST_COMPLETE: {
      auto* r = static_cast<INTERNET_ASYNC_RESULT*>(info);
      if (!r || length < sizeof(INTERNET_ASYNC_RESULT)) break;
      self->result_ = r->dwResult;
      if (r->dwResult == 1) {
        self->on_success(r->dwError);
        self->last_error_ = 0;
      } else {
        self->last_error_ = static_cast<LONG>(r->dwError);
        if (r->dwResult == 0 && r->dwError == inet::kErrorExtended) {
          if (!self->response_) self->response_ = new wchar_t[1024];
          DWORD n = 1024;
          if (wi()->InternetGetLastResponseInfoW(&self->response_error_, self->response_, &n))
            self->response_length_ = n;
        }
      }
      SetEvent(self->complete_);
      break;
    }
    default:
      break;
  }
}

// ---- inet_file ----------------------------------------------------------------

inet_file::inet_file(bool http, const wchar_t* agent, DWORD timeout_ms, DWORD access, const wchar_t* proxy,
                     const wchar_t* bypass, DWORD flags)
    : session_(session_for(http, agent, access, proxy, bypass, flags)) {
  timeout_ = timeout_ms;
  counter_ = QueryPerformanceFrequency(&frequency_) && frequency_.QuadPart > 0;
  if (!counter_) frequency_.QuadPart = 1000;
  // The owner of error dialogs is the desktop window, asked for when one is shown:
  // asking makes the system start its desktop, which a fetch without dialogs never needs.
}

inet_file::~inet_file() {
  if (connection_) {
    connection_->close_handle();
    connection_->Release();
  }
}

bool inet_file::open(const std::wstring& url, const std::wstring& headers, DWORD flags) {
  const wininet::Api* a = wi();
  if (!a) return false;
  if (!session_.handle()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  DWORD e = inet::check_url(url);
  if (!e) e = inet::check_headers(headers);
  if (e) {
    last_error_ = static_cast<LONG>(e);
    SetLastError(e);
    return false;
  }
  a->InternetSetStatusCallbackW(session_.handle(), &wininet_async_handle::status_callback);
  flags_ = flags;
  stats_.clear();
  if (!connection_) {
    connection_ = new wininet_async_handle;
    connection_->set_timeout(timeout_);
  }
  headers_ = headers;
  original_url_ = url;
  std::vector<wchar_t> buffer(url.size() + 20);
  for (;;) {
    DWORD n = static_cast<DWORD>(buffer.size());
    if (a->InternetCanonicalizeUrlW(url.c_str(), buffer.data(), &n, ICU_DECODE | ICU_BROWSER_MODE)) {
      url_.assign(buffer.data(), n);
      break;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || n <= buffer.size() || n > 4 * inet::kMaxUrlChars) {
      if (GetLastError() == 0 || GetLastError() == ERROR_INSUFFICIENT_BUFFER) SetLastError(inet::kErrorInvalidUrl);
      last_error_ = static_cast<LONG>(GetLastError());
      return false;
    }
    buffer.resize(n + 1);
  }
  url_ = inet::user_info_backslashes(url, url_);
  // Decoding may bring out what the address hid (an encoded line break).
  if ((e = inet::check_url(url_)) != 0) {
    last_error_ = static_cast<LONG>(e);
    SetLastError(e);
    return false;
  }
  return true;
}

bool inet_file::send_request(bool resend) {
  const wininet::Api* a = wi();
  if (aborted_) {
    SetLastError(ERROR_CANCELLED);
    return false;
  }
  // A request already open is used as it is: nothing to dial for.
  if (handle_ && !resend) return true;
  read_event_clear_ = false;
  DWORD state = 0;
  if (!a->InternetGetConnectedState(&state, 0) && (state & (INTERNET_CONNECTION_MODEM | INTERNET_CONNECTION_CONFIGURED))) {
    if (!a->InternetAutodial(autodial_, owner_)) {
      last_error_ = static_cast<LONG>(GetLastError());
      return false;
    }
  }
  request_headers_ = inet::request_headers(resume_offset_, headers_);
  if (DWORD e = inet::check_headers(request_headers_)) {
    SetLastError(e);
    return false;
  }
  const wchar_t* hdrs = request_headers_.empty() ? nullptr : request_headers_.c_str();
  const DWORD hdrs_len = static_cast<DWORD>(request_headers_.size());
  if (handle_) {
    if (!resend) return true;
    ResetEvent(complete_);
    last_error_ = 0;
    bool ok = a->HttpSendRequestW(handle_, hdrs, hdrs_len, nullptr, 0) ? check_response()
                                                                        : wait_for_completion(timeout_, complete_, false);
    return ok && accept_answer();
  }
  // Redirections are followed here, not by WinINet, so that a loop ends at the limit.
  for (int hop = 0;; ++hop) {
    ResetEvent(complete_);
    last_error_ = 0;
    const bool ftp = CompareStringOrdinal(url_.c_str(), url_.size() < 6 ? -1 : 6, L"ftp://", 6, TRUE) == CSTR_EQUAL;
    const DWORD flags = ftp ? flags_ : flags_ | INTERNET_FLAG_NO_AUTO_REDIRECT;
    HINTERNET h = open_request(session_.handle(), url_, request_headers_, flags, reinterpret_cast<DWORD_PTR>(this));
    if (!h && GetLastError() == ERROR_INVALID_PARAMETER && (flags_ & INTERNET_FLAG_PRAGMA_NOCACHE)) {
      flags_ &= ~INTERNET_FLAG_PRAGMA_NOCACHE;
      h = open_request(session_.handle(), url_, request_headers_, flags & ~INTERNET_FLAG_PRAGMA_NOCACHE,
                       reinterpret_cast<DWORD_PTR>(this));
    }
    bool ok;
    if (!h) {
      ok = wait_for_completion(timeout_, complete_, false);
    } else {
      handle_ = h;
      ok = check_response();
    }
    if (ok && !handle_) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    if (!ok) return false;
    std::wstring next;
    if (!redirect_target(&next)) break;
    close_request();
    if (hop >= inet::kMaxRedirects) {
      last_error_ = inet::kErrorRedirectFailed;
      SetLastError(inet::kErrorRedirectFailed);
      return false;
    }
    url_ = next;
  }
  return accept_answer();
}

HINTERNET inet_file::open_request(HINTERNET session, const std::wstring& url, const std::wstring& headers, DWORD flags,
                                  DWORD_PTR context) {
  const wininet::Api* a = wi();
  const wchar_t* hdrs = headers.empty() ? nullptr : headers.c_str();
  const DWORD hdrs_len = static_cast<DWORD>(headers.size());
  CrackedUrl u;
  if (!crack(url, 0, &u)) return nullptr;
  switch (u.scheme) {
    case INTERNET_SCHEME_FTP:
    case INTERNET_SCHEME_GOPHER:
    case INTERNET_SCHEME_HTTP:
      return a->InternetOpenUrlW(session, url.c_str(), hdrs, hdrs_len, flags, context);
    case INTERNET_SCHEME_HTTPS: {
      flags |= INTERNET_FLAG_SECURE;
      // One connection per host and port; another one is closed first.
      std::wstring host = u.host + L":" + std::to_wstring(u.port);
      if (connection_->handle() && CompareStringOrdinal(host.c_str(), -1, connection_host_.c_str(), -1, TRUE) != CSTR_EQUAL)
        connection_->close_handle();
      if (!connection_->handle()) {
        HINTERNET c = a->InternetConnectW(session, u.host.c_str(), u.port, or_null(u.user), or_null(u.password),
                                          INTERNET_SERVICE_HTTP, 0, reinterpret_cast<DWORD_PTR>(connection_));
        if (!c) return nullptr;
        connection_->adopt(c);
        connection_host_ = host;
      }
      std::wstring object = u.path + u.extra;
      HINTERNET r = a->HttpOpenRequestW(connection_->handle(), L"GET", object.c_str(), nullptr, nullptr, nullptr, flags,
                                        context);
      if (!r) return nullptr;
      handle_ = r;
      if (!a->HttpSendRequestW(r, hdrs, hdrs_len, nullptr, 0)) return nullptr;  // pending, or failed
      return r;
    }
    default:
      last_error_ = inet::kErrorUnrecognizedScheme;
      SetEvent(complete_);
      SetLastError(ERROR_IO_PENDING);
      return nullptr;
  }
}

bool inet_file::ensure_request() {
  for (int attempt = 0; attempt <= retry_limit_; ++attempt) {
    if (send_request(attempt > 0)) return true;
    if (aborted_ || on_error() != inet::kForceRetry) return false;
  }
  return false;
}

DWORD inet_file::on_error() {
  const DWORD saved = GetLastError();
  last_error_ = static_cast<LONG>(saved);
  DWORD answer = inet::kForceRetry;
  if (error_handler_) {
    DWORD d = error_handler_->on_error(*this);
    if (d == inet::kForceRetry || d == inet::kErrorCancelled) {
      SetLastError(saved);
      return d;
    }
  }
  if (inet::dialog_error(saved) && dialogs_allowed() && handle_) {
    // 401 and 407 reach the dialog as the password error it knows.
    DWORD shown = (saved & 0xFFFF0000u) == 0x80040000u ? 12014 : saved;
    DWORD r = wi()->InternetErrorDlg(owner_ ? owner_ : GetDesktopWindow(), handle_, shown,
                                     FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                         FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
                                     nullptr);
    answer = r == ERROR_CANCELLED ? inet::kErrorCancelled : inet::kForceRetry;
  }
  SetLastError(saved);
  return answer;
}

bool inet_file::check_response() { return true; }

void inet_file::close_request() {
  read_event_clear_ = false;
  // The request's handle holds WinINet's reference; closing it lets that go.
  close_handle();
}

void inet_file::abort() {
  aborted_ = true;
  close_handle();
  if (connection_) connection_->close_handle();
}

bool inet_file::read_pieces(BYTE* buffer, DWORD length, DWORD* got) {
  const wininet::Api* a = wi();
  *got = 0;
  while (*got < length) {
    if (aborted_ || !handle_) return true;
    DWORD piece = static_cast<DWORD>(stats_.piece(length - *got));
    LARGE_INTEGER t0{}, t1{};
    if (counter_) QueryPerformanceCounter(&t0);
    else t0.QuadPart = static_cast<LONGLONG>(GetTickCount64());
    // Resetting the event costs a round trip to the system on every piece; it is
    // only needed when an earlier call may have left a completion behind.
    if (!read_event_clear_) ResetEvent(complete_);
    read_event_clear_ = false;
    last_error_ = 0;
    read_count_ = 0;
    pending_count_ = &read_count_;
    const bool at_once = a->InternetReadFile(handle_, buffer + *got, piece, &read_count_) != FALSE;
    const bool pended = !at_once && GetLastError() == ERROR_IO_PENDING;
    if (!at_once && !wait_for_completion(timeout_, complete_, false)) {
      pending_count_ = nullptr;
      return false;
    }
    pending_count_ = nullptr;
    // A read done at once reports no completion, and the wait for a pending one
    // took its signal (the event resets itself): the event is clear for the next piece.
    read_event_clear_ = at_once || pended;
    DWORD n = read_count_;
    if (counter_) QueryPerformanceCounter(&t1);
    else t1.QuadPart = static_cast<LONGLONG>(GetTickCount64());
    uint64_t units = static_cast<uint64_t>(t1.QuadPart - t0.QuadPart);
    uint64_t ms = units * 1000 / static_cast<uint64_t>(frequency_.QuadPart);
    stats_.add(n, ms, GetTickCount64());
    if (n == 0) {
      if (aborted_) return true;
      // Under some servers and stacks a cut connection reads as a normal end:
      // only the announced size tells the difference.
      if (skip_ || (expected_total_ && received_ < expected_total_)) {
        last_error_ = err::kTransferIncomplete;
        SetLastError(err::kTransferIncomplete);
        return false;
      }
      return true;
    }
    if (skip_) {
      DWORD drop = static_cast<DWORD>(std::min<uint64_t>(skip_, n));
      std::memmove(buffer + *got, buffer + *got + drop, n - drop);
      skip_ -= drop;
      n -= drop;
    }
    *got += n;
    received_ += n;
  }
  return true;
}

bool inet_file::read(void* buffer, DWORD length, DWORD* read) {
  *read = 0;
  BYTE* p = static_cast<BYTE*>(buffer);
  for (int attempt = 0; attempt <= retry_limit_; ++attempt) {
    if (aborted_) return true;
    bool ok = send_request(false);
    if (ok) {
      DWORD got = 0;
      ok = read_pieces(p, length - *read, &got);
      *read += got;
      p += got;
      if (ok) return true;
    }
    if (aborted_) return true;
    if (on_error() != inet::kForceRetry || attempt == retry_limit_ || resumes_ >= retry_limit_) return false;
    ++resumes_;
    const DWORD saved = GetLastError();
    close_request();
    // The next request asks for the rest from where it broke off.
    resume_offset_ = received_;
    skip_ = 0;
    SetLastError(saved);
  }
  return false;
}

// ---- http_file ----------------------------------------------------------------

bool http_file::wait_for_completion(DWORD timeout, HANDLE event, bool keep_handle) {
  return wininet_async_handle::wait_for_completion(timeout, event, keep_handle) && check_response();
}

DWORD http_file::on_error() { return inet_file::on_error(); }

bool http_file::check_response() {
  if (!handle_) return true;
  DWORD status = 0, size = sizeof(status), index = 0;
  bool have = wi()->HttpQueryInfoW(handle_, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, &index);
  // A server that answered with something other than a status line gave no usable answer.
  if (!have || !inet::answer_headers_valid(query_text(handle_, HTTP_QUERY_RAW_HEADERS_CRLF))) {
    last_error_ = inet::kErrorInvalidResponse;
    SetLastError(inet::kErrorInvalidResponse);
    return false;
  }
  if (status >= 300 && status <= 399 && !query_text(handle_, HTTP_QUERY_LOCATION).empty()) return true;
  if (DWORD e = inet::http_status_error(status)) {
    last_error_ = static_cast<LONG>(e);
    SetLastError(e);
    return false;
  }
  return true;
}

bool http_file::accept_answer() {
  inet::Answer answer;
  DWORD status = 0, size = sizeof(status), index = 0;
  if (wi()->HttpQueryInfoW(handle_, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, &index))
    answer.status = status;
  std::wstring range = query_text(handle_, HTTP_QUERY_CONTENT_RANGE);
  answer.has_range = !range.empty() && inet::parse_content_range(range, &answer.range);
  answer.has_length = parse_u64(query_text(handle_, HTTP_QUERY_CONTENT_LENGTH), &answer.length);
  inet::Resume verdict = inet::judge_answer(resume_offset_, expected_total_, answer);
  if (verdict == inet::Resume::kMismatch) {
    last_error_ = err::kTransferMismatch;
    SetLastError(err::kTransferMismatch);
    return false;
  }
  if (!expected_total_) expected_total_ = inet::announced_total(answer);
  if (verdict == inet::Resume::kRestart) {
    // The server sent the whole file again: drop what is already had.
    skip_ = resume_offset_;
    resume_offset_ = 0;
  }
  return true;
}

bool http_file::redirect_target(std::wstring* next) {
  DWORD status = 0, size = sizeof(status), index = 0;
  if (!wi()->HttpQueryInfoW(handle_, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, &index) ||
      (status != 301 && status != 302 && status != 303 && status != 307 && status != 308))
    return false;
  std::wstring location = query_text(handle_, HTTP_QUERY_LOCATION);
  if (location.empty() || inet::check_url(location)) return false;
  std::vector<wchar_t> buffer(url_.size() + location.size() + 64);
  DWORD n = static_cast<DWORD>(buffer.size());
  if (!wi()->InternetCombineUrlW(url_.c_str(), location.c_str(), buffer.data(), &n, ICU_BROWSER_MODE)) return false;
  next->assign(buffer.data(), n);
  return inet::check_url(*next) == 0;
}

int64_t http_file::seek(int64_t offset, int origin) {
  int64_t base = origin == 1 ? static_cast<int64_t>(received_) : origin == 2 ? size() : 0;
  if (origin == 2 && base < 0) return -1;
  int64_t position = base + offset;
  if (position < 0) return -1;
  if (static_cast<uint64_t>(position) != received_) {
    close_request();
    resume_offset_ = received_ = static_cast<uint64_t>(position);
    skip_ = 0;
    resumes_ = 0;
  }
  return position;
}

int64_t http_file::size() {
  if (!ensure_request()) return -1;
  return expected_total_ ? static_cast<int64_t>(expected_total_) : -1;
}

bool http_file::last_modified(FILETIME* time) {
  if (!ensure_request()) return false;
  SYSTEMTIME st{};
  DWORD size = sizeof(st), index = 0;
  if (!wi()->HttpQueryInfoW(handle_, HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, &st, &size, &index))
    return false;
  return SystemTimeToFileTime(&st, time) != FALSE;
}

// ---- ftp_file -----------------------------------------------------------------

bool ftp_file::wait_for_completion(DWORD timeout, HANDLE event, bool keep_handle) {
  // No status to check on an FTP handle: the HTTP check passes it as it is.
  return wininet_async_handle::wait_for_completion(timeout, event, keep_handle);
}

bool ftp_file::on_success(DWORD_PTR value) {
  if (pending_count_) *pending_count_ = static_cast<DWORD>(value);
  return true;
}

bool ftp_file::accept_answer() {
  // The size tells a data connection closed early from the end of the file.
  if (!found_ && find(&data_)) expected_total_ = (static_cast<uint64_t>(data_.nFileSizeHigh) << 32) | data_.nFileSizeLow;
  if (resume_offset_) {
    skip_ = resume_offset_;
    resume_offset_ = 0;
  }
  return true;
}

bool ftp_file::find(WIN32_FIND_DATAW* data) {
  const wininet::Api* a = wi();
  CrackedUrl u;
  if (!crack(url_, 0, &u)) return false;
  // One context for the connection and the search: WinINet reports a search's
  // completion to its connection's context, its handles to the search's.
  auto* op = new wininet_async_handle;
  op->set_timeout(timeout_);
  HANDLE done = op->completion_event();
  bool ok = false;
  ResetEvent(done);
  // The address's own port: another port would ask another server.
  HINTERNET c = a->InternetConnectW(session_.handle(), u.host.c_str(), u.port, or_null(u.user), or_null(u.password),
                                    INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, reinterpret_cast<DWORD_PTR>(op));
  if (!c && op->wait_for_completion(timeout_, done, true)) c = reinterpret_cast<HINTERNET>(op->result());
  HINTERNET f = nullptr;
  if (c) {
    op->adopt(nullptr);
    ResetEvent(done);
    f = a->FtpFindFirstFileW(c, u.path.c_str(), data, INTERNET_FLAG_RELOAD, reinterpret_cast<DWORD_PTR>(op));
    if (!f) {
      // Some WinINet builds report a pending search with last error 0.
      if (GetLastError() == 0) SetLastError(ERROR_IO_PENDING);
      if (op->wait_for_completion(timeout_, done, true)) {
        f = reinterpret_cast<HINTERNET>(op->result());
        if (op->result() <= 1) f = op->handle();
      }
    }
    ok = f != nullptr;
    // The listing is not drained entry by entry: an asynchronous next-entry call
    // writes its entry later, and closing the search ends the listing as well.
  }
  DWORD saved = ok ? 0 : GetLastError();
  op->adopt(nullptr);
  if (f) a->InternetCloseHandle(f);
  if (c) a->InternetCloseHandle(c);
  // WinINet may still report on these handles after they are closed: their
  // context is kept for the rest of the process rather than freed under it.
  found_ = ok;
  SetLastError(saved ? saved : (ok ? 0 : ERROR_FILE_NOT_FOUND));
  return ok;
}

int64_t ftp_file::size() {
  if (!found_ && !find(&data_)) return -1;
  return static_cast<int64_t>((static_cast<uint64_t>(data_.nFileSizeHigh) << 32) | data_.nFileSizeLow);
}

bool ftp_file::last_modified(FILETIME* time) {
  if (!found_ && !find(&data_)) return false;
  *time = data_.ftLastWriteTime;
  return true;
}

// ---- making one ---------------------------------------------------------------

inet_file* make_inet_file(const std::wstring& url, const wchar_t* agent, DWORD timeout_ms) {
  const bool ftp = url.size() >= 6 && CompareStringOrdinal(url.c_str(), 6, L"ftp://", 6, TRUE) == CSTR_EQUAL;
  inet_file* f = ftp ? static_cast<inet_file*>(new ftp_file(agent, timeout_ms)) : new http_file(agent, timeout_ms);
  if (!f->has_session()) {
    DWORD e = GetLastError();
    f->Release();
    SetLastError(e ? e : ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return f;
}

}  // namespace qz
