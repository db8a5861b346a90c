// What the instance choice needs of the user interface: the dialog that lists
// the installed instances and offers a new one (or, for a patch, all of them).
// The user interface installs it at start; without it (test programs) no dialog
// can ask and the choice fails as in a silent run.
#pragma once
#include <string>
#include <vector>

struct LaunchSettings;

struct InstanceDialogRow {
  int id = 0;
  std::wstring name, version, location;
};

struct InstanceDialogModel {
  bool patch_run = false;
  int first_choice = -4;       // the id the first option stands for
  bool first_enabled = false;
  bool second_enabled = false;
  std::vector<InstanceDialogRow> rows;
};

class InstanceDialogUi {
 public:
  enum Result { kNext = 6, kCancel = 2, kUnavailable = -1 };
  virtual ~InstanceDialogUi() = default;
  // Shows the dialog; on kNext `selection` holds the chosen id.
  virtual int show(const LaunchSettings& settings, const InstanceDialogModel& model, int* selection) = 0;
};
// Null removes the installed dialog.
void set_instance_dialog(InstanceDialogUi* ui);
InstanceDialogUi* instance_dialog();
