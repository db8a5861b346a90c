#include "tool.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <locale.h>
#include <sys/stat.h>
#include <wctype.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#ifdef _WIN32
#include "package/stream.h"
#endif
#include "support/zstring.h"

namespace mksetup {

void fail(const std::string& message) { throw Failure{message}; }

fs::path to_path(const std::wstring& w) {
#ifdef _WIN32
  return fs::path(w);
#else
  return fs::path(qzstream::utf8_encode(w));
#endif
}

std::wstring from_path(const fs::path& p) {
#ifdef _WIN32
  return p.wstring();
#else
  return qzstream::utf8_decode(p.string());
#endif
}

fs::path upath(const std::string& s) { return fs::path(std::u8string(s.begin(), s.end())); }
std::string shown(const std::wstring& w) { return qzstream::utf8_encode(w); }
std::string shown(const fs::path& p) { return shown(from_path(p)); }

bool is_ascii(const std::wstring& w) {
  return std::all_of(w.begin(), w.end(), [](wchar_t c) { return static_cast<uint32_t>(c) < 0x80; });
}

std::wstring launcher_fold(const std::wstring& w) {
  std::wstring f(w);
  for (auto& c : f) c = wide_lower(c);
  return f;
}

std::wstring unicode_fold(const std::wstring& w) {
  std::wstring f(w);
#ifdef _WIN32
  if (!f.empty()) {
    CharUpperBuffW(f.data(), static_cast<DWORD>(f.size()));
    CharLowerBuffW(f.data(), static_cast<DWORD>(f.size()));
  }
#else
  static const locale_t utf8 = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return l ? l : newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(0));
  }();
  if (!utf8) fail("no UTF-8 locale (C.UTF-8) to compare member names ignoring case");
  for (auto& c : f) c = static_cast<wchar_t>(towlower_l(towupper_l(static_cast<wint_t>(c), utf8), utf8));
#endif
  return f;
}

std::string ansi_of(const std::wstring& w) {
#ifdef _WIN32
  return ::ansi_member_name(w);
#else
  std::string s;
  qzstream::cp1252_encode(w, s);
  return s;
#endif
}

qzstream::AnsiDecoder ansi_decoder() {
#ifdef _WIN32
  return &::member_name_from_ansi;
#else
  return nullptr;  // type-1 names shown as Latin-1
#endif
}

FileSource::FileSource(const fs::path& p) : path_(p), f_(p, std::ios::binary) {
  if (!f_) fail("cannot open " + shown(p) + ": " + std::strerror(errno));
  f_.seekg(0, std::ios::end);
  size_ = static_cast<uint64_t>(f_.tellg());
}

size_t FileSource::read_at(uint64_t offset, void* buffer, size_t count) {
  if (offset >= size_) return 0;
  f_.clear();
  f_.seekg(static_cast<std::streamoff>(offset));
  f_.read(static_cast<char*>(buffer), static_cast<std::streamsize>(std::min<uint64_t>(count, size_ - offset)));
  if (f_.bad()) fail("cannot read " + shown(path_));
  return static_cast<size_t>(f_.gcount());
}

namespace {

uint64_t filetime_of(int64_t seconds, int64_t nanoseconds) {
  return kUnixEpochAsFiletime + static_cast<uint64_t>(seconds) * 10000000ull + static_cast<uint64_t>(nanoseconds / 100);
}

}  // namespace

Times file_times(const fs::path& p) {
  Times t;
#ifdef _WIN32
  WIN32_FILE_ATTRIBUTE_DATA a;
  if (GetFileAttributesExW(p.c_str(), GetFileExInfoStandard, &a)) {
    auto ft = [](const FILETIME& f) { return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    t.creation = ft(a.ftCreationTime);
    t.write = ft(a.ftLastWriteTime);
    t.access = ft(a.ftLastAccessTime);
  }
#else
  struct stat st;
  if (stat(p.c_str(), &st) == 0) {
    t.write = filetime_of(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    t.access = filetime_of(st.st_atim.tv_sec, st.st_atim.tv_nsec);
    t.creation = t.write;
  }
#endif
  return t;
}

bool source_date_epoch(Times* times) {
  const char* text = std::getenv("SOURCE_DATE_EPOCH");
  if (!text) return false;
  const std::string s(text);
  // Whole seconds since 1970 that a FILETIME can hold (up to the year 30828).
  constexpr uint64_t kLast = (0x7FFFFFFFFFFFFFFFull - kUnixEpochAsFiletime) / 10000000ull;
  uint64_t seconds = 0;
  bool ok = !s.empty() && s.size() <= 12;
  for (char c : s) ok = ok && c >= '0' && c <= '9' && (seconds = seconds * 10 + static_cast<uint64_t>(c - '0'), true);
  if (!ok || seconds > kLast)
    fail("SOURCE_DATE_EPOCH must be a whole number of seconds since 1970-01-01 (it is '" + s + "')");
  const uint64_t moment = filetime_of(static_cast<int64_t>(seconds), 0);
  *times = Times{moment, moment, moment};
  return true;
}

std::string format_filetime(uint64_t ft) {
  if (ft < kUnixEpochAsFiletime) return ft ? "before-1970" : "-";
  time_t s = static_cast<time_t>((ft - kUnixEpochAsFiletime) / 10000000ull);
  struct tm tmv;
#ifdef _WIN32
  gmtime_s(&tmv, &s);
#else
  gmtime_r(&s, &tmv);
#endif
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tmv);
  return buf;
}

}  // namespace mksetup
