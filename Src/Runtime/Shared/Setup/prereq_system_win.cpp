// The Windows side of the prerequisite rules: thin calls to the registry, the file
// system, the version resources and the shell, answering in plain values.
#include "prereq_system_win.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <cwchar>

#include "support/debuglog.h"
#include "support/dynload.h"
#include "support/handles.h"
#include "support/new_file.h"
#include "support/utils.h"

namespace prq {
namespace {

// Registry values are limited to about 1 MiB; a larger answer is not a value.
constexpr DWORD kMaxValueBytes = 1u << 20;

HKEY root_handle(RootKey root) {
  static const HKEY roots[] = {HKEY_CLASSES_ROOT,     HKEY_CURRENT_USER,   HKEY_LOCAL_MACHINE, HKEY_USERS,
                               HKEY_PERFORMANCE_DATA, HKEY_CURRENT_CONFIG, HKEY_DYN_DATA};
  return root >= 0 && root < static_cast<RootKey>(sizeof(roots) / sizeof(roots[0])) ? roots[root] : nullptr;
}

REGSAM view_flag(RegView view) {
  switch (view) {
    case RegView::k32: return KEY_WOW64_32KEY;
    case RegView::k64: return KEY_WOW64_64KEY;
    case RegView::kDefault: break;
  }
  return 0;
}

bool open_key(RootKey root, const std::wstring& key, RegView view, qz::reg_key& out) {
  HKEY h = root_handle(root);
  return h && RegOpenKeyExW(h, key.c_str(), 0, KEY_READ | view_flag(view), out.receive()) == ERROR_SUCCESS;
}

// A system folder call of the GetWindowsDirectoryW shape, its buffer grown as asked.
template <typename F>
std::wstring folder_from(F call) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    UINT n = call(buffer.data(), static_cast<UINT>(buffer.size()));
    if (n == 0) return std::wstring();
    if (n < buffer.size()) return buffer.substr(0, n);
    buffer.resize(n);
  }
  return std::wstring();
}

std::wstring local_app_data() {
  wchar_t buffer[MAX_PATH];
  if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer) == S_OK) return buffer;
  if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_DEFAULT, buffer) == S_OK) return buffer;
  return std::wstring();
}

class WindowsSystem final : public PrereqSystem {
 public:
  OsFacts os() override {
    OsFacts f;
    OSVERSIONINFOEXW ex{};
    ex.dwOSVersionInfoSize = sizeof(ex);
    // RtlGetVersion reports the real version whatever the manifest declares.
    using GetFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto get = ntdll ? qz::bound<GetFn>(GetProcAddress(ntdll, "RtlGetVersion")) : nullptr;
    bool have = get && get(reinterpret_cast<OSVERSIONINFOW*>(&ex)) == 0;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!have) have = GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&ex)) != FALSE;
    if (!have) {
      // Only the basic record: the extended part counts as zeros.
      OSVERSIONINFOW basic{};
      basic.dwOSVersionInfoSize = sizeof(basic);
      if (!GetVersionExW(&basic)) return f;
      memcpy(&ex, &basic, sizeof(basic));
      ex.wServicePackMajor = 0;
      ex.wProductType = 0;
    }
#pragma GCC diagnostic pop
    f.major = ex.dwMajorVersion;
    f.minor = ex.dwMinorVersion;
    f.build = ex.dwBuildNumber;
    f.platform_id = ex.dwPlatformId;
    f.csd_version.assign(ex.szCSDVersion, wcsnlen(ex.szCSDVersion, 128));
    f.service_pack_major = ex.wServicePackMajor;
    f.product_type = ex.wProductType;
    return f;
  }

  ArchFacts architecture() override { return {qz::IsX64(), qz::IsItanium(), qz::IsArm32(), qz::IsArm64()}; }
  uint16_t ui_language() override { return qz::SystemDefaultUILanguage(); }

  bool key_exists(RootKey root, const std::wstring& key, RegView view) override {
    qz::reg_key k;
    return open_key(root, key, view, k);
  }

  RegValue query_value(RootKey root, const std::wstring& key, const std::wstring& name, RegView view) override {
    RegValue v;
    qz::reg_key k;
    if (!open_key(root, key, view, k)) return v;
    v.key_opened = true;
    DWORD type = 0, size = 0;
    LSTATUS status = RegQueryValueExW(k.get(), name.c_str(), nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) return v;
    v.found = true;
    v.type = type;
    // The value may change between the calls: a few tries, then it reads as empty.
    for (int attempt = 0; status == ERROR_SUCCESS && attempt < 4 && size <= kMaxValueBytes; ++attempt) {
      v.data.resize(size);
      DWORD got = size;
      status = RegQueryValueExW(k.get(), name.c_str(), nullptr, &type, v.data.data(), &got);
      if (status == ERROR_SUCCESS) {
        v.type = type;
        v.data.resize(got);
        return v;
      }
      if (status == ERROR_MORE_DATA) {
        size = got;
        status = ERROR_SUCCESS;
      }
    }
    v.data.clear();
    return v;
  }

  std::wstring folder(Folder which) override {
    switch (which) {
      case Folder::kWindows: return folder_from(GetWindowsDirectoryW);
      case Folder::kSystem: return folder_from(GetSystemDirectoryW);
      case Folder::kLocalAppData: return local_app_data();
      case Folder::kCurrent:
        return folder_from([](LPWSTR b, UINT n) { return static_cast<UINT>(GetCurrentDirectoryW(n, b)); });
    }
    return std::wstring();
  }

  std::wstring expand_environment(const std::wstring& text) override {
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 3; ++attempt) {
      DWORD n = ExpandEnvironmentStringsW(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
      if (n == 0) return text;
      if (n <= buffer.size()) return buffer.substr(0, n - 1);  // n counts the terminator
      buffer.resize(n);
    }
    return text;
  }

  FileFacts file(const std::wstring& path) override {
    FileFacts f;
    WIN32_FILE_ATTRIBUTE_DATA d{};
    if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &d)) return f;
    f.is_file = !(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    f.size = static_cast<uint64_t>(d.nFileSizeHigh) << 32 | d.nFileSizeLow;
    FILETIME local{};
    if (FileTimeToLocalFileTime(&d.ftLastWriteTime, &local))
      f.local_write_time = static_cast<uint64_t>(local.dwHighDateTime) << 32 | local.dwLowDateTime;
    return f;
  }

  bool read_file(const std::wstring& path, size_t limit, std::vector<uint8_t>* bytes, uint32_t* error) override {
    qz::file_handle h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!h || !GetFileSizeEx(h.get(), &size)) {
      *error = GetLastError();
      return false;
    }
    if (static_cast<uint64_t>(size.QuadPart) > limit) {
      *error = ERROR_FILE_TOO_LARGE;
      return false;
    }
    bytes->resize(static_cast<size_t>(size.QuadPart));
    size_t at = 0;
    while (at < bytes->size()) {
      DWORD got = 0;
      if (!ReadFile(h.get(), bytes->data() + at, static_cast<DWORD>(bytes->size() - at), &got, nullptr)) {
        *error = GetLastError();
        return false;
      }
      if (got == 0) break;  // shorter than it said: take what is there
      at += got;
    }
    bytes->resize(at);
    return true;
  }

  bool module_loaded(const std::wstring& path) override {
    HMODULE m = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, path.c_str(), &m) && m;
  }

  std::wstring copy_to_temporary(const std::wstring& path) override {
    std::wstring copy = qz::CreateOwnTemporaryFile(L"", L"_qz");
    if (copy.empty()) return copy;
    // Written as a new file that replaces the placeholder: whatever another user put
    // under its name in %TEMP% meanwhile (a link) is replaced, never written through.
    qz::file_handle source(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!source || !qz::copy_to_new_file(source.get(), copy)) {
      DeleteFileW(copy.c_str());
      return std::wstring();
    }
    return copy;
  }

  void delete_file(const std::wstring& path) override { DeleteFileW(path.c_str()); }

  PackedVersion file_version(const std::wstring& path) override {
    DWORD ms = 0, ls = 0;
    if (!qz::FileVersion(path, &ms, &ls)) return {};
    return {ms, ls};
  }

  bool redirection_off() override { return qz::Wow64FsRedirection(true); }
  void redirection_restore() override { qz::Wow64FsRedirection(false); }

  ProcessRun run_hidden(const std::wstring& file, const std::wstring& parameters) override {
    ProcessRun run;
    SHELLEXECUTEINFOW sei{};
    sei.cbSize = sizeof(sei);
    sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOZONECHECKS;
    sei.lpFile = file.c_str();
    sei.lpParameters = parameters.c_str();
    sei.nShow = SW_HIDE;
    if (!ShellExecuteExW(&sei)) {
      run.last_error = GetLastError();
      run.instance = reinterpret_cast<intptr_t>(sei.hInstApp);
      return run;
    }
    run.launched = true;
    run.instance = reinterpret_cast<intptr_t>(sei.hInstApp);
    if (!sei.hProcess) return run;
    qz::file_handle process(sei.hProcess);
    run.has_process = true;
    run.exit_code = wait_dispatching_input(process.get());
    return run;
  }

  void log(const wchar_t* source, int line, const std::wstring& text) override { dbglog::log(text, source, line); }
};

}  // namespace

PrereqSystem& windows_system() {
  static WindowsSystem system;
  return system;
}

DWORD wait_dispatching_input(HANDLE process) {
  auto ended = [process] { return WaitForSingleObject(process, 0) != WAIT_TIMEOUT; };
  while (!ended()) {
    DWORD r = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_TIMER | QS_INPUT | QS_PAINT);
    if (r == WAIT_FAILED) {
      WaitForSingleObject(process, INFINITE);
      break;
    }
    if (r != WAIT_OBJECT_0 + 1) break;
    MSG msg;
    while (!ended() && PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) DispatchMessageW(&msg);
    while (!ended() && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT | PM_QS_PAINT)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  DWORD code = STILL_ACTIVE;
  if (!GetExitCodeProcess(process, &code)) code = STILL_ACTIVE;
  return code;
}

}  // namespace prq
