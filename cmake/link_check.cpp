// Linked with every object of a launcher library (cmake/Windows.cmake); never run.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
