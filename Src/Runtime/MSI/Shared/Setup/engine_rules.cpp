// portable
#include "engine_rules.h"

namespace engine_rules {

namespace {
constexpr size_t kSetupNameCapacity = 1024;

bool hex_digit(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }
}  // namespace

Effect result_effect(int result) {
  switch (result) {
    case 0:
    case 1641:
    case 3010:
    case -3:
      return {};
    case 7001:
      return {false, 7001};
    case -8:
      return {true, 0};
    case -7:
      return {false, 1644};
    case -4:
      return {false, 1629};
    default:
      return {false, 1628};
  }
}

int engine_language(int ui_language, size_t supported_languages) {
  return supported_languages < 2 ? 0 : ui_language;
}

std::wstring setup_name(bool engine_in_stream, std::wstring_view launcher_path) {
  if (engine_in_stream) return L"setup.exe";
  return std::wstring(launcher_path.substr(0, kSetupNameCapacity));
}

bool remove_only(std::wstring_view forwarded_command_line) {
  return forwarded_command_line.find(L"/removeonly") != std::wstring_view::npos;
}

bool is_engine_row(std::wstring_view name, bool* is64) {
  constexpr std::wstring_view k32 = L"QZSetup.dll", k64 = L"QZSetup64.dll";
  bool b64 = name.substr(0, k64.size()) == k64;
  bool b32 = name.substr(0, k32.size()) == k32;
  if (is64) *is64 = b64;
  return b32 || b64;
}

bool is_braced_guid(std::wstring_view t) {
  if (t.size() != 38 || t.front() != L'{' || t.back() != L'}') return false;
  for (size_t i = 1; i < 37; ++i) {
    bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? t[i] != L'-' : !hex_digit(t[i])) return false;
  }
  return true;
}

bool resource_folder_name(std::wstring_view guid, bool is64, std::wstring* name) {
  if (!is_braced_guid(guid)) return false;
  *name = is64 ? L"{" + std::wstring(guid.substr(guid.size() - 9)) : std::wstring(guid.substr(0, 9)) + L"}";
  return true;
}

Target setup_target(int source, const std::wstring& package_path, const std::wstring& product_code) {
  if (source != 0) return {package_path, 0};
  return {product_code, 1};
}

}  // namespace engine_rules
