/* sleeper MS [CODE]: sleeps MS milliseconds, then exits with CODE (default 0).
   Further arguments are ignored. A child for tests that wait for programs. */
#include <windows.h>
#include <stdlib.h>

int wmain(int argc, wchar_t **argv) {
  DWORD ms = argc > 1 ? (DWORD)wcstoul(argv[1], NULL, 10) : 0;
  int code = argc > 2 ? (int)wcstol(argv[2], NULL, 10) : 0;
  Sleep(ms);
  return code;
}
