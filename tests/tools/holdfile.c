/* holdfile PATH @FILE: opens PATH for reading without letting anyone delete it
   (share read and write only), prints "held" once it has it, keeps it open until
   FILE is removed (at most two minutes), then exits. Exit code 1 when PATH cannot
   be opened. */
#include <windows.h>
#include <stdio.h>

int wmain(int argc, wchar_t **argv) {
  if (argc < 3 || argv[2][0] != L'@') return 2;
  HANDLE h = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
  if (h == INVALID_HANDLE_VALUE) {
    printf("error %lu\n", GetLastError());
    fflush(stdout);
    return 1;
  }
  printf("held\n");
  fflush(stdout);
  ULONGLONG until = GetTickCount64() + 120000;
  while (GetFileAttributesW(argv[2] + 1) != INVALID_FILE_ATTRIBUTES && GetTickCount64() < until) Sleep(20);
  CloseHandle(h);
  return 0;
}
