#include "cleanup.h"

#include <windows.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "cleanup_rules.h"
#include "folder_names.h"
#include "package/IniProfile.h"
#include "support/debuglog.h"
#include "support/handles.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"
#include "test_hooks.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\cleanup";

namespace {

const auto& kListName = folder_names::kDeletionList;
const wchar_t kNewListSuffix[] = L".new";  // the next list while it is written
const wchar_t kWindowClass[] = L"BrackenwrightMSIDelete10";
const wchar_t kFiles[] = L"Files";
const wchar_t kFolders[] = L"Folders";
const wchar_t kCreated[] = L"Created";
const wchar_t kNoKeyValue[] = L"NO_KEY_VALUE";
constexpr UINT_PTR kTimerId = 1500;
constexpr UINT kPassNow = WM_APP + 1;  // the next pass without a timer period

// Folders this process made for the run or learnt of from a list's [Created].
std::vector<std::wstring>& made_folders() {
  static std::vector<std::wstring> folders;
  return folders;
}

void remember_made(const std::wstring& folder) {
  for (const std::wstring& f : made_folders())
    if (wide_iequals(f, folder)) return;
  made_folders().push_back(folder);
}

// Temporary folders the run moved away from, worked off after its own.
std::vector<std::wstring>& left_folders() {
  static std::vector<std::wstring> folders;
  return folders;
}

bool in_pass = false;  // a nested tick (a message pumped inside a pass) must not start another

DWORD attributes_of(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }

bool is_missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// No "insert a disk" or "file in use" boxes while the clean-up touches files.
class QuietErrors {
 public:
  QuietErrors() : old_(SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX)) {}
  ~QuietErrors() { SetErrorMode(old_); }

 private:
  UINT old_;
};

// A missing file counts as deleted; a file that cannot be opened exclusively is
// in use and stays.
bool delete_file(const std::wstring& path) {
  if (attributes_of(path) == INVALID_FILE_ATTRIBUTES && is_missing(GetLastError())) return true;
  {
    qz::file_handle probe(
        CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!probe) return false;
  }
  QuietErrors quiet;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileW(path.c_str()) != FALSE;
}

// Only an existing, empty folder goes.
bool remove_folder(const std::wstring& path) {
  if (!qz::PathExists(path, qz::kPathFolder)) return false;
  QuietErrors quiet;
  return RemoveDirectoryW(path.c_str()) != FALSE;
}

bool made_by_run(const std::wstring& path) { return cleanup_rules::made_by_run(path, made_folders()); }

// Marks from the list count only inside the temporary folder that holds the list:
// a list cannot hand another place over to the clean-up.
void learn_created(const qz::IniProfile& list, const std::wstring& temp) {
  auto section = list.sections().find(kCreated);
  if (section == list.sections().end()) return;
  for (const auto& entry : section->second)
    if (cleanup_rules::lies_within(entry.second, temp)) remember_made(entry.second);
}

// Every key: a cut list could end inside a key and name another one.
std::vector<std::wstring> keys_of(const qz::IniProfile& list, const wchar_t* section) {
  std::wstring text;
  std::vector<std::wstring> keys;
  if (!list.get_key_list(section, text, L'\0')) return keys;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find(L'\0', start);
    if (end == std::wstring::npos) end = text.size();
    if (end > start) keys.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return keys;
}

// The whole value: a path cut to a buffer would name another file.
std::wstring value_of(const qz::IniProfile& list, const wchar_t* section, const std::wstring& key) {
  return list.find(section, key).value_or(kNoKeyValue);
}

// Puts what was written to the file on the disk: the flush through any handle
// writes the file's whole cache.
bool flush_file(const std::wstring& path) {
  qz::file_handle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file && FlushFileBuffers(file.get());
}

// Writes the whole list to a sibling file, flushed, which then replaces the list:
// a crash or a full disk during the write leaves the previous list, never a cut one.
bool save_list(const qz::IniProfile& list, const std::wstring& list_path) {
  const std::wstring next = list_path + kNewListSuffix;
  qz::IniProfile copy = list;  // saving takes the written path as the profile's own
  if (copy.save(next) && flush_file(next) &&
      MoveFileExW(next.c_str(), list_path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  QZ_LOG(L"The deletion list %s could not be written (%u)", list_path.c_str(), GetLastError());
  DeleteFileW(next.c_str());
  return false;
}

// The list and a next list a broken write may have left beside it.
bool delete_list(const std::wstring& list_path) {
  DeleteFileW((list_path + kNewListSuffix).c_str());
  return delete_file(list_path);
}

// Each save is flushed (the list must survive a crash of the machine): entries
// written together cost one save.
void record_all(const wchar_t* section, const std::vector<std::pair<std::wstring, std::wstring>>& entries) {
  qz::LastErrorKeeper keep;
  std::wstring list_path = deletion_list_path();
  if (list_path.empty() || entries.empty()) return;
  qz::IniProfile list(list_path);
  if (qz::PathExists(list_path, qz::kPathFile) && !list.load()) {
    // Writing now would drop every entry the unreadable list holds.
    for (const auto& [wanted_key, path] : entries)
      QZ_LOG(L"The deletion list %s cannot be read; %s not recorded", list_path.c_str(), path.c_str());
    return;
  }
  std::vector<std::wstring> written, unrecorded;
  for (const auto& [wanted_key, path] : entries) {
    std::wstring key = cleanup_rules::list_key(wanted_key);
    if (key.empty()) continue;
    (list.write_string(section, key.c_str(), path.c_str()) ? written : unrecorded).push_back(path);
  }
  if (!written.empty() && !save_list(list, list_path)) unrecorded.insert(unrecorded.end(), written.begin(), written.end());
  for (const std::wstring& path : unrecorded) QZ_LOG(L"Could not record %s in the deletion list", path.c_str());
}

void record(const wchar_t* section, const std::wstring& wanted_key, const std::wstring& path) {
  record_all(section, {{wanted_key, path}});
}

std::wstring last_component(const std::wstring& path) {
  zpath p(path);
  p.remove_backslash();
  return p.leaf();
}

// Removes every junction and symbolic link below `folder` (never entering one),
// so that a command interpreter removing the folder cannot reach their targets.
// False when one of them stays.
bool remove_links_below(const std::wstring& folder) {
  bool all = true;
  std::vector<std::wstring> folders;
  {
    WIN32_FIND_DATAW data;
    qz::find_handle find(FindFirstFileW(zpath(folder).join(L"*").c_str(), &data));
    if (!find) return true;
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = zpath(folder).join(name);
      bool dir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        bool gone = dir ? RemoveDirectoryW(path.c_str()) != FALSE : DeleteFileW(path.c_str()) != FALSE;
        if (!gone) {
          QZ_LOG(L"The link %s could not be removed (%u)", path.c_str(), GetLastError());
          all = false;
        }
      } else if (dir) {
        folders.push_back(path);
      }
    } while (FindNextFileW(find.get(), &data));
  }
  for (const std::wstring& sub : folders) {
    DWORD a = attributes_of(sub);  // replaced by a link since the listing: not entered
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT)) {
      if (!RemoveDirectoryW(sub.c_str())) all = false;
    } else if (!remove_links_below(sub)) {
      all = false;
    }
  }
  return all;
}

// The launcher cannot delete its own running file: an interpreter started now
// removes the folder once the launcher has ended. Only a folder the run made is
// handed over, and only without links in it.
// The interpreter's command that removes the folder the running launcher lives in,
// started only when the launcher is about to end (start_pending_self_removal).
std::wstring& pending_self_removal() {
  static std::wstring command;
  return command;
}

void prepare_self_removal(const std::wstring& own) {
  if (!qz::PathExists(own, qz::kPathFile)) return;
  std::wstring folder = zpath(own).folder();
  if (!made_by_run(folder)) {
    QZ_LOG(L"%s was not made by this setup; it is not removed", folder.c_str());
    return;
  }
  if (!remove_links_below(folder)) {
    QZ_LOG(L"%s still holds a link; it is not removed", folder.c_str());
    return;
  }
  wchar_t sys[MAX_PATH];
  UINT n = GetSystemDirectoryW(sys, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  zpath interpreter = zpath(std::wstring(sys, n)).join(L"cmd.exe");
  pending_self_removal() = zString::format(L"\"%s\" /c rmdir /s /q \"%s\"", interpreter.c_str(), folder.c_str());
}

// The temporary folder itself, once empty. A folder the run did not make is left
// (true: nothing more to do with it).
bool remove_temp_folder(const std::wstring& folder) {
  if (!made_by_run(folder)) return true;
  qzproc::release_folder(folder);  // held for the run until now
  return remove_folder(folder);
}

// A junction or symbolic link between the temporary folder and `path`: what is
// removed through it lies at the link's far end, outside the run's folder. (The
// entry itself may be a link: a link alone is removed, never followed.)
bool through_link(const std::wstring& path, const std::wstring& temp) {
  for (const std::wstring& folder : cleanup_rules::folders_between(path, temp)) {
    DWORD a = attributes_of(folder);
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT)) {
      QZ_LOG(L"%s lies beyond the link %s; it is left", path.c_str(), folder.c_str());
      return true;
    }
  }
  return false;
}

// The list lies in a folder others can write (a folder named on the command line,
// the user's %TEMP%): an entry naming anything outside the temporary folder, "..",
// a sibling whose name merely begins with the folder's, is not the run's to delete.
bool outside(const std::wstring& path, const std::wstring& temp) {
  if (cleanup_rules::lies_below(path, temp)) return false;
  QZ_LOG(L"%s does not lie below %s; it is not deleted", path.c_str(), temp.c_str());
  return true;
}

// One [Folders] entry; true when it can leave the list.
bool remove_listed_folder(const std::wstring& path, const std::wstring& temp) {
  if (outside(path, temp) || through_link(path, temp)) return true;  // later passes cannot change that
  if (remove_folder(path)) return true;
  if (!qz::PathExists(path, qz::kPathFolder)) return qz::RemoveFolderTree(path);  // missing: removed; a file: kept
  if (made_by_run(path)) return qz::RemoveFolderTree(path);
  // Whatever is still in it was not recorded by the run, so later passes cannot
  // change that: the entry goes, the folder stays.
  QZ_LOG(L"%s was not made by this setup; its remaining contents are left", path.c_str());
  return true;
}

}  // namespace

std::wstring deletion_list_path() {
  const std::wstring& folder = qzproc::temp_folder();
  return folder.empty() ? std::wstring() : std::wstring(zpath(folder).join(kListName));
}

void record_file(const std::wstring& path) { record(kFiles, zpath(path).leaf(), path); }

void record_files(const std::vector<std::wstring>& paths) {
  std::vector<std::pair<std::wstring, std::wstring>> entries;
  for (const std::wstring& path : paths) entries.emplace_back(zpath(path).leaf(), path);
  record_all(kFiles, entries);
}

void record_file_as(const std::wstring& path, const std::wstring& key) { record(kFiles, key, path); }

void record_folder(const std::wstring& path) { record(kFolders, last_component(path), path); }

void record_created_folder(const std::wstring& path, bool pass_on) {
  zpath folder(path);
  folder.remove_backslash();
  if (folder.empty()) return;
  remember_made(folder);
  if (pass_on) record(kCreated, last_component(folder), folder);
}

std::vector<std::wstring> created_folders() { return made_folders(); }

void record_left_temp_folder(const std::wstring& folder) {
  zpath f(folder);
  f.remove_backslash();
  if (f.empty()) return;
  for (const std::wstring& known : left_folders())
    if (qz::SamePath(known, f)) return;
  left_folders().push_back(f);
}

bool remove_made_folder(const std::wstring& folder) { return made_by_run(folder) && remove_folder(folder); }

bool DeleteAction::pass() {
  qz::LastErrorKeeper keep;
  wait_ = false;
  const std::wstring folder = zpath(qzproc::temp_folder()).remove_backslash();
  if (folder.empty()) return true;
  const std::wstring own = qzproc::own_file_name();
  const bool inside = cleanup_rules::lies_below(own, folder);
  const std::wstring list_path = deletion_list_path();

  if (!qz::PathExists(list_path, qz::kPathFile)) {
    delete_list(list_path);
    remove_temp_folder(folder);
    finish(inside);
    return true;
  }
  if (passes_ >= kMaxPasses) {
    QZ_LOG(L"Clean-up ends after %d passes that found something in use; what is still listed stays", passes_);
    delete_list(list_path);
    finish(inside);
    return true;
  }
  qz::IniProfile list(list_path);
  if (!list.load()) return counted(false, true);  // held by someone for a moment: try again
  learn_created(list, folder);

  std::vector<std::wstring> files = keys_of(list, kFiles);
  const bool files_empty = files.empty();
  if (files_empty && keys_of(list, kFolders).empty()) {
    if (!delete_list(list_path)) return counted(false, true);
    if (remove_temp_folder(folder)) {
      finish(inside);
      return true;
    }
    return counted(true, false);  // the next pass finds the list gone and ends
  }
  bool changed = false, in_use = false;
  for (const std::wstring& key : files) {
    std::wstring path = value_of(list, kFiles, key);
    if (outside(path, folder) || through_link(path, folder) || delete_file(path) || qz::SamePath(path, own))
      changed |= list.write_string(kFiles, key.c_str(), nullptr);
    else
      in_use = true;
  }
  // Folders only once their recorded files are gone: those may be inside them.
  if (files_empty) {
    for (const std::wstring& key : keys_of(list, kFolders)) {
      if (remove_listed_folder(value_of(list, kFolders, key), folder))
        changed |= list.write_string(kFolders, key.c_str(), nullptr);
      else
        in_use = true;
    }
  }
  // A list that cannot be written back is as good as held: the next pass would
  // find the same entries.
  if (changed && qz::PathExists(list_path, qz::kPathFile) && !save_list(list, list_path)) return counted(false, true);
  return counted(changed, in_use);
}

bool DeleteAction::counted(bool shortened, bool in_use) {
  wait_ = cleanup_rules::must_wait(shortened, in_use);
  passes_ = cleanup_rules::waited_passes(passes_, shortened, in_use);
  if (wait_) QZ_LOG(L"Clean-up pass: something is still in use; the next pass follows in %u ms", interval_);
  return false;
}

void DeleteAction::finish(bool launcher_inside) {
  if (launcher_inside) prepare_self_removal(qzproc::own_file_name());
}

// One pass, and the trigger of the next: a posted message, or the timer after a
// pass that found something in use.
void DeleteAction::step(HWND window) {
  if (in_pass) return;  // the running pass schedules the next one
  KillTimer(window, kTimerId);
  in_pass = true;
  bool done = pass();
  in_pass = false;
  if (done)
    DestroyWindow(window);
  else if (wait_ || !PostMessageW(window, kPassNow, 0, 0))
    SetTimer(window, kTimerId, interval_, nullptr);
}

LRESULT CALLBACK DeleteAction::window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* action = reinterpret_cast<DeleteAction*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_CREATE: {
      action = static_cast<DeleteAction*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(action));
      if (!PostMessageW(window, kPassNow, 0, 0)) SetTimer(window, kTimerId, action->interval_, nullptr);
      return 0;
    }
    case WM_TIMER:
      if (wparam == kTimerId && action) action->step(window);
      return 0;
    case kPassNow:
      if (action) action->step(window);
      return 0;
    case WM_DESTROY:
      KillTimer(window, kTimerId);
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

bool DeleteAction::run(HINSTANCE module) {
  module_ = module;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = &DeleteAction::window_proc;
  wc.hInstance = module;
  wc.hIcon = LoadIconW(module, kWindowClass);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  wc.lpszClassName = kWindowClass;
  bool registered = RegisterClassExW(&wc) != 0;
  HWND window = nullptr;
  if (registered || GetLastError() == ERROR_CLASS_ALREADY_EXISTS)
    window = CreateWindowExW(0, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, module, this);
  if (!window) {
    // Without a desktop there is no window, but the files must still go.
    QZ_LOG(L"The clean-up window could not be made (%u)", GetLastError());
    if (registered) UnregisterClassW(kWindowClass, module);
    while (!pass())
      if (wait_) Sleep(interval_);
    return false;
  }
  // A quit message left over from earlier must not end the clean-up: it is taken
  // and passed on once the window is gone.
  bool foreign_quit = false;
  WPARAM foreign_code = 0;
  MSG msg;
  for (;;) {
    BOOL r = GetMessageW(&msg, nullptr, 0, 0);
    if (r == -1) break;
    if (r == 0) {
      if (!IsWindow(window)) break;
      foreign_quit = true;
      foreign_code = msg.wParam;
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (IsWindow(window)) DestroyWindow(window);
  if (registered) UnregisterClassW(kWindowClass, module);
  if (foreign_quit) PostQuitMessage(static_cast<int>(foreign_code));
  return true;
}

namespace {

void run_deletion_list() {
  DeleteAction action;
  unsigned pass_ms = 0;
  if (test_hooks::delete_pass_ms(&pass_ms)) action.set_pass_interval(std::min<UINT>(pass_ms, DeleteAction::kPassInterval));
  QZ_LOG(L"Processing the deletion list of %s", qzproc::temp_folder().c_str());
  action.run(qzproc::module());
}

}  // namespace

void process_deletion_list() {
  qz::LastErrorKeeper keep;
  qzproc::release_file_holds();  // checked files are held until now
  const std::wstring current = qzproc::temp_folder();
  if (!current.empty()) run_deletion_list();
  std::vector<std::wstring> left;
  left.swap(left_folders());
  for (const std::wstring& folder : left) {
    if (qz::SamePath(folder, zpath(current).remove_backslash())) continue;
    QZ_LOG(L"The run moved on from %s; its deletion list is processed too", folder.c_str());
    if (qzproc::set_temp_folder(folder)) run_deletion_list();
  }
  if (!left.empty()) qzproc::set_temp_folder(current);
}

void start_pending_self_removal() {
  std::wstring line;
  line.swap(pending_self_removal());
  if (line.empty()) return;
  // The interpreter removes nothing of a folder whose program still runs: it starts
  // as the launcher's very last step, so the launcher has ended before it looks.
  std::vector<wchar_t> text(line.begin(), line.end());
  text.push_back(0);
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION pi{};
  if (CreateProcessW(nullptr, text.data(), nullptr, nullptr, FALSE, IDLE_PRIORITY_CLASS | CREATE_NO_WINDOW, nullptr,
                     nullptr, &si, &pi)) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    QZ_LOG(L"Started the removal of %s", zpath(qzproc::own_file_name()).folder().c_str());
  } else {
    QZ_LOG(L"Could not start %s (%u)", line.c_str(), GetLastError());
  }
}
