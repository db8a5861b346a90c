// portable
#include "prereq_conditions.h"

#include "prereq_rules.h"

namespace prq {
namespace {

const wchar_t kLogSource[] = L"Src\\Runtime\\Shared\\Setup\\SetupPreRequisite";
const wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const wchar_t kEnvironment[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr RootKey kLocalMachine = 2;

// A folder read from the system, with a backslash appended unless it is empty.
std::wstring with_backslash(std::wstring folder) {
  if (!folder.empty()) folder.push_back(L'\\');
  return folder;
}

uint32_t little_endian_dword(const std::vector<uint8_t>& d) {
  return static_cast<uint32_t>(d[0]) | static_cast<uint32_t>(d[1]) << 8 | static_cast<uint32_t>(d[2]) << 16 |
         static_cast<uint32_t>(d[3]) << 24;
}

}  // namespace

bool PrqConditions::evaluate(const Condition& c, const std::wstring& helper, bool bundle) {
  switch (c.type) {
    case kTypeRegistryKey:
    case kTypeRegistryValue:
    case kTypeRegistryVersion:
      return registry(c);
    case kTypeFileExists:
    case kTypeFileDate:
    case kTypeFileVersion:
      return file(c);
    case kTypeAppPackage:
      return app_package(c, helper, bundle);
    default:
      return true;
  }
}

bool PrqConditions::registry(const Condition& c) {
  RegistryPath where = split_registry_path(c.path);
  if (!where.valid) return false;
  RegView view = condition_view(c.bits, arch_);
  if (c.type == kTypeRegistryKey) {
    if (!system_.key_exists(where.root, where.key, view)) return registry_key_missing(c.type, c.comparison);
    return registry_key_present(c.comparison);
  }
  RegValue value = system_.query_value(where.root, where.key, c.file_name, view);
  if (!value.key_opened) return registry_key_missing(c.type, c.comparison);
  if (!value.found) return registry_value_missing(c.comparison);
  if (is_dword(value)) return registry_dword_test(little_endian_dword(value.data), c.return_value, c.comparison);
  return registry_text_test(c.type, registry_text(value), c.return_value, c.comparison);
}

bool PrqConditions::file(const Condition& c) {
  RedirectionGuard guard(system_);
  std::wstring path = expand_path(condition_path(c.path, c.file_name), guard);
  std::wstring found;
  FileFacts facts;
  if (!find_file(path, found, facts)) return file_missing(c.comparison);
  switch (c.type) {
    case kTypeFileExists:
      return file_exists_test(c.comparison);
    case kTypeFileDate:
      return file_date_test(facts.local_write_time, c.return_value, c.comparison);
    default:
      return file_version_test(version_of(found, facts), c.return_value, c.comparison);
  }
}

bool PrqConditions::find_file(const std::wstring& path, std::wstring& found, FileFacts& facts) {
  std::vector<std::wstring> candidates;
  if (path.find(L'\\') != std::wstring::npos) {
    candidates.push_back(path);
  } else {
    candidates.push_back(join_folder(system_.folder(Folder::kCurrent), path));
    // The machine's own PATH, not this process's environment, which the user controls.
    std::wstring machine_path =
        registry_text(system_.query_value(kLocalMachine, kEnvironment, L"Path", RegView::kDefault));
    for (const std::wstring& entry : path_entries(machine_path)) {
      std::wstring folder = system_.expand_environment(entry);
      if (!folder.empty()) candidates.push_back(join_folder(folder, path));
    }
  }
  for (const std::wstring& candidate : candidates) {
    facts = system_.file(candidate);
    if (facts.is_file) {
      found = candidate;
      return true;
    }
  }
  return false;
}

PackedVersion PrqConditions::version_of(const std::wstring& path, const FileFacts& facts) {
  if (facts.size < kModuleCopyLimit && system_.module_loaded(path)) {
    std::wstring copy = system_.copy_to_temporary(path);
    if (!copy.empty()) {
      PackedVersion v = system_.file_version(copy);
      system_.delete_file(copy);
      return v;
    }
  }
  return system_.file_version(path);
}

bool PrqConditions::app_package(const Condition& c, const std::wstring& helper, bool bundle) {
  system_.log(kLogSource, __LINE__, L"EvaluateConditionAppPackageCondtion");
  uint32_t os = os_number(os_);
  if (os < kAppPackageMinimumOs) {
    system_.log(kLogSource, __LINE__,
                L"App package installation is not supported on this platform (" + std::to_wstring(os) + L")");
    return false;
  }
  ProcessRun run = system_.run_hidden(helper, app_package_query(c.file_name, c.path, c.return_value, c.bits, bundle));
  if (!run.launched) {
    system_.log(kLogSource, __LINE__,
                L"Could not launch prerequisite, last error: " + std::to_wstring(run.last_error) +
                    L", ShellExecute: " + std::to_wstring(run.instance));
    return false;
  }
  if (!run.has_process) {
    system_.log(kLogSource, __LINE__, L"AppxHelper - No process created by successful prerequisite launch");
    return false;
  }
  system_.log(kLogSource, __LINE__,
              L"AppxHelper process exited with return code " + std::to_wstring(static_cast<int>(run.exit_code)));
  return run.exit_code == kAppPackageMissing;
}

std::wstring PrqConditions::registry_string(RootKey root, const std::wstring& key, const std::wstring& name,
                                            RegView view) {
  return registry_text(system_.query_value(root, key, name, view));
}

std::wstring PrqConditions::expand_path(const std::wstring& path, RedirectionGuard& guard) {
  LeadingToken t = leading_token(path);
  if (!t.present) return path;
  std::wstring folder;
  if (t.token == L"[CommonFilesFolder]") {
    folder = with_backslash(registry_string(kLocalMachine, kCurrentVersion, L"CommonFilesDir", RegView::kDefault));
  } else if (t.token == L"[CommonFiles64Folder]") {
    folder = with_backslash(registry_string(kLocalMachine, kCurrentVersion, L"CommonFilesDir", RegView::k64));
    guard.switch_off();
  } else if (t.token == L"[ProgramFilesFolder]") {
    folder = with_backslash(registry_string(kLocalMachine, kCurrentVersion, L"ProgramFilesDir", RegView::kDefault));
  } else if (t.token == L"[ProgramFiles64Folder]") {
    folder = with_backslash(registry_string(kLocalMachine, kCurrentVersion, L"ProgramFilesDir", RegView::k64));
    guard.switch_off();
  } else if (t.token == L"[WindowsFolder]") {
    folder = system_.folder(Folder::kWindows);
  } else if (t.token == L"[SystemFolder]") {
    folder = system_.folder(Folder::kSystem);
  } else if (t.token == L"[System64Folder]") {
    folder = system_.folder(Folder::kSystem);
    guard.switch_off();
  } else if (t.token == L"[LocalAppDataFolder]") {
    folder = with_backslash(system_.folder(Folder::kLocalAppData));
  } else {
    RegistryReference ref = registry_reference(t.token);
    if (!ref.valid) return path;
    folder = registry_string(ref.root, ref.key, ref.value, RegView::kDefault);
  }
  return join_folder(folder, t.rest);
}

}  // namespace prq
