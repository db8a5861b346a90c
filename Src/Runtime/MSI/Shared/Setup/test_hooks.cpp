// The test-only values from the environment, for the test launchers and the unit
// tests only (the build keeps this file out of the launcher library).
#include "test_hooks.h"

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "support/number_text.h"
#include "support/utils.h"

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

void pause_point(const wchar_t* point) {
  wchar_t path[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"QZ_TEST_PAUSE_FILE", path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  HANDLE f = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;  // another launcher of the test pauses there now
  DWORD written = 0;
  WriteFile(f, point, static_cast<DWORD>(wcslen(point) * sizeof(wchar_t)), &written, nullptr);
  CloseHandle(f);
  const ULONGLONG until = GetTickCount64() + 120000;
  while (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES && GetTickCount64() < until) Sleep(20);
}

bool limited_user() {
  int v = 0;
  if (!read(L"QZ_TEST_LIMITED_USER", 16, &v)) return false;
  const std::wstring line = GetCommandLineW();
  return line.find(L"/runprerequisites") == std::wstring::npos;
}

void install_restart_stand_in() {
  if (!GetEnvironmentVariableW(L"QZ_TEST_RESTART_FILE", nullptr, 0)) return;
  qz::set_reboot_hook([] {
    wchar_t path[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"QZ_TEST_RESTART_FILE", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    HANDLE f = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    WriteFile(f, "restart\n", 8, &written, nullptr);
    CloseHandle(f);
    return true;
  });
}

}  // namespace test_hooks
