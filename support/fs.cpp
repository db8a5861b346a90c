// Path tests, folder creation and removal, file deletion.
#include <vector>

#include "support/handles.h"
#include "support/kfile.h"
#include "support/support_rules.h"
#include "support/utils.h"
#include "support/zstring.h"

namespace qz {
namespace {

bool is_dot_entry(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

bool is_missing_error(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

bool kind_matches(DWORD attributes, unsigned flags) {
  bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return folder ? (flags & kPathFolder) != 0 : (flags & kPathFile) != 0;
}

[[noreturn]] void throw_file_error(DWORD error, const std::wstring& path) {
  record_failure(error, path);
  throw file_exception(error, path);
}

// Searches `pattern`; true when an entry of the wanted kind is found. Sets *error
// to the search failure (0 when the search ran to its end).
bool search_kind(const std::wstring& pattern, unsigned flags, bool skip_dots, DWORD* error) {
  WIN32_FIND_DATAW data;
  find_handle find(kfile::find_first_file(pattern.c_str(), &data));
  if (!find) {
    *error = GetLastError();
    return false;
  }
  *error = 0;
  do {
    if (skip_dots && is_dot_entry(data.cFileName)) continue;
    if (kind_matches(data.dwFileAttributes, flags)) return true;
  } while (kfile::find_next_file(find.get(), &data));
  DWORD last = GetLastError();
  if (last != ERROR_NO_MORE_FILES) *error = last;
  return false;
}

// Inside a tree the first failure is the useful one: it names what blocked the removal.
void note_failure(DWORD error, const std::wstring& path) {
  if (last_failure().error == 0) record_failure(error, path);
}

// A folder that may hold a link: attributes of the entry itself.
DWORD own_attributes(const std::wstring& path) { return kfile::get_file_attributes(path.c_str()); }

bool remove_tree(const std::wstring& folder);

// Removes a link (junction or symbolic link) found inside a tree, never its target.
bool remove_link(const std::wstring& path, DWORD attributes) {
  bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  auto remove = [&] {
    return folder ? kfile::remove_directory(path.c_str()) != FALSE : kfile::delete_file(path.c_str()) != FALSE;
  };
  if (remove()) return true;
  if (!(attributes & FILE_ATTRIBUTE_READONLY)) return false;
  // The link itself is read-only: clear that and try once more.
  kfile::set_file_attributes(path.c_str(), folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL);
  return remove();
}

bool remove_tree(const std::wstring& folder) {
  std::vector<std::wstring> folders, files, links;
  std::vector<DWORD> link_attributes;
  {
    WIN32_FIND_DATAW data;
    find_handle find(kfile::find_first_file(zpath(folder).join(L"*.*").c_str(), &data));
    if (find) {
      do {
        if (is_dot_entry(data.cFileName)) continue;
        std::wstring path = zpath(folder).join(data.cFileName);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
          links.push_back(path);
          link_attributes.push_back(data.dwFileAttributes);
        } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          folders.push_back(path);
        } else {
          files.push_back(path);
        }
      } while (kfile::find_next_file(find.get(), &data));
    }
  }
  for (const std::wstring& sub : folders) {
    // Look again right before descending: a folder replaced by a link since the
    // listing is removed as a link.
    DWORD attributes = own_attributes(sub);
    if (attributes == INVALID_FILE_ATTRIBUTES) continue;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      if (!remove_link(sub, attributes)) note_failure(GetLastError(), sub);
    } else {
      remove_tree(sub);
    }
  }
  for (size_t i = 0; i < links.size(); ++i)
    if (!remove_link(links[i], link_attributes[i])) note_failure(GetLastError(), links[i]);
  for (const std::wstring& file : files) {
    kfile::set_file_attributes(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!kfile::delete_file(file.c_str())) note_failure(GetLastError(), file);
  }
  DWORD attributes = own_attributes(folder);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    kfile::set_file_attributes(folder.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (!kfile::remove_directory(folder.c_str())) {
    note_failure(GetLastError(), folder);
    return false;
  }
  return true;
}

}  // namespace

bool PathExists(const std::wstring& path, unsigned flags) {
  const bool raise = (flags & kPathThrow) != 0;
  if (raise) clear_last_failure();
  if (!(flags & kPathAny)) flags |= kPathAny;
  if (flags & kPathWildcards) {
    DWORD error = 0;
    if (search_kind(path, flags, true, &error)) return true;
    if (raise && error && !is_missing_error(error) && error != ERROR_NO_MORE_FILES) throw_file_error(error, path);
    return false;
  }
  DWORD attributes = kfile::get_file_attributes(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return kind_matches(attributes, flags);
  DWORD error = GetLastError();
  if (is_missing_error(error)) return false;
  if (error == ERROR_ACCESS_DENIED) {
    // The attributes are hidden from us but the parent may still list the entry.
    zpath entry(path);
    entry.remove_backslash();
    DWORD search_error = 0;
    if (search_kind(entry, flags, false, &search_error)) return true;
    if (!search_error) return false;  // found, but of the other kind
    error = search_error;
    if (is_missing_error(error)) return false;
  }
  if (raise) throw_file_error(error, path);
  return false;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

bool CreateFolderTree(const std::wstring& path) {
  clear_last_failure();
  if (path.empty()) {
    record_failure(ERROR_INVALID_NAME, path);
    return false;
  }
  for (const std::wstring& prefix : rules::folder_prefixes(path)) {
    if (kfile::create_directory(prefix.c_str(), nullptr)) continue;
    DWORD error = GetLastError();
    // An existing folder is fine, whatever the error for it (a protected existing
    // folder may answer "access denied"); an existing file of that name is not.
    DWORD attributes = kfile::get_file_attributes(prefix.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    if (attributes != INVALID_FILE_ATTRIBUTES) error = ERROR_ALREADY_EXISTS;
    record_failure(error, prefix);
    SetLastError(error);
    return false;
  }
  return true;
}

bool CreateParentFolder(const std::wstring& file_path) {
  zpath folder = zpath(file_path).folder();
  if (folder.empty()) {
    clear_last_failure();
    return true;  // a bare name lives in the current folder
  }
  return CreateFolderTree(folder);
}

bool DeleteFileChecked(const std::wstring& path, bool respect_read_only) {
  clear_last_failure();
  DWORD attributes = kfile::get_file_attributes(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    record_failure(GetLastError(), path);
    return false;
  }
  if (respect_read_only && (attributes & FILE_ATTRIBUTE_READONLY)) {
    record_failure(ERROR_ACCESS_DENIED, path);
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  bool cleared = attributes != FILE_ATTRIBUTE_NORMAL && kfile::set_file_attributes(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (kfile::delete_file(path.c_str())) return true;
  DWORD error = GetLastError();
  // The file stays (in use, say): give it its attributes back.
  if (cleared) kfile::set_file_attributes(path.c_str(), attributes);
  record_failure(error, path);
  SetLastError(error);
  return false;
}

bool RemoveFolderTree(const std::wstring& folder) {
  clear_last_failure();
  if (rules::refuses_folder_removal(folder)) {
    record_failure(ERROR_ACCESS_DENIED, folder);
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  zpath target(folder);
  target.remove_backslash();
  DWORD attributes = own_attributes(target);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    if (is_missing_error(error)) return true;
    record_failure(error, folder);
    return false;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    record_failure(ERROR_DIRECTORY, folder);
    SetLastError(ERROR_DIRECTORY);
    return false;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    if (remove_link(target, attributes)) return true;
    record_failure(GetLastError(), folder);
    return false;
  }
  return remove_tree(target);
}

std::wstring FullPath(const std::wstring& path) {
  if (path.empty()) return path;
  std::vector<wchar_t> buffer(1024);
  DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  if (n == 0 || n >= buffer.size()) return path;
  return std::wstring(buffer.data(), n);
}

}  // namespace qz
