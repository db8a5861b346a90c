/* runexit PROGRAM [ARGS...]: starts the rest of its own command line (or, when
   QZ_RUNEXIT_CMDLINE is set, that text exactly as written), waits for it and
   prints the full 32-bit exit code ("exit=<unsigned decimal>"), which `wine`
   alone cuts to 8 bits. With QZ_RUNEXIT_TIMEOUT_MS set, a program still running
   after that long is killed and "exit=timeout" printed. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static const wchar_t *skip_arg0(const wchar_t *cl) {
  int q = 0;
  while (*cl && (q || (*cl != L' ' && *cl != L'\t'))) { if (*cl == L'"') q = !q; ++cl; }
  while (*cl == L' ' || *cl == L'\t') ++cl;
  return cl;
}

int wmain(void) {
  static wchar_t env_cl[32768];
  const wchar_t *rest = skip_arg0(GetCommandLineW());
  if (GetEnvironmentVariableW(L"QZ_RUNEXIT_CMDLINE", env_cl, 32768) > 0) rest = env_cl;
  SetEnvironmentVariableW(L"QZ_RUNEXIT_CMDLINE", NULL);  /* not for the program's own children */
  if (!*rest) { fprintf(stderr, "usage: runexit PROGRAM [ARGS...]\n"); return 2; }
  wchar_t *cl = _wcsdup(rest);
  STARTUPINFOW si = { sizeof si };
  PROCESS_INFORMATION pi;
  if (!CreateProcessW(NULL, cl, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
    printf("exit=createprocess-failed error=%lu\n", GetLastError());
    fflush(stdout);
    return 3;
  }
  DWORD limit = INFINITE;
  const char *t = getenv("QZ_RUNEXIT_TIMEOUT_MS");
  if (t && *t) limit = (DWORD)strtoul(t, NULL, 10);
  if (WaitForSingleObject(pi.hProcess, limit) == WAIT_TIMEOUT) {
    TerminateProcess(pi.hProcess, 1);
    printf("exit=timeout\n");
    fflush(stdout);
    return 4;
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  printf("exit=%lu\n", (unsigned long)code);
  fflush(stdout);
  return (int)(code & 0xff);
}
