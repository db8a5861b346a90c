// Test driver: fetches an Internet address into a file through the launcher's
// transport and prints what happened.
//
//   inet_fetch file <url> <target>              through the file object (read whole)
//   inet_fetch copy <url> <target>              through the file copy
//   inet_fetch inet <url> <target> [<time-out ms>]  through the Internet file itself
//
// Prints "size=<n>" and "date=<yyyy-mm-dd hh:mm:ss>" (inet only) and
// "result=0x<8 hex digits>", the error (0 on success); exits 0 on success.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "net/inet_file.h"
#include "net/internet.h"
#include "package/qzfile.h"
#include "support/utils.h"

namespace {

DWORD write_all(const std::wstring& target, const void* data, size_t size) {
  HANDLE h = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD put = 0;
  BOOL ok = size == 0 || WriteFile(h, data, static_cast<DWORD>(size), &put, nullptr);
  DWORD e = ok ? 0 : GetLastError();
  CloseHandle(h);
  return e;
}

DWORD through_file(const std::wstring& url, const std::wstring& target) {
  qz::file f;
  if (uint32_t e = f.open(url, qz::kFileRead, qz::kShareRead, qz::kOpenExisting)) return e;
  qz::Bytes all = f.read_all();
  return write_all(target, all.data(), all.size());
}

DWORD through_inet(const std::wstring& url, const std::wstring& target, DWORD timeout) {
  qz::inet_file* f = qz::make_inet_file(url, L"webfetch", timeout);
  if (!f) return GetLastError();
  DWORD result = 0;
  std::vector<char> body;
  if (!f->open(url, L"", INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_PRAGMA_NOCACHE) ||
      !f->ensure_request()) {
    result = GetLastError();
  } else {
    wprintf(L"size=%lld\n", static_cast<long long>(f->size()));
    FILETIME ft{};
    SYSTEMTIME st{};
    if (f->last_modified(&ft) && FileTimeToSystemTime(&ft, &st))
      wprintf(L"date=%04u-%02u-%02u %02u:%02u:%02u\n", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
              st.wSecond);
    static char chunk[65536];
    for (;;) {
      DWORD got = 0;
      if (!f->read(chunk, sizeof chunk, &got)) {
        result = GetLastError();
        break;
      }
      if (got == 0) break;
      body.insert(body.end(), chunk, chunk + got);
    }
  }
  f->Release();
  if (result) return result;
  return write_all(target, body.data(), body.size());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    fwprintf(stderr, L"usage: inet_fetch file|copy|inet <url> <target> [<time-out ms>]\n");
    return 2;
  }
  const std::wstring mode = argv[1], url = argv[2], target = argv[3];
  qz::install_internet_transport();
  DWORD result;
  if (mode == L"file") {
    result = through_file(url, target);
  } else if (mode == L"copy") {
    result = qz::CopyFileWithProgress(url, target, 0, false) ? 0 : GetLastError();
  } else {
    result = through_inet(url, target, argc > 4 ? wcstoul(argv[4], nullptr, 10) : 30000);
  }
  wprintf(L"result=0x%08lX\n", result);
  fflush(stdout);
  return result ? 1 : 0;
}
