// The session run's user-interface steps: the password check, the splash, the
// initialisation dialog and the error displays.
#include <windows.h>

#include <memory>

#include "msi_seams.h"
#include "package/LaunchSettings.h"
#include "package/load_string.h"
#include "run_steps.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/errors.h"
#include "support/process_state.h"
#include "ui/ErrorDialog.h"
#include "ui/PasswdDlg.h"
#include "ui/QzSetupDlg.h"
#include "ui/positional_text.h"

static const wchar_t kLogSource[] = L"ui\\ui_steps";

namespace {

constexpr unsigned kTextPreparing = 1102;
const wchar_t kWizardName[] = L"Brackenwright Wizard";

}  // namespace

int Session::create_setup_dialog() {
  if (settings().silent || setup_dialog()) return 1;
  int template_id = ui();
  if (dbglog::is_enabled()) QZ_LOG(L"Creating setup dialog...");
  auto dialog = std::make_unique<QzSetupDlg>();
  // A template that does not exist (or cannot be made) leaves the run without
  // a dialog.
  if (!dialog->start(nullptr, *this, template_id, splash_was_shown())) return 1;
  set_setup_dialog(std::move(dialog));
  std::wstring text = ui::fill_positional(load_string(settings(), kTextPreparing), {settings().product_name, kWizardName});
  if (HWND main_text = main_text_window()) SetWindowTextW(main_text, text.c_str());
  return 1;
}

bool check_password(Session& session) { return check_installation_password(session); }

void show_splash(Session& session) { show_splash_bitmap(session); }

int create_setup_dialog(Session& session) { return session.create_setup_dialog(); }

void close_setup_dialog(Session&) { close_setup_window(); }

bool setup_cancelled(Session& session) { return session.setup_cancelled() || setup_cancel_flag(); }

void show_error(Session& session, unsigned id) {
  show_error_text(session.settings(), load_string(session.settings(), id), false);
}

void show_system_error(Session&, DWORD error) { show_system_error(std::wstring(), error); }

// --- the installer launch's view of the dialog ---
bool init_dialog_exists(Session&) { return setup_window() != nullptr; }

bool wait_out_splash(Session& session) {
  if (session.settings().silent || session.settings().auto_) return !setup_cancel_flag();
  return !wait_setup_splash();
}

void hide_init_dialog(Session&) { hide_setup_window(); }

void close_init_dialog(Session&) { close_setup_window(); }
