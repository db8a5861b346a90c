// portable
// The names the launcher gives the files it keeps in its own temporary folder.
// Members are extracted into the same folder, so the packing tool refuses a member
// that would meet one of them there.
#pragma once
#include <string_view>

namespace folder_names {

inline constexpr wchar_t kDeletionList[] = L"_QZMSIDEL.INI";
inline constexpr wchar_t kWriteProbe[] = L"_MSI5166._QZ";

// True when extracting a member of this name into the launcher's folder could
// overwrite, or be taken for, a file of the launcher's own: anything beginning
// with "_qz" (the deletion list, the next list while it is written, the system's
// temporary names), the write probe, its settings and engine files ("~*.tmp",
// "QZ_*.tmp"), the launcher's copy `launcher_copy` and its redirection name
// `launcher_copy` + ".local". Letters are compared ignoring case.
bool is_reserved_member_name(std::wstring_view member, std::wstring_view launcher_copy);

}  // namespace folder_names
