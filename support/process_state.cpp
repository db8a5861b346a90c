#include "support/process_state.h"

#include <atomic>
#include <utility>
#include <vector>

#include "support/debuglog.h"
#include "support/hold.h"
#include "support/support_rules.h"
#include "support/utils.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\process_state";

namespace {
int g_exit_code = 0;
// Read by worker threads (a download) while the window thread sets it.
std::atomic<bool> g_cancelled{false};
HINSTANCE g_module = nullptr;
std::wstring g_temp_folder;
qz::file_handle g_own_image;

std::vector<std::pair<std::wstring, qz::file_handle>>& held_folders() {
  static std::vector<std::pair<std::wstring, qz::file_handle>> folders;
  return folders;
}

std::vector<qz::file_handle>& held_files() {
  static std::vector<qz::file_handle> files;
  return files;
}

std::wstring without_backslash(const std::wstring& folder) {
  std::wstring f = folder;
  while (f.size() > 3 && (f.back() == L'\\' || f.back() == L'/')) f.pop_back();
  return f;
}
}  // namespace

namespace qzproc {
int exit_code() { return g_exit_code; }
void set_exit_code(int code) { g_exit_code = code; }
bool cancelled() { return g_cancelled.load(); }
void set_cancelled(bool on) { g_cancelled.store(on); }
HINSTANCE module() { return g_module; }
void set_module(HINSTANCE module) { g_module = module; }
const std::wstring& temp_folder() { return g_temp_folder; }
bool set_temp_folder(const std::wstring& folder) {
  if (!qz::rules::fits_temp_folder(folder)) {
    // Cutting would name another folder.
    QZ_LOG(L"Temporary folder name longer than %d characters ignored", int(qz::rules::kTempFolderCapacity - 1));
    return false;
  }
  g_temp_folder = folder;
  return true;
}

std::wstring own_file_name() {
  DWORD saved = GetLastError();
  wchar_t buf[1024];
  DWORD n = GetModuleFileNameW(g_module, buf, 1024);
  SetLastError(saved);
  return std::wstring(buf, n < 1024 ? n : 0);
}

bool hold_own_image() {
  if (!g_own_image) g_own_image = qz::hold_file(own_file_name());
  return static_cast<bool>(g_own_image);
}

HANDLE own_image() { return g_own_image.get(); }

void release_own_image() { g_own_image.reset(); }

bool hold_folder(const std::wstring& folder) {
  const std::wstring f = without_backslash(folder);
  if (f.empty()) return false;
  if (folder_hold(f)) return true;
  qz::file_handle h = qz::hold_folder(f);
  if (!h) return false;
  held_folders().emplace_back(f, std::move(h));
  return true;
}

void adopt_folder_hold(const std::wstring& folder, qz::file_handle hold) {
  const std::wstring f = without_backslash(folder);
  if (f.empty() || !hold) return;
  release_folder(f);
  held_folders().emplace_back(f, std::move(hold));
}

qz::file_handle take_folder_hold(const std::wstring& folder) {
  const std::wstring f = without_backslash(folder);
  auto& held = held_folders();
  for (auto it = held.begin(); it != held.end(); ++it) {
    if (qz::SamePath(it->first, f)) {
      qz::file_handle h = std::move(it->second);
      held.erase(it);
      return h;
    }
  }
  return qz::file_handle();
}

HANDLE folder_hold(const std::wstring& folder) {
  const std::wstring f = without_backslash(folder);
  for (const auto& [path, handle] : held_folders())
    if (qz::SamePath(path, f)) return handle.get();
  return nullptr;
}

void release_folder(const std::wstring& folder) { take_folder_hold(folder); }

void keep_file_hold(qz::file_handle hold) {
  if (hold) held_files().push_back(std::move(hold));
}

void release_file_holds() { held_files().clear(); }
}  // namespace qzproc
