#include "package/load_string.h"

#include "package/LaunchSettings.h"
#include "package/languages.h"
#include "support/process_state.h"

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
