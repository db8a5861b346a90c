// portable
#include "session_state.h"

#include "package/LaunchSettings.h"
#include "support/zstring.h"

using namespace switch_rules;

namespace {

bool starts_with_ci(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && wide_iequals(text.substr(0, prefix.size()), prefix);
}

}  // namespace

SessionState::~SessionState() { clear_setup_password(); }

void SessionState::set_value(uint32_t id, const std::wstring& text, bool keep_empty) {
  if (text.empty() && !keep_empty)
    values_.erase(id);
  else
    values_[id] = text;
}

std::wstring SessionState::get_value(uint32_t id) const {
  auto it = values_.find(id);
  return it == values_.end() ? std::wstring() : it->second;
}

bool SessionState::has_value(uint32_t id) const { return values_.count(id) != 0; }

void SessionState::set_launcher_path(const std::wstring& path) {
  launcher_path_ = path;
  launcher_folder_ = zpath(path).folder();
}

void SessionState::set_setup_password(const std::wstring& password) {
  setup_password_.assign(password, 0, kPasswordCapacity - 1);
}

void SessionState::clear_setup_password() {
  // Overwrite before release so the text does not linger in freed memory.
  for (auto& c : setup_password_) c = 0;
  setup_password_.clear();
}

uint16_t SessionState::requested_language() const { return settings_.requested_language; }

bool SessionState::script_driven_is_3() {
  if (!script_driven_is_3_) script_driven_is_3_ = parse_decimal_text(packaged_setting(L"Startup", L"ScriptDriven")) == 3;
  return *script_driven_is_3_;
}

void SessionState::add_switch(const std::wstring& sw, const std::wstring& text, bool force_quotes) {
  relaunch_command_line_ += relaunch_switch_text(sw, text, force_quotes);
  if (switch_goes_to_engine(sw, [this] { return script_driven_is_3(); }))
    engine_command_line_ += engine_switch_text(sw, text, force_quotes);
}

std::wstring SessionState::strip_relaunch_switches(const std::wstring& command_line) const {
  return switch_rules::strip_relaunch_switches(command_line, settings_.launcher_path);
}

void SessionState::append_relaunch_switches(std::wstring& command_line) const {
  RelaunchSwitches s;
  s.remove_as_major_upgrade = remove_as_major_upgrade_;
  s.launcher_path = launcher_path_;
  s.unc_path = settings_.unc_path;
  s.language = settings_.ui_language;
  s.password = setup_password_;
  command_line += relaunch_switches_text(s);
}

bool SessionState::apply_switch(const std::wstring& text) {
  if (text.empty()) return false;
  wchar_t c = text[0];
  if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  if (c < L'a' || c > L'z') return false;
  return apply_letter(c, text);
}

bool SessionState::apply_letter(wchar_t letter, const std::wstring& text) {
  const std::wstring rest = text.substr(1);
  switch (letter) {
    case L'a':
      if (wide_iequals(text, L"auto")) {
        settings_.auto_ = true;
        add_switch(L"/auto");
        return true;
      }
      if (launch_mode_ != kModeInstall) return false;
      launch_mode_ = kModeAdmin;
      add_switch(L"/a");
      set_value(kValueAdminImageFolder, rest);
      return true;
    case L'b':
      set_value(kValueCacheFolder, rest);
      return true;
    case L'c':
      if (text.size() == 1) {
        package_mode_ = kPackageFromStream;
        quiet_ = true;
        started_with_c_or_e_ = true;
      }
      return true;
    case L'd':
      if (!starts_with_ci(text, L"debuglog")) add_switch(L"/d", rest, true);
      return true;
    case L'e':
      if (starts_with_ci(text, L"embed{") && text.back() == L'}') {
        set_value(kValueEmbed, text.substr(5));
        return true;
      }
      if (wide_iequals(text, L"eprq")) return true;
      return apply_e(rest);
    case L'f':
      return apply_f(rest);
    case L'g':
    case L'k':
    case L'o':
    case L'y':
      return false;
    case L'h':
      if (wide_iequals(text, L"hide_progress")) hide_progress_ = true;
      if (wide_iequals(text, L"hide_splash")) hide_splash_ = true;
      return true;
    case L'i':
      if (starts_with_ci(text, L"instance=")) instance_choice_ = parse_instance_choice(std::wstring_view(text).substr(9));
      return true;
    case L'j':
      if (launch_mode_ != kModeInstall) return false;
      launch_mode_ = kModeAdvertise;
      set_value(kValueModeLetters, rest);
      add_switch(L"/j", rest);
      return true;
    case L'l':
      settings_.requested_language = parse_language_id(rest);
      return true;
    case L'm':
      if (!rest.empty() && (rest[0] == L'1' || rest[0] == L'2'))
        add_switch(rest[0] == L'1' ? L"/m1" : L"/m2", rest.substr(1));
      else
        add_switch(L"/m", rest);
      return true;
    case L'n':
      if (wide_iequals(text, L"noscript_uninst")) {
        add_switch(L"/noscript_uninst");
        return true;
      }
      set_value(kValuePackageName, rest);
      extraction_mode_ = kExtractInstallerOnly;
      quiet_ = true;
      return true;
    case L'p':
      set_setup_password(rest);
      return true;
    case L'q':
    case L'w':
      return true;
    case L'r':
      if (wide_iequals(text, L"removeonly")) {
        add_switch(L"/removeonly");
        return true;
      }
      // The entry point's major-upgrade removal carries a value (code;n;n), so it
      // is recognised by its beginning: recording it as "/r" would turn the
      // removal's relaunch into a repair. Copies started for it must name this
      // launcher and its UNC folder (append_relaunch_switches).
      if (starts_with_ci(text, L"removeasmajorupgrade")) {
        remove_as_major_upgrade_ = true;
        return true;
      }
      if (wide_iequals(text, L"runas") || wide_iequals(text, L"runfromtemp") || starts_with_ci(text, L"reboot") ||
          (recognises_prerequisite_switches() && starts_with_ci(text, L"runprerequisites")))
        return true;
      add_switch(L"/r");
      return true;
    case L's':
      if (wide_iequals(text, L"skip_clone_wait")) return true;
      if (wide_iequals(text, L"SMS")) {
        add_switch(L"/SMS");
        return true;
      }
      if (wide_iequals(text, L"show_reboot_msg")) {
        settings_.show_reboot_msg = true;
        return true;
      }
      settings_.silent = true;
      add_switch(L"/s");
      return true;
    case L't':
      if (starts_with_ci(text, L"tempdisk1folder") || starts_with_ci(text, L"tempextractpath")) return true;
      return apply_t(rest);
    case L'u':
      if (rest.size() >= 1) {
        wchar_t second = rest[0];
        if (second == L'a' || second == L'A') { set_value(kValueEngineLocationA, rest.substr(1)); return true; }
        if (second == L'w' || second == L'W') { set_value(kValueEngineLocationW, rest.substr(1)); return true; }
        if (second == L'm' || second == L'M') { set_value(kValuePackageLocation, rest.substr(1)); return true; }
      }
      if (wide_iequals(text, L"uninst")) add_switch(L"/uninst");
      return true;
    case L'v':
      return apply_v(rest);
    case L'x':
      if (launch_mode_ != kModeInstall) return false;
      launch_mode_ = kModeUninstall;
      return true;
    case L'z':
      add_switch(L"/z", rest);
      return true;
  }
  return false;
}

bool SessionState::apply_e(const std::wstring& rest) {
  std::wstring folder;
  if (wide_iequals(rest, L"%QZ_E%")) {
    if (!take_placeholder(L"%QZ_E%", &folder)) return false;
  } else {
    folder = rest;
  }
  folder = unquote_text(folder);
  if (folder.empty() || !fits_temp_folder(folder)) return false;
  if (!temp_folder_given(folder)) return false;
  temp_folder_override_ = folder;
  settings_.temp_folder = folder;
  quiet_ = true;
  started_with_c_or_e_ = true;
  settings_.setup_ini_path = zpath(folder).join(L"Setup.INI");
  set_value(kValuePackageName, packaged_setting(L"Startup", L"PackageName"));
  extraction_mode_ = kExtractInstallerOnly;
  return true;
}

bool SessionState::apply_f(const std::wstring& rest) {
  if (!rest.empty() && rest[0] == L'1') {
    std::wstring path = rest.substr(1);
    std::wstring folder = zpath(path).folder();
    if (!ensure_folder(folder)) return false;
    response_folder_writable_ = can_write_in_folder(folder);
    add_switch(L"/f1", path);
    response_file_given_ = true;
    return true;
  }
  if (!rest.empty() && rest[0] == L'2') {
    add_switch(L"/f2", rest.substr(1));
    return true;
  }
  if (!rest.empty() && rest[0] == L'3') {
    std::wstring folder = rest.substr(1);
    if (!is_absolute_folder(folder)) {
      zpath base = source_folder_from_switch_ ? zpath(source_folder_)
                   : !settings_.first_launcher_path.empty() ? zpath(settings_.first_launcher_path).folder()
                                                            : zpath(launcher_folder_);
      folder = base.join(folder);
    }
    setup_ini_folder_ = folder;
    return true;
  }
  // Repair letters select the repair launch, as /j letters select advertising:
  // recording them alone would install instead of repairing.
  if (launch_mode_ != kModeInstall) return false;
  launch_mode_ = kModeRepair;
  set_value(kValueModeLetters, rest);
  add_switch(L"/f", rest);
  return true;
}

bool SessionState::apply_t(const std::wstring& rest) {
  std::wstring folder;
  if (wide_iequals(rest, L"%QZ_T%")) {
    if (!take_placeholder(L"%QZ_T%", &folder)) return false;
    folder = unquote_text(folder);
  } else {
    folder = rest;
  }
  source_folder_ = folder;
  source_folder_from_switch_ = true;
  extraction_mode_ = kExtractNone;
  quiet_ = true;
  return true;
}

bool SessionState::apply_v(const std::wstring& rest) {
  delete_resume_entry();
  if (starts_with_ci(rest, L"erbose")) {
    add_switch(L"/verbose", rest.substr(6), true);
    return true;
  }
  if (wide_iequals(rest, L"%QZ_V%")) {
    std::wstring text;
    if (!take_placeholder(L"%QZ_V%", &text)) return false;
    set_value(kValueInstallerCommandLine, text);
    add_switch(L"/v", text, true);
    return true;
  }
  std::wstring current = get_value(kValueInstallerCommandLine);
  if (!current.empty() && !rest.empty()) current.push_back(L' ');
  set_value(kValueInstallerCommandLine, current + rest);
  add_switch(L"/v", rest, true);
  return true;
}
