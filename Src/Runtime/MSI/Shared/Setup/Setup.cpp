#include "Setup.h"

int launcher_main(HINSTANCE module, const wchar_t* command_line) { return 0; }
