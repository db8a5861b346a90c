// portable
#include "package/LaunchSettings.h"

#include "package/language_rules.h"
#include "support/SwitchList.h"
#include "support/zstring.h"

void LaunchSettings::apply_settings_switches(std::wstring& text) {
  SwitchList list(text);
  std::wstring value;
  if (list.find(L"l", &value, false, true)) requested_language = lang::parse_language_id(value);
  if (list.find(L"ig", &value, false, true)) install_guid = unquote_text(value);
  if (list.find(L"no_engine", nullptr, true, false)) no_engine = true;
  if (list.find(L"s", nullptr, true, false)) silent = true;
  if (list.find(L"auto", nullptr, true, false)) auto_ = true;
  if (list.find(L"hide_progress", nullptr, true, true)) hide_progress = true;
  if (list.find(L"hide_splash", nullptr, true, true)) hide_splash = true;
  if (list.find(L"hide_usd", nullptr, true, true)) hide_usd = true;
  if (list.find(L"reboot", nullptr, false, false)) reboot = true;
  if (list.find(L"package:", nullptr, false, false)) package = true;
  if (list.find(L"f2", &value, false, false)) script_log_path = unquote_text(value);
  if (list.find(L"no_deleter", nullptr, true, true)) no_deleter = true;
  if (list.find(L"no_selfdeleter", nullptr, true, true)) no_selfdeleter = true;
  if (list.find(L"clone_wait", nullptr, true, true)) clone_wait = true;
  if (list.find(L"show_err_dlg", nullptr, true, true)) show_err_dlg = true;
  if (list.find(L"show_err_msg", nullptr, true, true)) show_err_msg = true;
  if (list.find(L"show_err_msg_invalid_identity", nullptr, true, true)) show_err_msg_invalid_identity = true;
  for (const wchar_t* name : {L"delayedstart:", L"tempdisk1folder:", L"extract_all:", L"media_path:", L"installfromweb:",
                              L"QZ_OriginalLauncher:", L"waitingforchildprocess"})
    list.find(name, nullptr, false, true);
  for (const wchar_t* name : {L"runfromtemp", L"QZ_temp"}) list.find(name, nullptr, true, true);
  text = zString(list.remaining()).trimmed();
}

namespace qzproc {
namespace {
LaunchSettings* g_settings = nullptr;
}
LaunchSettings* settings() { return g_settings; }
void set_settings(LaunchSettings* settings) { g_settings = settings; }
}  // namespace qzproc
