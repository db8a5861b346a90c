// The instance dialog (template 3003): a new instance (or, for a patch, all of
// them) through the first option, an installed one from the list through the
// second. The patch form only changes what the virtual operations answer.
#pragma once
#include <windows.h>

#include "instance_dialog.h"

class CMultiInstanceDlg {
 public:
  CMultiInstanceDlg(const LaunchSettings& settings, const InstanceDialogModel& model)
      : settings_(settings), model_(model) {}
  virtual ~CMultiInstanceDlg() = default;
  CMultiInstanceDlg(const CMultiInstanceDlg&) = delete;
  CMultiInstanceDlg& operator=(const CMultiInstanceDlg&) = delete;

  // Modal: 6 (Next) with the selection, or 2 (Cancel); -1 when it cannot be shown.
  virtual INT_PTR show(HWND parent);
  virtual int template_id() const { return 3003; }
  virtual int first_option_id() const { return 1010; }
  virtual unsigned first_option_text() const { return 1703; }
  virtual int first_option_choice() const { return model_.first_choice; }
  virtual bool first_option_enabled() const { return model_.first_enabled; }
  virtual int second_option_id() const { return 1012; }
  virtual unsigned second_option_text() const { return 1704; }
  virtual int nothing_selected_choice() const { return -4; }
  virtual int list_id() const { return 1013; }
  virtual bool second_enabled_without_list() const { return false; }
  virtual unsigned header_text() const { return 1702; }

  int selection() const { return selection_; }

 protected:
  const LaunchSettings& settings_;
  const InstanceDialogModel& model_;

 private:
  static INT_PTR CALLBACK proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
  void init(HWND dialog);
  void fill_list(HWND list);
  void update_list(HWND dialog);
  void next(HWND dialog);

  int selection_ = -4;
};

class CMultiInstancePatchDlg : public CMultiInstanceDlg {
 public:
  using CMultiInstanceDlg::CMultiInstanceDlg;
  unsigned first_option_text() const override { return 1711; }
  int first_option_choice() const override { return -2; }
  bool first_option_enabled() const override { return true; }
  unsigned second_option_text() const override { return 1712; }
  unsigned header_text() const override { return 1710; }
};

namespace ui {
// The instance dialog behind the core's seam.
InstanceDialogUi& instance_dialogs();
}  // namespace ui
