// Stand-in for a package's own custom-action library, for tests only: its one
// action answers as if the user had cancelled the installation (1602), which
// msiexec then ends with.
#include <windows.h>

extern "C" __declspec(dllexport) UINT WINAPI QzUserExit(ULONG /*install*/) { return ERROR_INSTALL_USEREXIT; }
