// The system side of the command line: registry placeholders, the resume entry,
// the response-file folder checks and the usage message.
#include <windows.h>

#include "cleanup.h"
#include "diskaction.h"
#include "language_steps.h"
#include "package/LaunchSettings.h"
#include "package/error_display.h"
#include "package/load_string.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/handles.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\session_switches";

namespace {

const wchar_t kCurrentVersionKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion";
const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

}  // namespace

bool Session::process_switch(const std::wstring& text) {
  if (apply_switch(text)) return true;
  // Only the switch letter: the text of an invalid switch may be part of a password.
  QZ_LOG(L"Invalid command line switch beginning with '%c'", text.empty() ? L' ' : text[0]);
  report_invalid_command_line(*this);
  return false;
}

bool Session::take_placeholder(const std::wstring& name, std::wstring* value) {
  value->clear();
  qz::reg_key key;
  bool can_delete =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersionKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.receive()) ==
      ERROR_SUCCESS;
  if (!can_delete && RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersionKey, 0, KEY_QUERY_VALUE, key.receive()) !=
                         ERROR_SUCCESS) {
    QZ_LOG(L"Cannot open HKLM\\%s to read %s", kCurrentVersionKey, name.c_str());
    return false;
  }
  // The whole value, whatever its length: the run before the restart saved it so,
  // and the value is gone once read. A value of another type reads as empty.
  LSTATUS rc = qz::RegQueryString(key.get(), L"", name, 0, value);
  if (rc != ERROR_SUCCESS) value->clear();
  if (rc != ERROR_FILE_NOT_FOUND) {
    if (!can_delete || RegDeleteValueW(key.get(), name.c_str()) != ERROR_SUCCESS)
      QZ_LOG(L"The value %s could not be deleted", name.c_str());
  }
  return true;
}

void Session::delete_resume_entry() {
  qz::reg_key key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE, key.receive()) == ERROR_SUCCESS)
    RegDeleteValueW(key.get(), L"QZSetup");
}

bool Session::ensure_folder(const std::wstring& folder) {
  if (folder.empty()) return true;  // a bare file name lies in the current folder
  return qz::PathExists(folder, qz::kPathFolder) || qz::CreateFolderTree(folder);
}

bool Session::can_write_in_folder(const std::wstring& folder) { return folder_writable(folder); }

// The run works in the folder from now on: it must be a folder, not a link or a
// file, and it stays held.
bool Session::temp_folder_given(const std::wstring& folder) {
  if (!qzproc::hold_folder(folder)) {
    QZ_LOG(L"The temporary folder %s cannot be used: it is no folder that can be held (error %u)", folder.c_str(),
           GetLastError());
    return false;
  }
  const std::wstring before = qzproc::temp_folder();
  if (qzproc::set_temp_folder(folder) && !before.empty() &&
      !wide_iequals(zpath(before).remove_backslash(), zpath(folder).remove_backslash()))
    record_left_temp_folder(before);
  return true;
}

std::wstring usage_message_text(const LaunchSettings& settings) {
  static const unsigned kIds[] = {1203, 1211, 1204, 1205, 1206, 1630, 1631, 1632, 1633};
  std::wstring text;
  for (size_t i = 0; i < sizeof(kIds) / sizeof(kIds[0]); ++i) {
    if (i) text += L"\r\n";
    text += load_string(settings, kIds[i]);
  }
  return text;
}

void show_usage_message(Session& session) {
  if (session.settings().silent) return;
  show_error_text(session.settings(), usage_message_text(session.settings()), false);
}

void prepare_usage_language(Session& session) {
  LaunchSettings& settings = session.settings();
  // A silent launch shows no usage message: nothing to extract for it.
  if (settings.silent) return;
  // setup.ini and the string tables, from the stream when the setup carries them;
  // their `cmdline` may still make the launch silent.
  DiskAction disk(session);
  // The disk step has set the setup.ini path already.
  if (!disk.execute() || settings.ui_language != 0) return;
  choose_language(session);
}

void report_invalid_command_line(Session& session) {
  prepare_usage_language(session);
  show_usage_message(session);
}
