/* sleeper MS [CODE]: sleeps MS milliseconds, then exits with CODE (default 0).
   sleeper @FILE [CODE]: writes its process id into FILE, then runs until FILE is
   removed (at most two minutes), so a test decides when it ends.
   Further arguments are ignored. A child for tests that wait for programs. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int wmain(int argc, wchar_t **argv) {
  int code = argc > 2 ? (int)wcstol(argv[2], NULL, 10) : 0;
  if (argc > 1 && argv[1][0] == L'@') {
    const wchar_t *file = argv[1] + 1;
    HANDLE f = CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) return 1; /* already released, or never held */
    char pid[32];
    DWORD written = 0;
    int n = sprintf(pid, "%lu", GetCurrentProcessId());
    WriteFile(f, pid, (DWORD)n, &written, NULL);
    CloseHandle(f);
    ULONGLONG until = GetTickCount64() + 120000;
    while (GetFileAttributesW(file) != INVALID_FILE_ATTRIBUTES && GetTickCount64() < until) Sleep(20);
    return code;
  }
  Sleep(argc > 1 ? (DWORD)wcstoul(argv[1], NULL, 10) : 0);
  return code;
}
