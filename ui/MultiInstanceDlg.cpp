#include "ui/MultiInstanceDlg.h"

#include <commctrl.h>

#include <string>

#include "package/LaunchSettings.h"
#include "package/dialog_factory.h"
#include "package/languages.h"
#include "package/load_string.h"
#include "support/debuglog.h"
#include "support/dynload.h"
#include "ui/ui_fonts.h"

static const wchar_t kLogSource[] = L"ui\\MultiInstanceDlg";

namespace {

constexpr int kHeader = 1006;
constexpr int kNext = 1036;
constexpr unsigned kTextNext = 1134;
constexpr unsigned kTextCancel = 1131;
constexpr unsigned kColumnTexts[] = {1707, 1715, 1708};
constexpr int kHeaderPadding = 16;

bool checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void add_column(HWND list, int index, const std::wstring& text) {
  LVCOLUMNW column = {};
  column.mask = LVCF_TEXT | LVCF_SUBITEM;
  column.pszText = const_cast<wchar_t*>(text.c_str());
  column.iSubItem = index;
  SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column));
}

}  // namespace

INT_PTR CMultiInstanceDlg::show(HWND parent) {
  qz::init_common_controls(ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES);
  selection_ = nothing_selected_choice();
  return dialog_box(settings_, ui::launcher_instance(), template_id(), parent, proc, reinterpret_cast<LPARAM>(this),
                    0);
}

void CMultiInstanceDlg::fill_list(HWND list) {
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  for (int c = 0; c < 3; ++c) add_column(list, c, load_string(settings_, kColumnTexts[c]));
  int row = 0;
  for (const InstanceDialogRow& r : model_.rows) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(r.name.c_str());
    item.lParam = r.id;
    int at = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (at < 0) continue;
    const std::wstring* cells[] = {&r.version, &r.location};
    for (int c = 1; c < 3; ++c) {
      LVITEMW sub = {};
      sub.iSubItem = c;
      sub.pszText = const_cast<wchar_t*>(cells[c - 1]->c_str());
      SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(&sub));
    }
    ++row;
  }
  // Each column as wide as the wider of its header and its cells (the header's own
  // measure leaves no room for its padding on some systems).
  for (int c = 0; c < 3; ++c) {
    const std::wstring header = load_string(settings_, kColumnTexts[c]);
    int want = static_cast<int>(SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(header.c_str()))) +
               kHeaderPadding;
    SendMessageW(list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(c), LVSCW_AUTOSIZE);
    int cells = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(c), 0));
    SendMessageW(list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(c), want > cells ? want : cells);
  }
  if (row > 0) {
    LVITEMW state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&state));
  }
}

void CMultiInstanceDlg::init(HWND dialog) {
  SetWindowTextW(dialog, wizard_caption(settings_, false).c_str());
  SetDlgItemTextW(dialog, kHeader, load_string(settings_, header_text()).c_str());
  SetDlgItemTextW(dialog, first_option_id(), load_string(settings_, first_option_text()).c_str());
  SetDlgItemTextW(dialog, second_option_id(), load_string(settings_, second_option_text()).c_str());
  SetDlgItemTextW(dialog, kNext, load_string(settings_, kTextNext).c_str());
  SetDlgItemTextW(dialog, IDCANCEL, load_string(settings_, kTextCancel).c_str());
  const bool first = first_option_enabled();
  EnableWindow(GetDlgItem(dialog, first_option_id()), first);
  CheckDlgButton(dialog, first_option_id(), first ? BST_CHECKED : BST_UNCHECKED);
  HWND list = GetDlgItem(dialog, list_id());
  if (list) fill_list(list);
  const bool rows = list ? SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) > 0 : second_enabled_without_list();
  EnableWindow(GetDlgItem(dialog, second_option_id()), rows);
  CheckDlgButton(dialog, second_option_id(), !first ? BST_CHECKED : BST_UNCHECKED);
  update_list(dialog);
}

void CMultiInstanceDlg::update_list(HWND dialog) {
  HWND list = GetDlgItem(dialog, list_id());
  if (!list) return;
  const bool on = checked(dialog, second_option_id());
  EnableWindow(list, on);
  if (on) SetFocus(list);
}

void CMultiInstanceDlg::next(HWND dialog) {
  if (checked(dialog, first_option_id())) {
    selection_ = first_option_choice();
  } else if (checked(dialog, second_option_id())) {
    selection_ = nothing_selected_choice();
    HWND list = GetDlgItem(dialog, list_id());
    int row = list ? static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED))
                   : -1;
    if (row >= 0) {
      LVITEMW item = {};
      item.mask = LVIF_PARAM;
      item.iItem = row;
      if (SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)))
        selection_ = static_cast<int>(item.lParam);
    }
  } else {
    selection_ = nothing_selected_choice();
  }
  QZ_LOG(L"Instance dialog: instance %d selected", selection_);
  EndDialog(dialog, 6);
}

INT_PTR CALLBACK CMultiInstanceDlg::proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<CMultiInstanceDlg*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lparam);
      reinterpret_cast<CMultiInstanceDlg*>(lparam)->init(dialog);
      // The focus was set where it belongs.
      return FALSE;
    case WM_COMMAND: {
      if (!self) break;
      const int id = LOWORD(wparam);
      if (id == kNext) {
        self->next(dialog);
        return TRUE;
      }
      if (id == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      if ((id == self->first_option_id() || id == self->second_option_id()) && HIWORD(wparam) == BN_CLICKED) {
        self->update_list(dialog);
        return TRUE;
      }
      break;
    }
  }
  return FALSE;
}

namespace ui {

namespace {

class InstanceDialogs : public InstanceDialogUi {
 public:
  int show(const LaunchSettings& settings, const InstanceDialogModel& model, int* selection) override {
    INT_PTR result;
    int chosen;
    if (model.patch_run) {
      CMultiInstancePatchDlg dialog(settings, model);
      result = dialog.show(nullptr);
      chosen = dialog.selection();
    } else {
      CMultiInstanceDlg dialog(settings, model);
      result = dialog.show(nullptr);
      chosen = dialog.selection();
    }
    if (result == 6) {
      *selection = chosen;
      return kNext;
    }
    if (result == IDCANCEL) return kCancel;
    QZ_LOG(L"The instance dialog could not be shown, error %u", GetLastError());
    return kUnavailable;
  }
};

}  // namespace

InstanceDialogUi& instance_dialogs() {
  static InstanceDialogs dialogs;
  return dialogs;
}

}  // namespace ui
