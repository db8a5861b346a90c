// Every dialog of the launcher is made here from its resource template, with the
// font of the current language's string table and, for right-to-left languages,
// the mirrored layout. A silent launch creates no dialogs.
#pragma once
#include <windows.h>

struct LaunchSettings;

enum DialogFactoryFlags : unsigned {
  kDialogKeepFont = 1,      // the template's own font stays
  kDialogEvenIfSilent = 2,  // create the dialog although the launch is silent
};

// Modal, like DialogBoxParamW. -1 with the thread's last error when the template is
// missing or damaged or the dialog cannot be created; -1 with ERROR_CANCELLED when
// the launch is silent and the flags do not override it.
INT_PTR dialog_box(const LaunchSettings& settings, HINSTANCE module, int template_id, HWND parent, DLGPROC proc,
                   LPARAM param, unsigned flags);
// Modeless, like CreateDialogParamW; null (last error set) on the same grounds.
HWND create_dialog(const LaunchSettings& settings, HINSTANCE module, int template_id, HWND parent, DLGPROC proc,
                   LPARAM param, unsigned flags);
