#include "support/debuglog.h"

#include <windows.h>

#include <cstdarg>
#include <vector>

#include "support/dynload.h"
#include "support/handles.h"
#include "support/utils.h"
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
  std::vector<std::wstring> refused;  // paths that name a link or a file with more names
  std::wstring note;                  // said in the file lines go to instead
};

State& state() {
  static State s;
  return s;
}

// An elevated launcher must not be steered into writing a file it was not meant
// to: the paths come from HKCU and from folders the user can change.
bool guarded() {
  static const bool elevated = qz::IsElevatedAdministrator();
  return elevated;
}

enum class Open { kOpened, kBusy, kRefused };

std::wstring strip_long_prefix(const std::wstring& p) {
  if (p.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\" + p.substr(7);
  if (p.compare(0, 4, L"\\\\?\\") == 0) return p.substr(4);
  return p;
}

// A text from a call that answers with its length, or with the size it needs
// (terminator included) when the buffer is too small; empty when it fails.
template <typename Call>
std::wstring sized_text(Call call) {
  std::wstring buf(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD n = call(&buf[0], static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return buf.substr(0, n);
    buf.assign(n, L'\0');
  }
  return {};
}

std::wstring long_full_path(const std::wstring& path) {
  std::wstring full = sized_text([&](wchar_t* b, DWORD n) { return GetFullPathNameW(path.c_str(), n, b, nullptr); });
  // Only a short name holds a tilde; looking every component up costs a line.
  if (full.find(L'~') == std::wstring::npos) return full;
  std::wstring longer = sized_text([&](wchar_t* b, DWORD n) { return GetLongPathNameW(full.c_str(), b, n); });
  return longer.empty() ? full : longer;
}

// The open file is the one `path` names, by that name alone: no link on the way
// (the system's name for the file is the path itself), not a link, and no other
// hard link to it.
bool names_only_this_file(HANDLE h, const std::wstring& path) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h, &info)) return false;
  if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) return false;
  if (info.nNumberOfLinks > 1) return false;
  using FinalFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
  static const auto final_name = qz::bound<FinalFn>(qz::kernel32_export("GetFinalPathNameByHandleW"));
  if (!final_name) return true;  // systems without it have no symbolic links either
  const std::wstring actual = sized_text([&](wchar_t* b, DWORD n) { return final_name(h, b, n, 0); });
  const std::wstring expected = long_full_path(path);
  return !actual.empty() && !expected.empty() && qz::SamePath(expected, strip_long_prefix(actual));
}

// Deletes the file `h` was created as (never another one a path may name by now).
void delete_created(HANDLE h) {
  using InfoFn = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  auto set_info = qz::bound<InfoFn>(qz::kernel32_export("SetFileInformationByHandle"));
  FILE_DISPOSITION_INFO dispose{TRUE};
  if (set_info) set_info(h, FileDispositionInfo, &dispose, sizeof(dispose));
}

Open open_log(const std::wstring& path, HANDLE* out) {
  *out = INVALID_HANDLE_VALUE;
  const DWORD access = GENERIC_READ | GENERIC_WRITE;
  if (!guarded()) {
    *out = CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return *out == INVALID_HANDLE_VALUE ? Open::kBusy : Open::kOpened;
  }
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE h = CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr);
  bool created = false;
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
    // Only a file made here may be deleted again when it turns out to lie
    // beyond a link: asking for delete access on an existing log would shut out
    // a viewer that keeps it open.
    h = CreateFileW(path.c_str(), access | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW, flags, nullptr);
    created = h != INVALID_HANDLE_VALUE;
    if (!created && (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS)) {
      h = CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr);
      // Something that is there and yet no file: a link to nothing.
      if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) return Open::kRefused;
    }
  }
  if (h == INVALID_HANDLE_VALUE) return Open::kBusy;
  if (!names_only_this_file(h, path)) {
    if (created) delete_created(h);
    CloseHandle(h);
    return Open::kRefused;
  }
  *out = h;
  return Open::kOpened;
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

bool is_refused(const std::wstring& path) {
  for (const std::wstring& r : state().refused)
    if (qz::SamePath(r, path)) return true;
  return false;
}

void refuse(const std::wstring& path) {
  State& s = state();
  s.refused.push_back(path);
  s.note = L"The log file " + path + L" is a link or has more than one name; it is not written";
}

// The files lines may go to, in order: the set path, the default one, and the
// launcher's (or the first launcher's) folder, for when the others are refused.
std::vector<std::wstring> candidates() {
  const State& s = state();
  std::vector<std::wstring> out;
  if (!s.log_path.empty()) out.push_back(s.log_path);
  out.push_back(default_log_path());
  out.push_back(zpath(s.default_folder.empty() ? own_folder() : s.default_folder).join(kLogName));
  return out;
}

// Opens the file lines go to; on the first line of the process (and after a
// refusal) deals with the byte-order mark and steps aside from a file in another
// format or one that is a link.
HANDLE open_for_line() {
  State& s = state();
  HANDLE h = INVALID_HANDLE_VALUE;
  if (s.mark_checked) {
    if (s.effective_path.empty()) return h;
    if (open_log(s.effective_path, &h) != Open::kRefused) return h;
    refuse(s.effective_path);
    s.mark_checked = false;
  }
  for (const std::wstring& base : candidates()) {
    if (is_refused(base)) continue;
    bool moved_on = false;
    for (int n = 0; n <= kMaxAlternates && !moved_on; ++n) {
      std::wstring path = n == 0 ? base : alternate_path(base, n);
      Open r = open_log(path, &h);
      if (r == Open::kBusy) return h;  // in use or not creatable: this line is dropped, try again next time
      if (r == Open::kRefused) {
        refuse(path);
        moved_on = true;  // to the next place, not to a name beside the link
        continue;
      }
      Mark m = check_mark(h);
      if (m == Mark::kWritten || m == Mark::kPresent) {
        s.mark_checked = true;
        s.effective_path = path;
        return h;
      }
      CloseHandle(h);
      if (m == Mark::kFailed) return INVALID_HANDLE_VALUE;
    }
    // Every name of this place holds foreign text: log nowhere rather than write into it.
    if (!moved_on) break;
  }
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
  if (!s.note.empty()) {
    text = build_line(s.note + L"; lines go to " + s.effective_path, L"support\\debuglog", __LINE__) + text;
    s.note.clear();
  }
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
