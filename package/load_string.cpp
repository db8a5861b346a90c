#include "package/load_string.h"

#include <windows.h>

#include "LaunchSettings.h"
#include "process_state.h"
#include "support/utils.h"

// Resource fallback only; the string-table files of the languages come with the
// language support.
std::wstring load_string(const LaunchSettings& settings, unsigned id) {
  std::wstring text;
  LANGID lang = settings.ui_language ? settings.ui_language : 0x0409;
  HMODULE module = qzproc::module() ? qzproc::module() : GetModuleHandleW(nullptr);
  if (qz::FindStringBlock(id, lang, module, &text)) return text;
  return std::wstring();
}

std::wstring load_string(unsigned id) {
  static const LaunchSettings defaults;
  const LaunchSettings* s = qzproc::settings();
  return load_string(s ? *s : defaults, id);
}
