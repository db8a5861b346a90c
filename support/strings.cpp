// String-table blocks of a module's resources.
#include "support/support_rules.h"
#include "support/utils.h"

namespace qz {

bool FindStringBlock(UINT id, LANGID language, HMODULE module, std::wstring* text) {
  if (id > 0xFFFF) {  // string ids are 16-bit; a larger one would alias another block
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const WORD block = static_cast<WORD>(id / 16 + 1);
  for (uint16_t lang : rules::string_block_languages(language)) {
    HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(block), lang);
    if (!found) continue;
    HGLOBAL loaded = LoadResource(module, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    DWORD size = SizeofResource(module, found);
    std::u16string entry;
    if (!data || !rules::string_block_entry(static_cast<const unsigned char*>(data), size, id % 16, &entry) ||
        entry.empty())
      continue;
    if (text) text->assign(entry.begin(), entry.end());
    return true;
  }
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return false;
}

}  // namespace qz
