// The text rules of the command line: numbers, language ids, instance=, quoting of
// recorded switches, relaunch switch texts, stripping and password masking. Line 1
// is the text, line 2 a switch (or the launcher path), line 3 a password.
#include "fuzz_input.h"
#include "secret_mask.h"
#include "switch_rules.h"

using namespace switch_rules;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::wstring> lines = fuzz_lines(data, size);
  lines.resize(std::max<size_t>(lines.size(), 3));
  const std::wstring& text = lines[0];
  const std::wstring& sw = lines[1];
  const bool force = size && (data[0] & 1);

  (void)parse_language_id(text);
  (void)parse_int_text(text);
  (void)parse_decimal_text(text);
  int instance = parse_instance_choice(text);
  FUZZ_CHECK(instance >= 0 || instance == kInstanceDefault || instance == kInstanceInvalid);
  (void)setting_is_true(text);
  (void)is_absolute_folder(text);

  std::wstring quoted = quote_value(text);
  FUZZ_CHECK(quoted.size() >= 2 && quoted.front() == L'"' && quoted.back() == L'"');
  std::wstring relaunch = relaunch_switch_text(sw, text, force);
  FUZZ_CHECK(relaunch.compare(0, 1 + sw.size(), L" " + sw) == 0);
  std::wstring engine = engine_switch_text(sw, text, force);
  FUZZ_CHECK(engine.compare(0, 1 + sw.size(), L" " + sw) == 0);
  bool asked = false;
  (void)switch_goes_to_engine(sw, [&] { asked = true; return force; });
  (void)switch_goes_to_engine(sw, nullptr);

  // The launcher path is the launcher's own, never empty in practice; a one-letter
  // path would make the replacement grow with the square of the text.
  if (sw.size() >= 3) (void)strip_relaunch_switches(text, sw);
  (void)strip_relaunch_switches(text, std::wstring());

  RelaunchSwitches r;
  r.remove_as_major_upgrade = force;
  r.launcher_path = sw;
  r.unc_path = lines[2];
  r.language = parse_language_id(sw);
  r.password = lines[2];
  std::wstring tail = relaunch_switches_text(r);

  const secret_mask::Names known{true, {sw}};
  std::wstring masked = secret_mask::mask(text, known);
  (void)secret_mask::mask(tail, secret_mask::Names());
  // Masking only replaces values: a text without switches and without "=" stays
  // as it is.
  if (text.find_first_of(L"/-=") == std::wstring::npos) FUZZ_CHECK(masked == text);
  return 0;
}
