// Waits until a registry key under HKEY_LOCAL_MACHINE exists (checked every 2 ms,
// at most ten minutes): the install benchmark uses it to see the moment a product
// is registered. Exit code 0 when the key appeared, 1 on time-out, 2 on misuse.
#include <windows.h>
int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  DWORD limit = GetTickCount() + 600000;
  for (;;) {
    HKEY k;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, argv[1], 0, KEY_READ | KEY_WOW64_64KEY, &k) == ERROR_SUCCESS) { RegCloseKey(k); return 0; }
    if ((LONG)(GetTickCount() - limit) > 0) return 1;
    Sleep(2);
  }
}
