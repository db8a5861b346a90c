// portable
#include "net/download_rules.h"

#include "package/stream_format.h"

namespace download_rules {
namespace {

wchar_t lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

bool istarts_with(std::wstring_view text, std::wstring_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (lower(text[i]) != lower(prefix[i])) return false;
  return true;
}

// A leading decimal number, saturating at 32 bits; *end is where it stopped.
uint32_t leading_number(std::wstring_view text, size_t* end) {
  size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
  uint64_t value = 0;
  while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') {
    value = value * 10 + static_cast<uint64_t>(text[i] - L'0');
    if (value > 0xFFFFFFFFull) value = 0xFFFFFFFFull + 1;  // stays saturated
    ++i;
  }
  *end = i;
  return value > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
}

}  // namespace

bool is_unc_source(std::wstring_view source) {
  return source.size() > 2 && source[0] == L'\\' && source[1] == L'\\';
}

std::wstring normalise_url(std::wstring_view source) {
  std::wstring url(source);
  for (wchar_t& c : url)
    if (c == L'\\') c = L'/';
  if (url.size() > 6 && (istarts_with(url, L"ftp://") || istarts_with(url, L"http://") ||
                         istarts_with(url, L"https://")))
    return url;
  return L"http://" + url;
}

bool is_web_address(std::wstring_view text) {
  return istarts_with(text, L"http://") || istarts_with(text, L"https://") || istarts_with(text, L"ftp://");
}

bool is_ftp_url(std::wstring_view url) { return istarts_with(url, L"ftp://"); }

std::wstring referer_header(std::wstring_view url) {
  if (istarts_with(url, L"http://") || istarts_with(url, L"ftp://")) return L"Referer: " + std::wstring(url);
  return std::wstring();
}

std::wstring target_name(std::wstring_view url) {
  size_t cut = url.find_first_of(L"?#");
  if (cut != std::wstring_view::npos) url = url.substr(0, cut);
  size_t slash = url.find_last_of(L"/\\");
  std::wstring_view name = slash == std::wstring_view::npos ? url : url.substr(slash + 1);
  // A bare host ("http://example.com") has no file segment at all.
  size_t scheme = url.find(L"://");
  if (scheme != std::wstring_view::npos && (slash == std::wstring_view::npos || slash < scheme + 3))
    return std::wstring();
  if (!qzstream::is_safe_member_name(name)) return std::wstring();
  return std::wstring(name);
}

std::wstring entry_display_name(std::wstring_view entry) {
  size_t slash = entry.rfind(L'/');
  if (slash == std::wstring_view::npos) slash = entry.rfind(L'\\');
  return std::wstring(slash == std::wstring_view::npos ? entry : entry.substr(slash + 1));
}

uint64_t parse_cabs_size(std::wstring_view text) {
  size_t end = 0;
  uint64_t high = leading_number(text, &end);
  if (end >= text.size() || text[end] != L';') return 0;
  size_t end2 = 0;
  uint64_t low = leading_number(text.substr(end + 1), &end2);
  return (high << 32) + low;
}

bool cabinets_fit(uint64_t free_kb, uint64_t total) {
  if (total == 0) return true;
  // free_kb * 1024 without overflow: a drive that large fits anything.
  if (free_kb > (UINT64_MAX >> 10)) return true;
  return free_kb * 1024 > total;
}

std::wstring drive_of(std::wstring_view path) {
  if (path.size() >= 2 && path[1] == L':') return std::wstring(path.substr(0, 2));
  if (is_unc_source(path)) {
    size_t server_end = path.find(L'\\', 2);
    if (server_end == std::wstring_view::npos) return std::wstring(path);
    size_t share_end = path.find(L'\\', server_end + 1);
    return std::wstring(path.substr(0, share_end));
  }
  return std::wstring();
}

StatusLine status_line(std::wstring_view name, size_t index, size_t count) {
  if (count <= 1) return StatusLine{1613, {std::wstring(name)}, false};
  return StatusLine{1671, {std::wstring(name), std::to_wstring(index + 1), std::to_wstring(count)}, true};
}

std::wstring url_for_log(std::wstring_view url) {
  size_t scheme = url.find(L"://");
  if (scheme == std::wstring_view::npos) return std::wstring(url);
  size_t start = scheme + 3;
  size_t authority_end = url.find_first_of(L"/?#", start);
  if (authority_end == std::wstring_view::npos) authority_end = url.size();
  size_t at = url.rfind(L'@', authority_end);
  if (at == std::wstring_view::npos || at < start) return std::wstring(url);
  size_t colon = url.find(L':', start);
  if (colon == std::wstring_view::npos || colon > at) return std::wstring(url);
  std::wstring out(url.substr(0, colon + 1));
  out += L"***";
  out += url.substr(at);
  return out;
}

bool wininet_too_old(const uint32_t version[4]) {
  static const uint32_t kLeast[4] = {4, 70, 0, 1300};
  for (int i = 0; i < 4; ++i)
    if (version[i] != kLeast[i]) return version[i] < kLeast[i];
  return false;
}

bool transfer_complete(int64_t announced, uint64_t written, bool read_failed) {
  if (announced > 0) return written == static_cast<uint64_t>(announced);
  return !read_failed;
}

}  // namespace download_rules
