// Benchmark driver (not a test): fetches one URL through the download manager's
// CDownload into a file, with the progress display on (a window holding the
// initialisation dialog's bar 301 and texts 1004 and 1005), and prints
//   bytes=<n> seconds=<s>
//   download_driver <url> <target>
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include "net/CDownload.h"
#include "package/LaunchSettings.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    fwprintf(stderr, L"usage: download_driver <url> <target>\n");
    return 2;
  }
  HMODULE comctl = LoadLibraryW(L"comctl32.dll");
  auto init = comctl ? reinterpret_cast<BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*)>(
                           GetProcAddress(comctl, "InitCommonControlsEx"))
                     : nullptr;
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_PROGRESS_CLASS};
  if (init) init(&icc);
  HWND dialog = CreateWindowExW(0, L"#32770", L"download", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 160, nullptr,
                                nullptr, nullptr, nullptr);
  CreateWindowExW(0, L"msctls_progress32", L"", WS_CHILD | WS_VISIBLE, 10, 10, 360, 20, dialog,
                  reinterpret_cast<HMENU>(301), nullptr, nullptr);
  CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 10, 40, 360, 20, dialog, reinterpret_cast<HMENU>(1004),
                  nullptr, nullptr);
  CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 10, 70, 360, 20, dialog, reinterpret_cast<HMENU>(1005),
                  nullptr, nullptr);
  LaunchSettings settings;
  CDownload download(settings, dialog);
  LARGE_INTEGER f, t0, t1;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t0);
  bool ok = download.Download(argv[1], argv[2]);
  QueryPerformanceCounter(&t1);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExW(argv[2], GetFileExInfoStandard, &data);
  unsigned long long bytes = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  printf("bytes=%llu seconds=%.3f ok=%d status=0x%08lx\n", bytes,
         static_cast<double>(t1.QuadPart - t0.QuadPart) / f.QuadPart, ok ? 1 : 0,
         static_cast<unsigned long>(download.last_status()));
  fflush(stdout);
  return ok ? 0 : 1;
}
