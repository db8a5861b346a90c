// SessionState::apply_switch over fake system hooks, as process_switch applies each
// argument: the first byte sets the hooks' answers, line 1 is the launcher path and
// every later line one switch (the text after its switch character). Then the
// relaunch and engine command lines are built, stripped and masked.
#include "fuzz_input.h"
#include "package/LaunchSettings.h"
#include "secret_mask.h"
#include "session_state.h"

namespace {

class FakeSession : public SessionState {
 public:
  FakeSession(LaunchSettings& s, uint8_t answers) : SessionState(s), answers_(answers) {}

 protected:
  std::wstring packaged_setting(const std::wstring& section, const std::wstring& key) override {
    if (key == L"ScriptDriven") return answers_ & 1 ? L"3" : L"0";
    return answers_ & 2 ? L"setup.msi" : L"";
  }
  bool take_placeholder(const std::wstring& name, std::wstring* value) override {
    *value = answers_ & 4 ? L"\"C:\\Temp Folder\\x\"" : L"";
    return (answers_ & 8) == 0;
  }
  bool ensure_folder(const std::wstring&) override { return (answers_ & 16) == 0; }
  bool can_write_in_folder(const std::wstring&) override { return (answers_ & 32) == 0; }
  bool recognises_prerequisite_switches() const override { return answers_ & 64; }

 private:
  uint8_t answers_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<std::wstring> lines = fuzz_lines(data + 1, size - 1);
  LaunchSettings settings;
  settings.launcher_path = lines[0];
  FakeSession session(settings, data[0]);
  session.set_launcher_path(lines[0]);
  for (size_t i = 1; i < lines.size(); ++i)
    if (!session.apply_switch(lines[i])) break;

  FUZZ_CHECK(session.setup_password().size() < switch_rules::kPasswordCapacity);
  FUZZ_CHECK(session.temp_folder_override().size() < switch_rules::kTempFolderCapacity);
  const int choice = session.instance_choice();
  FUZZ_CHECK(choice >= 0 || choice == switch_rules::kInstanceDefault || choice == switch_rules::kInstanceInvalid ||
             choice == switch_rules::kInstanceAsk);

  session.set_remove_as_major_upgrade(data[0] & 128);
  std::wstring command_line = session.relaunch_command_line();
  session.append_relaunch_switches(command_line);
  if (settings.launcher_path.size() >= 3) (void)session.strip_relaunch_switches(command_line);
  (void)secret_mask::mask(command_line, secret_mask::Names());
  (void)secret_mask::mask(session.engine_command_line(), secret_mask::Names{true, {lines[0]}});
  session.clear_setup_password();
  FUZZ_CHECK(session.setup_password().empty());
  return 0;
}
