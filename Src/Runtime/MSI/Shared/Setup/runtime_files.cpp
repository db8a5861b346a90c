// The script engine's runtime files: every engine carried in the package's Binary
// table brings its resources in its own stream; they are unpacked into a folder
// that the installation is told about (QZ_RUNTIME_FILES_LOCATION).
#include <windows.h>

#include <vector>

#include "QzMsiHelper.h"
#include "cleanup.h"
#include "engine_rules.h"
#include "msi_library.h"
#include "msi_rules.h"
#include "package/IniProfile.h"
#include "package/stream.h"
#include "session.h"
#include "support/debuglog.h"
#include "support/handles.h"
#include "support/process_state.h"
#include "support/utils.h"
#include "support/zstring.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\msiaction";

namespace {

constexpr size_t kFolderCapacity = 260;
constexpr DWORD kPiece = 10240;

// A new folder of the run's own under the temporary folder; empty when none.
std::wstring new_runtime_folder(const std::wstring& temp) {
  std::wstring folder;
  if (qz::IsElevatedAdministrator()) {
    folder = qz::SecureTemporaryFolder(temp, false);
  } else {
    folder = zpath(temp).join(qz::GuidText());
    if (!CreateDirectoryW(folder.c_str(), nullptr)) folder.clear();
  }
  if (folder.empty()) return folder;
  if (folder.size() >= kFolderCapacity) {
    QZ_LOG(L"The runtime folder %s is too long for the engine", folder.c_str());
    RemoveDirectoryW(folder.c_str());
    return std::wstring();
  }
  record_created_folder(folder);
  record_folder(folder);
  return folder;
}

struct ResourceTarget {
  zpath folder;
};

void choose_resource_target(const StreamEntry& member, void* context, zpath& target) {
  auto* t = static_cast<ResourceTarget*>(context);
  target = t->folder.join(member.name);
  QZ_LOG(L"Extracting resource: %s", member.name.c_str());
  record_file(target);
}

// Unpacks the members of engine file E's stream into base\<resource folder>, the
// folder named by the TempPathGuid of the QzConfig.ini it carries.
bool extract_engine_resources(const std::wstring& engine, const std::wstring& base, bool is64) {
  const zpath scratch = zpath(base).join(qz::GuidText());
  if (!CreateDirectoryW(scratch.c_str(), nullptr)) {
    QZ_LOG(L"Could not make the folder %s (error %u)", scratch.c_str(), GetLastError());
    return false;
  }
  const zpath config = scratch.join(L"QzConfig.ini");
  STREAM stream{zpath(engine)};
  if (stream.is_valid()) stream.extract(L"QzConfig.ini", config, nullptr);
  bool ok = false;
  if (!qz::PathExists(config, qz::kPathFile)) {
    QZ_LOG(L"Could not extract qzconfig.ini from current qzsetup.dll");
  } else {
    qz::IniProfile profile(config);
    wchar_t guid[260] = {};
    if (!profile.load() || !profile.get_string(L"SetupDefaults", L"TempPathGuid", L"", guid, 260)) guid[0] = 0;
    std::wstring name;
    if (!guid[0]) {
      QZ_LOG(L"QZConfig.ini for current qzsetup.dll does not contain TempPathGuid.");
    } else if (!engine_rules::resource_folder_name(guid, is64, &name)) {
      QZ_LOG(L"QZConfig.ini for current qzsetup.dll has a TempPathGuid that is no GUID in braces: %s", guid);
    } else {
      ResourceTarget target{zpath(base).join(name)};
      if (!CreateDirectoryW(target.folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        QZ_LOG(L"Could not make the folder %s (error %u)", target.folder.c_str(), GetLastError());
      } else {
        QZ_LOG(L"Extracting resources for '%s' to '%s'", engine.c_str(), target.folder.c_str());
        ok = stream.extract_all(choose_resource_target, &target, nullptr);
      }
    }
  }
  DeleteFileW(config.c_str());
  RemoveDirectoryW(scratch.c_str());
  return ok;
}

// Writes the stream of field 2 of the row into `file`; false (nothing kept) when
// it could not be written whole. *skipped: the file was in use or locked.
bool write_row_stream(MSIHANDLE record, const std::wstring& file, bool* skipped) {
  *skipped = false;
  qz::file_handle out(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
  if (!out) {
    DWORD e = GetLastError();
    *skipped = e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION;
    if (!*skipped) QZ_LOG(L"Could not write %s (error %u)", file.c_str(), e);
    return false;
  }
  std::vector<char> buffer(kPiece);
  for (;;) {
    DWORD size = kPiece;
    UINT st = qzmsi::RecordReadStream(record, 2, buffer.data(), &size);
    if (st != ERROR_SUCCESS) {
      QZ_LOG(L"Failed to read the Binary stream, error: %d", static_cast<int>(st));
      return false;
    }
    if (size == 0) return true;
    DWORD put = 0;
    if (!WriteFile(out.get(), buffer.data(), size, &put, nullptr) || put != size) {
      QZ_LOG(L"Could not write %s (error %u)", file.c_str(), GetLastError());
      return false;
    }
  }
}

// Every engine row of the package's Binary table; true when one brought its
// resources.
bool extract_from_package(const std::wstring& package, const std::wstring& folder) {
  qzmsi::handle db;
  UINT st = qzmsi::OpenDatabase(package.c_str(), MSIDBOPEN_READONLY, db.receive());
  if (st != ERROR_SUCCESS) {
    QZ_LOG(L"Error opening MSI database: %d", static_cast<int>(st));
    return false;
  }
  qzmsi::handle view;
  st = qzmsi::DatabaseOpenView(db.get(), L"SELECT * FROM `Binary`", view.receive());
  if (st != ERROR_SUCCESS) {
    QZ_LOG(L"Failed to query Binary table, error: %d", static_cast<int>(st));
    return false;
  }
  st = qzmsi::ViewExecute(view.get(), 0);
  if (st != ERROR_SUCCESS) {
    QZ_LOG(L"Failed to execute query on Binary table, error: %d", static_cast<int>(st));
    return false;
  }
  bool any = false;
  for (;;) {
    qzmsi::handle record;
    if (qzmsi::ViewFetch(view.get(), record.receive()) != ERROR_SUCCESS) break;
    std::wstring name;
    if (qzmsi::read_string(260, &name, [&](wchar_t* b, DWORD* n) { return qzmsi::RecordGetString(record.get(), 1, b, n); }) !=
        ERROR_SUCCESS)
      continue;
    bool is64 = false;
    if (!engine_rules::is_engine_row(name, &is64)) continue;
    // The engine goes into the run's own folder, never under a name of the shared
    // temporary folder that another program could have prepared.
    std::wstring file = qz::CreateOwnTemporaryFile(folder, L"qzs");
    if (file.empty()) {
      QZ_LOG(L"No file for the engine row %s (error %u)", name.c_str(), GetLastError());
      continue;
    }
    bool skipped = false;
    if (write_row_stream(record.get(), file, &skipped) && extract_engine_resources(file, folder, is64)) any = true;
    DeleteFileW(file.c_str());
  }
  qzmsi::ViewClose(view.get());
  return any;
}

}  // namespace

bool QzMsiHelper::extract_runtime_files(Session& session, const std::wstring& package_path, std::wstring* folder) {
  folder->clear();
  if (!msi_rules::script_mode(session.script_driven()).uses_script) return true;
  const std::wstring& temp = qzproc::temp_folder();
  if (temp.empty()) {
    QZ_LOG(L"No temporary folder for the engine's runtime files");
    return false;
  }
  std::wstring made = new_runtime_folder(temp);
  if (made.empty()) {
    QZ_LOG(L"No folder for the engine's runtime files under %s (error %u)", temp.c_str(), GetLastError());
    return false;
  }
  bool ok = extract_from_package(package_path, made);
  // A folder that received nothing is not handed to the installation.
  if (!ok) {
    if (RemoveDirectoryW(made.c_str())) return false;
    QZ_LOG(L"The engine's runtime files are incomplete in %s; it is left for the clean-up", made.c_str());
    return false;
  }
  *folder = made;
  return true;
}
