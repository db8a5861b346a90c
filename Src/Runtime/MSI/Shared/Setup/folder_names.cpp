// portable
#include "folder_names.h"

#include "package/vector_map_i.h"

namespace folder_names {

namespace {

bool iends_with(std::wstring_view s, std::wstring_view suffix) {
  return s.size() >= suffix.size() && qz::iequal(s.substr(s.size() - suffix.size()), suffix);
}

}  // namespace

bool is_reserved_member_name(std::wstring_view member, std::wstring_view launcher_copy) {
  using qz::iequal;
  using qz::istarts_with;
  if (istarts_with(member, L"_qz") || iequal(member, kWriteProbe)) return true;
  if ((istarts_with(member, L"~") || istarts_with(member, L"QZ_")) && iends_with(member, L".tmp")) return true;
  if (launcher_copy.empty()) return false;
  if (iequal(member, launcher_copy)) return true;
  return member.size() == launcher_copy.size() + 6 && istarts_with(member, launcher_copy) && iends_with(member, L".local");
}

}  // namespace folder_names
