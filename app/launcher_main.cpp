// The launcher executable: a thin entry over the launcher library, with its dialogs.
#include "Setup.h"
#include "ui/launcher_ui.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR command_line, int) {
  ui::install_launcher_ui();
  return launcher_main(instance, command_line);
}
