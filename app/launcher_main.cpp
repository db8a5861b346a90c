// The launcher executable: a thin entry over the launcher library.
#include "Setup.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR command_line, int) {
  return launcher_main(instance, command_line);
}
