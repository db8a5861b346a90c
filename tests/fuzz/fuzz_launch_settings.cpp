// The `cmdline` text of setup.ini through LaunchSettings::apply_settings_switches.
#include "fuzz_input.h"
#include "package/LaunchSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::wstring text = fuzz_text(data, size);
  const size_t before = text.size();
  LaunchSettings settings;
  settings.apply_settings_switches(text);
  FUZZ_CHECK(text.size() <= before);
  for (wchar_t edge : {text.empty() ? L'x' : text.front(), text.empty() ? L'x' : text.back()})
    FUZZ_CHECK(edge != L' ' && edge != L'\t' && edge != L'\r' && edge != L'\n');
  // What remains goes through the same reader again when the settings are re-read.
  settings.apply_settings_switches(text);
  return 0;
}
