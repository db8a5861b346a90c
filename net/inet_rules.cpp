// portable
#include "net/inet_rules.h"

#include <algorithm>
#include <cwchar>
#include <limits>

namespace qz::inet {

namespace {

bool is_digit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Decimal digits at `pos` into *value; false when there are none or they overflow.
bool read_number(std::wstring_view text, size_t* pos, uint64_t* value) {
  size_t start = *pos;
  uint64_t v = 0;
  while (*pos < text.size() && is_digit(text[*pos])) {
    uint64_t d = static_cast<uint64_t>(text[*pos] - L'0');
    if (v > (std::numeric_limits<uint64_t>::max() - d) / 10) return false;
    v = v * 10 + d;
    ++*pos;
  }
  *value = v;
  return *pos > start;
}

void skip_blanks(std::wstring_view text, size_t* pos) {
  while (*pos < text.size() && (text[*pos] == L' ' || text[*pos] == L'\t')) ++*pos;
}

}  // namespace

uint32_t check_url(std::wstring_view url) {
  if (url.empty() || url.size() > kMaxUrlChars) return kErrorInvalidUrl;
  for (wchar_t c : url)
    if (c < 0x20 || c == 0x7F) return kErrorInvalidUrl;
  return 0;
}

uint32_t check_headers(std::wstring_view headers) {
  if (headers.size() > kMaxHeaderChars) return kErrorInvalidParameter;
  for (size_t i = 0; i < headers.size(); ++i) {
    wchar_t c = headers[i];
    if (c == L'\r' && i + 1 < headers.size() && headers[i + 1] == L'\n') {
      ++i;
      continue;
    }
    if ((c < 0x20 && c != L'\t') || c == 0x7F) return kErrorInvalidParameter;
  }
  return 0;
}

uint32_t http_status_error(uint32_t status) {
  if (status >= 200 && status <= 299) return 0;
  return 0x80040000u | ((0xD3C0u + status) & 0xFFFFu);
}

std::wstring request_headers(uint64_t resume_offset, std::wstring_view extra) {
  std::wstring out;
  if (resume_offset != 0) {
    wchar_t range[64];
    std::swprintf(range, 64, L"Range: bytes=%llu-", static_cast<unsigned long long>(resume_offset));
    out = range;
    if (!extra.empty()) out += L"\r\n";
  }
  out.append(extra);
  return out;
}

std::wstring user_info_backslashes(std::wstring_view original, std::wstring canonical) {
  // The "@" must come before the third slash of the original address.
  size_t slashes = 0, at = std::wstring_view::npos;
  for (size_t i = 0; i < original.size(); ++i) {
    if (original[i] == L'/' && ++slashes == 3) break;
    if (original[i] == L'@') {
      at = i;
      break;
    }
  }
  if (at == std::wstring_view::npos) return canonical;
  size_t end = canonical.find(L'@');
  if (end == std::wstring::npos) return canonical;
  slashes = 0;
  for (size_t i = 0; i < end; ++i) {
    if (canonical[i] != L'/') continue;
    if (++slashes > 2) canonical[i] = L'\\';
  }
  return canonical;
}

bool status_line_valid(std::wstring_view line) {
  // "HTTP/" digit "." digit blank 3 digits, then a blank or the end.
  if (line.size() < 12 || line.substr(0, 5) != L"HTTP/") return false;
  if (!is_digit(line[5]) || line[6] != L'.' || !is_digit(line[7]) || line[8] != L' ') return false;
  if (!is_digit(line[9]) || !is_digit(line[10]) || !is_digit(line[11])) return false;
  return line.size() == 12 || line[12] == L' ' || line[12] == L'\r' || line[12] == L'\n';
}

bool answer_headers_valid(std::wstring_view raw) {
  size_t end = raw.find(L"\r\n");
  if (end == std::wstring_view::npos || !status_line_valid(raw.substr(0, end))) return false;
  std::wstring_view rest = raw.substr(end + 2);
  size_t next = rest.find(L"\r\n");
  return !rest.empty() && next != 0;
}

bool parse_content_range(std::wstring_view value, ContentRange* out) {
  size_t pos = 0;
  skip_blanks(value, &pos);
  if (value.substr(pos, 5) != L"bytes") return false;
  pos += 5;
  size_t before = pos;
  skip_blanks(value, &pos);
  if (pos == before) return false;
  ContentRange r;
  if (!read_number(value, &pos, &r.first) || pos >= value.size() || value[pos] != L'-') return false;
  ++pos;
  if (!read_number(value, &pos, &r.last) || pos >= value.size() || value[pos] != L'/') return false;
  ++pos;
  if (pos < value.size() && value[pos] == L'*') {
    ++pos;
  } else {
    if (!read_number(value, &pos, &r.total)) return false;
    r.total_known = true;
  }
  skip_blanks(value, &pos);
  if (pos != value.size()) return false;
  if (r.first > r.last || (r.total_known && r.last >= r.total)) return false;
  *out = r;
  return true;
}

uint64_t announced_total(const Answer& answer) {
  if (answer.status == 206) {
    if (!answer.has_range) return 0;
    if (answer.range.total_known) return answer.range.total;
    return 0;
  }
  return answer.has_length ? answer.length : 0;
}

Resume judge_answer(uint64_t offset, uint64_t expected_total, const Answer& answer) {
  uint64_t total = announced_total(answer);
  // Another size than before: the resource changed between the attempts.
  if (expected_total != 0 && total != 0 && total != expected_total) return Resume::kMismatch;
  if (answer.status == 206) {
    // A part is only usable when it is said to start where the file broke off.
    if (!answer.has_range || answer.range.first != offset) return Resume::kMismatch;
    if (answer.has_length && answer.length != answer.range.last - answer.range.first + 1) return Resume::kMismatch;
    return Resume::kAppend;
  }
  // Any other success is the whole resource again.
  return offset == 0 ? Resume::kAppend : Resume::kRestart;
}

bool dialog_error(uint32_t error) {
  switch (error) {
    case 12014:  // ERROR_INTERNET_INCORRECT_PASSWORD
    case 12037:  // ERROR_INTERNET_SEC_CERT_DATE_INVALID
    case 12038:  // ERROR_INTERNET_SEC_CERT_CN_INVALID
    case 12039:  // ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR
    case 12040:  // ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR
    case 12041:  // ERROR_INTERNET_MIXED_SECURITY
    case 12043:  // ERROR_INTERNET_POST_IS_NON_SECURE
    case 12044:  // ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED
    case 12045:  // ERROR_INTERNET_INVALID_CA
    case 12055:  // ERROR_INTERNET_SEC_CERT_ERRORS
    case 12057:  // ERROR_INTERNET_SEC_CERT_REV_FAILED
    case 0x8004D3C0u + 401:
    case 0x8004D3C0u + 407:
      return true;
    default:
      return false;
  }
}

void TransferStats::add(uint64_t bytes, uint64_t ms, uint64_t now_ms) {
  if (ms == 0) ms = 5;
  if (!started_) {
    started_ = true;
    window_start_ = now_ms;
  }
  constexpr uint64_t kLimit = std::numeric_limits<uint64_t>::max() / 1000;
  // Halve the counts rather than let bytes × 1000 overflow.
  while (bytes > kLimit || bytes_ + bytes > kLimit || next_bytes_ + bytes > kLimit) {
    bytes_ /= 2;
    ms_ /= 2;
    next_bytes_ /= 2;
    next_ms_ /= 2;
    if (bytes > kLimit) bytes /= 2;
  }
  bytes_ += bytes;
  ms_ += ms;
  total_ms_ += ms;
  ++pieces_;
  const uint64_t elapsed = now_ms - window_start_;
  // The next window counts from the middle of the current one, so that it
  // already has a measure when it takes over.
  if (elapsed >= kWindowMs / 2) {
    next_bytes_ += bytes;
    next_ms_ += ms;
  }
  if (elapsed >= kWindowMs) {
    bytes_ = next_bytes_;
    ms_ = next_ms_;
    next_bytes_ = next_ms_ = 0;
    window_start_ = now_ms;
  }
}

uint64_t TransferStats::rate() const { return ms_ ? bytes_ * 1000 / ms_ : 0; }

size_t TransferStats::piece(size_t left) const {
  if (left == 0) return 0;
  uint64_t size = kFirstPiece;
  if ((total_ms_ > 10000 || pieces_ >= kWarmPieces) && bytes_ > 0) {
    uint64_t r = rate();
    size = r > std::numeric_limits<uint64_t>::max() / 15 ? std::numeric_limits<uint64_t>::max() : r * 15;
  }
  size = std::min<uint64_t>(size, left);
  return size ? static_cast<size_t>(size) : 1;
}

}  // namespace qz::inet
