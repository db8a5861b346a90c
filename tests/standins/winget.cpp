// Stand-in for the package-manager client "winget.exe", for tests only: records
// its command line in winget.log beside itself; "install" exits 0, anything else 87.
#include <cwchar>

#include "standin_record.h"

int wmain(int argc, wchar_t** argv) {
  standin_record(L"winget.log");
  return argc > 1 && wcscmp(argv[1], L"install") == 0 ? 0 : 87;
}
