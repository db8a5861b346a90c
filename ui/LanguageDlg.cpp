#include "ui/LanguageDlg.h"

#include <algorithm>
#include <vector>

#include "package/LaunchSettings.h"
#include "package/dialog_factory.h"
#include "package/languages.h"
#include "package/load_string.h"
#include "support/debuglog.h"
#include "ui/ui_fonts.h"

static const wchar_t kLogSource[] = L"ui\\LanguageDlg";

namespace {

constexpr unsigned kTextOk = 1813;
constexpr unsigned kTextCancel = 1822;
constexpr unsigned kTextChooseLanguage = 1812;
constexpr int kTemplate = 121;
constexpr int kLanguageList = 306;
constexpr int kLanguageLabel = 51;

struct LanguageDialogState {
  LaunchSettings* settings;
};

INT_PTR CALLBACK language_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* state = reinterpret_cast<LanguageDialogState*>(lparam);
      SetWindowLongPtrW(dialog, DWLP_USER, lparam);
      const LaunchSettings& s = *state->settings;
      SetWindowTextW(dialog, wizard_caption(s, false).c_str());
      SetDlgItemTextW(dialog, IDOK, load_string(s, kTextOk).c_str());
      SetDlgItemTextW(dialog, IDCANCEL, load_string(s, kTextCancel).c_str());
      SetDlgItemTextW(dialog, kLanguageLabel, load_string(s, kTextChooseLanguage).c_str());
      HWND list = GetDlgItem(dialog, kLanguageList);
      std::vector<uint16_t> ids = s.supported_languages;
      std::sort(ids.begin(), ids.end());
      LRESULT selected = 0;
      for (uint16_t id : ids) {
        LRESULT at = SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(language_name(s, id).c_str()));
        if (at < 0) continue;
        SendMessageW(list, CB_SETITEMDATA, static_cast<WPARAM>(at), id);
        if (id == s.ui_language) selected = at;
      }
      SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK) {
        auto* state = reinterpret_cast<LanguageDialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
        HWND list = GetDlgItem(dialog, kLanguageList);
        LRESULT at = SendMessageW(list, CB_GETCURSEL, 0, 0);
        if (state && at != CB_ERR) {
          LRESULT id = SendMessageW(list, CB_GETITEMDATA, static_cast<WPARAM>(at), 0);
          if (id != CB_ERR) state->settings->ui_language = static_cast<uint16_t>(id);
        }
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace

HRESULT show_language_dialog(LaunchSettings& settings, HWND parent) {
  LanguageDialogState state{&settings};
  SetLastError(0);
  INT_PTR result = dialog_box(settings, ui::launcher_instance(), kTemplate, parent, language_dialog_proc,
                              reinterpret_cast<LPARAM>(&state), 0);
  if (result == -1 || result == 0) {
    DWORD error = GetLastError();
    QZ_LOG(L"The language dialog could not be created: error %u", error);
    return error ? static_cast<HRESULT>(0x80070000u | (error & 0xFFFF)) : static_cast<HRESULT>(0x8000FFFFu);
  }
  if (result == IDOK) {
    QZ_LOG(L"Language chosen in the dialog: %d", settings.ui_language);
    return kLanguageDialogOk;
  }
  return kLanguageDialogCancelled;
}

