#include "support/debuglog.h"

#include <windows.h>

#include <cstdarg>
#include <vector>

#include "support/handles.h"
#include "support/zstring.h"

namespace dbglog {
namespace {

const wchar_t kRegistryKey[] = L"SOFTWARE\\Brackenwright\\31.0\\Workbench";
const wchar_t kLogName[] = L"Brackenwright.log";
// A file that already holds other text is never written into; lines go to the
// first free or own-format sibling "Brackenwright_<n>.log" instead.
const int kMaxAlternates = 9;

struct State {
  bool undecided = true;
  bool enabled = false;
  bool detailed = true;
  std::wstring log_path;        // from the debuglog switch; empty: default path
  std::wstring default_folder;  // of the default path; empty: the launcher's own folder
  bool mark_checked = false;
  std::wstring effective_path;  // where lines go once the mark was dealt with
};

State& state() {
  static State s;
  return s;
}

HANDLE open_log(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool write_all(HANDLE h, const void* data, DWORD size) {
  DWORD written = 0;
  return WriteFile(h, data, size, &written, nullptr) && written == size;
}

enum class Mark { kWritten, kPresent, kForeign, kFailed };

// Looks at the first two bytes: an empty file gets FF FE, a file that starts
// with FF FE is ours, anything else belongs to someone else.
Mark check_mark(HANDLE h) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(h, &size)) return Mark::kFailed;
  if (size.QuadPart == 0) {
    static const unsigned char bom[2] = {0xFF, 0xFE};
    return write_all(h, bom, 2) ? Mark::kWritten : Mark::kFailed;
  }
  unsigned char head[2] = {0, 0};
  DWORD got = 0;
  if (SetFilePointer(h, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return Mark::kFailed;
  if (!ReadFile(h, head, 2, &got, nullptr)) return Mark::kFailed;
  return (got == 2 && head[0] == 0xFF && head[1] == 0xFE) ? Mark::kPresent : Mark::kForeign;
}

// "X\Y.log" → "X\Y_<n>.log" (the number goes before the extension of the file name).
std::wstring alternate_path(const std::wstring& path, int n) {
  size_t slash = path.find_last_of(L"\\/");
  size_t dot = path.find_last_of(L'.');
  std::wstring suffix = L"_" + std::to_wstring(n);
  if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return path + suffix;
  return path.substr(0, dot) + suffix + path.substr(dot);
}

bool read_verbose_switch() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRegistryKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0, value = 0, size = sizeof(value);
  LONG rc = RegQueryValueExW(key, L"DoVerboseLogging", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(DWORD) && value == 1;
}

std::wstring read_verbose_folder() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRegistryKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return {};
  // The folder holds at most 260 characters; a longer value (which ERROR_MORE_DATA
  // reports) is refused rather than cut into a different folder.
  wchar_t buf[262] = {};
  DWORD type = 0, size = 261 * sizeof(wchar_t);
  LONG rc = RegQueryValueExW(key, L"VerboseLogPath", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
  std::wstring folder(buf, size / sizeof(wchar_t));
  while (!folder.empty() && folder.back() == 0) folder.pop_back();
  if (folder.size() > 260) return {};
  if (type == REG_EXPAND_SZ) {
    // "%TEMP%\logs" names a folder only once expanded; the result obeys the same limit.
    wchar_t expanded[262] = {};
    DWORD n = ExpandEnvironmentStringsW(folder.c_str(), expanded, 262);
    if (n == 0 || n > 261) return {};
    folder = expanded;
  }
  return folder.size() <= 260 ? folder : std::wstring();
}

std::wstring own_folder() {
  std::vector<wchar_t> buf(1024);
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return zpath(std::wstring(buf.data(), n)).folder();
    if (buf.size() >= 32768) return {};
    buf.resize(buf.size() * 2);
  }
}

std::wstring locale_text(bool date, const wchar_t* picture) {
  wchar_t buf[128] = {};
  int n = date ? GetDateFormatW(LOCALE_SYSTEM_DEFAULT, 0, nullptr, picture, buf, 128)
               : GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, 0, nullptr, picture, buf, 128);
  return n > 0 ? std::wstring(buf) : std::wstring();
}

// "a\b\c\Setup" → "c\Setup": the last folder and the file name.
std::wstring short_source(const wchar_t* source) {
  std::wstring s = source ? source : L"";
  size_t last = s.find_last_of(L'\\');
  if (last == std::wstring::npos || last == 0) return s;
  size_t before = s.find_last_of(L'\\', last - 1);
  return before == std::wstring::npos ? s : s.substr(before + 1);
}

std::wstring build_line(const std::wstring& message, const wchar_t* source, int line) {
  std::wstring date = locale_text(true, L"M-d-yyyy");
  std::wstring time = locale_text(false, L"hh':'mm':'ss tt");
  std::wstring out = date + L"[" + time + L"]: " + message;
  if (state().detailed) out += L"  --  File: " + short_source(source) + L", Line: " + std::to_wstring(line);
  out += L"\r\n";
  return out;
}

// Opens the file lines go to; on the first line of the process deals with the
// byte-order mark (and steps aside from a file in another format).
HANDLE open_for_line() {
  State& s = state();
  if (s.mark_checked) return open_log(s.effective_path);
  std::wstring base = current_log_path();
  for (int n = 0; n <= kMaxAlternates; ++n) {
    std::wstring path = n == 0 ? base : alternate_path(base, n);
    HANDLE h = open_log(path);
    if (h == INVALID_HANDLE_VALUE) return h;  // in use or not creatable: this line is dropped, try again next time
    Mark m = check_mark(h);
    if (m == Mark::kWritten || m == Mark::kPresent) {
      s.mark_checked = true;
      s.effective_path = path;
      return h;
    }
    CloseHandle(h);
    if (m == Mark::kFailed) return INVALID_HANDLE_VALUE;
  }
  // Every candidate holds foreign text: log nowhere rather than write into it.
  s.mark_checked = true;
  s.effective_path.clear();
  return INVALID_HANDLE_VALUE;
}

}  // namespace

void enable() { state().enabled = true; }

void set_detailed(bool detailed) { state().detailed = detailed; }

void set_log_path(const std::wstring& path) {
  qz::LastErrorKeeper keep;
  State& s = state();
  if (path == s.log_path) return;
  s.log_path = path;
  s.mark_checked = false;  // a new file gets its own mark check
}

std::wstring default_log_path() {
  qz::LastErrorKeeper keep;
  zpath folder = read_verbose_folder();
  if (folder.empty()) folder = state().default_folder;
  if (folder.empty()) folder = own_folder();
  return folder.join(kLogName);
}

void set_default_folder(const std::wstring& folder) {
  State& s = state();
  if (folder == s.default_folder) return;
  s.default_folder = folder;
  if (s.log_path.empty()) s.mark_checked = false;  // the default file may be another one now
}

std::wstring current_log_path() {
  qz::LastErrorKeeper keep;
  const State& s = state();
  if (s.mark_checked) return s.effective_path;
  return s.log_path.empty() ? default_log_path() : s.log_path;
}

bool is_enabled() { return state().enabled; }

bool is_possibly_on() { return state().undecided || state().enabled; }

void log(const std::wstring& message, const wchar_t* source, int line) {
  qz::LastErrorKeeper keep;
  State& s = state();
  if (s.undecided) {
    if (!s.enabled && read_verbose_switch()) s.enabled = true;
    s.undecided = false;
  }
  if (!s.enabled) return;
  std::wstring text = build_line(message, source, line);
  qz::file_handle f(open_for_line());
  if (!f) return;
  if (SetFilePointer(f.get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER) return;
  if (text.size() > 0x3FFFFFFF) text.resize(0x3FFFFFFF);  // WriteFile takes a 32-bit size
  write_all(f.get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)));
}

void logf(const wchar_t* source, int line, const wchar_t* format, ...) {
  if (!is_possibly_on()) return;
  qz::LastErrorKeeper keep;
  va_list ap;
  va_start(ap, format);
  zString message = zString::vformat(format, ap);
  va_end(ap);
  log(message, source, line);
}

void reset_for_tests() { state() = State(); }

}  // namespace dbglog
