#include "session_ui.h"

#include "packaged_setting.h"
#include "support/debuglog.h"
#include "support/error_codes.h"
#include "support/process_state.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\session_ui";

namespace {

// A run without the launcher's dialogs: nothing appears, and nobody can be asked.
class NoDialogs : public SessionUi {
 public:
  std::unique_ptr<SessionDialog> create_setup_dialog(Session&, int) override { return nullptr; }
  void close_setup_windows() override {}
  bool show_splash(Session&) override { return false; }
  bool check_password(Session&) override {
    if (read_packaged_setting(L"KEY", L"PASSWORD", 100).empty()) return true;
    QZ_LOG(L"No dialog can ask for the setup password");
    qzproc::set_exit_code(err::kWrongPassword);
    return false;
  }
  HRESULT show_language_dialog(LaunchSettings&) override { return static_cast<HRESULT>(0x8000FFFFu); }
};

SessionUi* g_ui = nullptr;

}  // namespace

void set_session_ui(SessionUi* ui) { g_ui = ui; }

SessionUi& session_ui() {
  static NoDialogs none;
  return g_ui ? *g_ui : none;
}
