// portable
#include "exit_code_rules.h"

#include "support/error_codes.h"
#include "switch_rules.h"

int map_custom_exit_code(int code, bool reboot_pending, const StartupReader& read) {
  if (!switch_rules::setting_is_true(read(L"CustomRetCode"))) return code;
  int script_driven = switch_rules::parse_decimal_text(read(L"ScriptDriven"));
  if (reboot_pending) return code;
  bool abort = script_driven == 1 ? code == -3 : (code == err::kCancelled || code == err::kUserDeclined);
  const wchar_t* key = abort ? L"CustomRetCodeOnAbort" : code != 0 ? L"CustomRetCodeOnFail" : L"CustomRetCodeOnSuccess";
  std::wstring value = read(key);
  if (value.empty()) return code;
  return switch_rules::parse_int_text(value);
}
