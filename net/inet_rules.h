// portable
// Pure rules of the Internet transport (net/inet_file.h): what an address and the
// request headers may be, the Range header, the error an HTTP status becomes,
// whether a server's answer to a resumed request continues the file, and the read
// piece size from the measured rate. No system calls: tested natively and fuzzed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qz::inet {

// WinINet's numbers, as the transport reports them through the thread's last error.
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorCancelled = 1223;
inline constexpr uint32_t kErrorTimeout = 12002;             // ERROR_INTERNET_TIMEOUT
inline constexpr uint32_t kErrorExtended = 12003;            // ERROR_INTERNET_EXTENDED_ERROR
inline constexpr uint32_t kErrorInvalidUrl = 12005;          // ERROR_INTERNET_INVALID_URL
inline constexpr uint32_t kErrorUnrecognizedScheme = 12006;  // ERROR_INTERNET_UNRECOGNIZED_SCHEME
inline constexpr uint32_t kErrorInvalidResponse = 12152;     // ERROR_HTTP_INVALID_SERVER_RESPONSE
inline constexpr uint32_t kErrorRedirectFailed = 12156;      // ERROR_HTTP_REDIRECT_FAILED
inline constexpr uint32_t kForceRetry = 0x2F00;              // ERROR_INTERNET_FORCE_RETRY

// Longer addresses and header texts are refused before anything is sent.
inline constexpr size_t kMaxUrlChars = 8192;
inline constexpr size_t kMaxHeaderChars = 16384;
// Redirections followed for one request; more is a loop.
inline constexpr int kMaxRedirects = 10;

// 0, or 12005 for an address that is empty, longer than kMaxUrlChars or holds a
// control character (a line break would let it write its own request lines).
uint32_t check_url(std::wstring_view url);
// 0, or 87 for extra headers longer than kMaxHeaderChars or with a control
// character other than the CR LF between lines.
uint32_t check_headers(std::wstring_view headers);

// 0 for 200 to 299; any other status S is 0x80040000 | (0xD3C0 + S), so 404 gives 0x8004D554.
uint32_t http_status_error(uint32_t status);

// The request headers: "Range: bytes=<offset>-" when resuming (followed by CR LF
// when extra headers come), then the extra headers.
std::wstring request_headers(uint64_t resume_offset, std::wstring_view extra);

// For an address with user information (an "@" before its third slash), the
// slashes of `canonical` after its first two and before its first "@" become
// backslashes, so that a user "domain/user" reaches WinINet as domain\user.
std::wstring user_info_backslashes(std::wstring_view original, std::wstring canonical);

// A status line WinINet parsed from a real answer: "HTTP/<digit>.<digit> <3 digits>"
// (text after it free). A server that sent something else gave none.
bool status_line_valid(std::wstring_view line);
// A raw header block (CR LF separated) WinINet got from a real HTTP/1.x answer: a
// valid status line and at least one header line. WinINet makes up a bare
// "HTTP/1.0 200 OK" for an answer without a status line.
bool answer_headers_valid(std::wstring_view raw);

// "bytes <first>-<last>/<total or *>".
struct ContentRange {
  uint64_t first = 0, last = 0, total = 0;
  bool total_known = false;
};
bool parse_content_range(std::wstring_view value, ContentRange* out);

// What the transport does with an answer to a request for the bytes from `offset`.
enum class Resume {
  kAppend,    // the body continues at `offset`
  kRestart,   // the body starts at 0 again: skip what is already had
  kMismatch,  // the body is another part, or of another file
};
struct Answer {
  uint32_t status = 200;
  bool has_range = false;  // a Content-Range header was there
  ContentRange range;
  bool has_length = false;
  uint64_t length = 0;  // Content-Length
};
// `expected_total` is the file's size as the first answer announced it (0 unknown).
Resume judge_answer(uint64_t offset, uint64_t expected_total, const Answer& answer);
// The file's whole size an answer announces, 0 when it says none.
uint64_t announced_total(const Answer& answer);

// Errors for which WinINet's error dialog has something to offer: certificates,
// passwords (401/407), zone crossings.
bool dialog_error(uint32_t error);

// The transfer rate measured over a moving window and the read piece it gives.
class TransferStats {
 public:
  static constexpr size_t kFirstPiece = 1500;
  static constexpr uint64_t kWindowMs = 30000;
  void clear() { *this = TransferStats(); }
  // One piece: bytes read in `ms` (0 counts as 5). `now_ms` is the clock.
  void add(uint64_t bytes, uint64_t ms, uint64_t now_ms);
  // Bytes per second in the current window; 0 before anything was measured.
  uint64_t rate() const;
  // The next piece: kFirstPiece until more than 10 s (or kWarmPieces pieces) and
  // some bytes were measured, then 15 × the rate; never more than `left`, never 0
  // when `left` is not. On a link slower than kWarmPieces first pieces in 10 s the
  // time decides; a faster one would otherwise spend thousands of tiny reads first.
  size_t piece(size_t left) const;
  static constexpr uint64_t kWarmPieces = 64;

 private:
  uint64_t bytes_ = 0, ms_ = 0;            // current window
  uint64_t next_bytes_ = 0, next_ms_ = 0;  // the next window, counting from the current one's middle
  uint64_t total_ms_ = 0;
  uint64_t pieces_ = 0;
  uint64_t window_start_ = 0;
  bool started_ = false;
};

}  // namespace qz::inet
