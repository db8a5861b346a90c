#include "package/load_string.h"

#include <map>
#include <memory>

#include "package/LaunchSettings.h"
#include "package/file_stamp.h"
#include "package/inifilex.h"
#include "package/language_rules.h"
#include "package/string_table.h"
#include "support/process_state.h"
#include "support/support_rules.h"
#include "support/zstring.h"

namespace {

std::shared_ptr<qz::inifilex> string_table(const std::wstring& path) {
  static std::map<std::wstring, qz::StampedDocument<qz::inifilex>> cache;
  qz::FileStamp stamp;
  DWORD keep = GetLastError();
  if (!qz::stamp_of(path, &stamp)) {
    cache.erase(path);
    SetLastError(keep);
    return nullptr;
  }
  auto it = cache.find(path);
  if (it != cache.end() && it->second.stamp == stamp) return it->second.doc;
  auto doc = std::make_shared<qz::inifilex>();
  bool loaded = false;
  try {
    loaded = doc->load(path, L"=", false);
  } catch (...) {
    loaded = false;
  }
  if (!lang::string_table_usable(loaded, *doc)) {
    cache.erase(path);
    SetLastError(keep);
    return nullptr;
  }
  cache[path] = {stamp, doc};
  SetLastError(keep);
  return doc;
}

}  // namespace

std::wstring string_table_path(const LaunchSettings& settings, uint16_t language) {
  std::wstring folder = settings.setup_ini_path.empty() ? std::wstring() : zpath(settings.setup_ini_path).folder();
  // No folder yet: no table. The bare name would be looked up in the current
  // folder, where anyone's file may lie.
  if (folder.empty()) return std::wstring();
  return zpath(folder).join(lang::string_table_file_name(language));
}

std::wstring string_table_text(const LaunchSettings& settings, uint16_t language, const std::wstring& section,
                               const std::wstring& key) {
  auto doc = string_table(string_table_path(settings, language));
  return doc ? lang::string_table_lookup(*doc, section, key) : std::wstring();
}

std::wstring resource_string(HMODULE module, unsigned id, uint16_t language) {
  if (id > 0xFFFF) return std::wstring();
  const WORD block = static_cast<WORD>(id / 16 + 1);
  DWORD keep = GetLastError();
  std::wstring text;
  for (uint16_t lang : lang::string_resource_languages(language)) {
    HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(block), lang);
    if (!found) continue;
    HGLOBAL loaded = LoadResource(module, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    std::u16string entry;
    if (!data || !qz::rules::string_block_entry(static_cast<const unsigned char*>(data), SizeofResource(module, found),
                                                id % 16, &entry) ||
        entry.empty())
      continue;
    text.assign(entry.begin(), entry.end());
    break;
  }
  SetLastError(keep);
  return text;
}

lang::DialogFontSpec dialog_font(const LaunchSettings& settings, uint16_t language) {
  auto doc = string_table(string_table_path(settings, language));
  return doc ? lang::string_table_font(*doc) : lang::DialogFontSpec();
}

std::wstring load_string(const LaunchSettings& settings, unsigned id) {
  const uint16_t language = settings.ui_language;
  if (language != 0) {
    std::wstring text = string_table_text(settings, language, lang::language_key(language), std::to_wstring(id));
    if (!text.empty()) return text;
  }
  HMODULE module = qzproc::module() ? qzproc::module() : GetModuleHandleW(nullptr);
  // Before a language is chosen the resources' own language answers.
  return resource_string(module, id, language ? language : 0x0409);
}

std::wstring load_string(unsigned id) {
  static const LaunchSettings defaults;
  const LaunchSettings* s = qzproc::settings();
  return load_string(s ? *s : defaults, id);
}
