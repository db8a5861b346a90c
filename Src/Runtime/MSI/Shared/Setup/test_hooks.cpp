// The test-only values from the environment, for the test launchers and the unit
// tests only (the build keeps this file out of the launcher library).
#include "test_hooks.h"

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "support/number_text.h"

namespace test_hooks {
namespace {

// The decimal value of a set, non-empty variable that fits `capacity` characters.
bool read(const wchar_t* name, DWORD capacity, int* value) {
  std::vector<wchar_t> buffer(capacity, L'\0');
  DWORD n = GetEnvironmentVariableW(name, buffer.data(), capacity);
  if (n == 0 || n >= capacity) return false;
  *value = qz::read_integer(buffer.data());
  return true;
}

}  // namespace

bool msi_action_sleep_ms(unsigned* ms) {
  int v = 0;
  if (!read(L"QZ_TEST_MSIACTION_SLEEP_MS", 64, &v)) return false;
  *ms = static_cast<unsigned>(v);
  return true;
}

bool msi_action_result(int* code) { return read(L"QZ_TEST_MSIACTION_RESULT", 64, code); }

bool delete_pass_ms(unsigned* ms) {
  int v = 0;
  if (!read(L"QZ_TEST_DELETE_PASS_MS", 16, &v)) return false;
  *ms = static_cast<unsigned>(v);
  return true;
}

bool limited_user() {
  int v = 0;
  if (!read(L"QZ_TEST_LIMITED_USER", 16, &v)) return false;
  const std::wstring line = GetCommandLineW();
  return line.find(L"/runprerequisites") == std::wstring::npos;
}

}  // namespace test_hooks
