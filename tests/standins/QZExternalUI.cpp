// Stand-in for the external user-interface library, for tests only: records the
// arguments it was called with in the file named by QZ_EXTERNALUI_RECORD and
// returns QZ_EXTERNALUI_RESULT (default 4242).
#include <windows.h>

#include <cstdio>
#include <cwchar>

extern "C" __declspec(dllexport) int WINAPI QZExternalUIInstall(const wchar_t* package, const wchar_t* properties,
                                                                int right_to_left, int billboard_type) {
  wchar_t record[1024] = {};
  if (GetEnvironmentVariableW(L"QZ_EXTERNALUI_RECORD", record, 1024) && record[0]) {
    FILE* f = _wfopen(record, L"wb");
    if (f) {
      fwprintf(f, L"%ls|%ls|%d|%d", package ? package : L"(null)", properties ? properties : L"(null)",
               right_to_left, billboard_type);
      fclose(f);
    }
  }
  wchar_t result[32] = {};
  if (GetEnvironmentVariableW(L"QZ_EXTERNALUI_RESULT", result, 32) && result[0]) return _wtoi(result);
  return 4242;
}
