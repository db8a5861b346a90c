#include "ui/launcher_ui.h"

#include <memory>

#include "package/error_display.h"
#include "instance_dialog.h"
#include "session.h"
#include "session_ui.h"
#include "ui/ErrorDialog.h"
#include "ui/LanguageDlg.h"
#include "ui/MultiInstanceDlg.h"
#include "ui/PasswdDlg.h"
#include "ui/QzSetupDlg.h"
#include "ui/setup_window.h"

namespace ui {
namespace {

class LauncherUi : public SessionUi {
 public:
  std::unique_ptr<SessionDialog> create_setup_dialog(Session& session, int template_id) override {
    auto dialog = std::make_unique<QzSetupDlg>();
    // A template that does not exist (or cannot be made) leaves the run without one.
    if (!dialog->start(nullptr, session, template_id, splash_was_shown())) return nullptr;
    return dialog;
  }
  void close_setup_windows() override { close_setup_window(); }
  bool show_splash(Session& session) override { return show_splash_bitmap(session); }
  bool check_password(Session& session) override { return check_installation_password(session); }
  HRESULT show_language_dialog(LaunchSettings& settings) override { return ::show_language_dialog(settings); }
};

}  // namespace

void install_launcher_ui() {
  static LauncherUi dialogs;
  set_session_ui(&dialogs);
  set_error_display(&error_dialogs());
  set_instance_dialog(&instance_dialogs());
}

}  // namespace ui
