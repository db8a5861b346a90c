#include "prereq_msi.h"

#include <algorithm>
#include <vector>

#include "support/dynload.h"

namespace prq::msi {
namespace {

template <typename F>
F bind(const char* name) {
  return qz::bound<F>(qz::bind_system_export(L"msi.dll", name));
}

constexpr UINT kMissing = ERROR_PROC_NOT_FOUND;

}  // namespace

INSTALLUILEVEL SetInternalUI(INSTALLUILEVEL level, HWND* window) {
  static const auto f = bind<INSTALLUILEVEL(WINAPI*)(INSTALLUILEVEL, HWND*)>("MsiSetInternalUI");
  return f ? f(level, window) : INSTALLUILEVEL_NOCHANGE;
}

INSTALLUI_HANDLERW SetExternalUI(INSTALLUI_HANDLERW handler, DWORD filter, void* context) {
  static const auto f = bind<INSTALLUI_HANDLERW(WINAPI*)(INSTALLUI_HANDLERW, DWORD, LPVOID)>("MsiSetExternalUIW");
  return f ? f(handler, filter, context) : nullptr;
}

UINT EnableLog(DWORD mode, const wchar_t* file, DWORD attributes) {
  static const auto f = bind<UINT(WINAPI*)(DWORD, LPCWSTR, DWORD)>("MsiEnableLogW");
  return f ? f(mode, file, attributes) : kMissing;
}

UINT InstallProduct(const wchar_t* package, const wchar_t* command_line) {
  static const auto f = bind<UINT(WINAPI*)(LPCWSTR, LPCWSTR)>("MsiInstallProductW");
  return f ? f(package, command_line) : kMissing;
}

UINT SetProperty(MSIHANDLE install, const wchar_t* name, const wchar_t* value) {
  static const auto f = bind<UINT(WINAPI*)(MSIHANDLE, LPCWSTR, LPCWSTR)>("MsiSetPropertyW");
  return f ? f(install, name, value) : kMissing;
}

MSIHANDLE CreateRecord(UINT fields) {
  static const auto f = bind<MSIHANDLE(WINAPI*)(UINT)>("MsiCreateRecord");
  return f ? f(fields) : 0;
}

UINT RecordSetString(MSIHANDLE record, UINT field, const wchar_t* value) {
  static const auto f = bind<UINT(WINAPI*)(MSIHANDLE, UINT, LPCWSTR)>("MsiRecordSetStringW");
  return f ? f(record, field, value) : kMissing;
}

UINT FormatRecord(MSIHANDLE install, MSIHANDLE record, wchar_t* buffer, DWORD* size) {
  static const auto f = bind<UINT(WINAPI*)(MSIHANDLE, MSIHANDLE, LPWSTR, LPDWORD)>("MsiFormatRecordW");
  return f ? f(install, record, buffer, size) : kMissing;
}

UINT CloseHandle(MSIHANDLE handle) {
  static const auto f = bind<UINT(WINAPI*)(MSIHANDLE)>("MsiCloseHandle");
  return f ? f(handle) : kMissing;
}

std::wstring format_text(MSIHANDLE install, const std::wstring& text) {
  MSIHANDLE record = CreateRecord(1);
  if (!record) return text;
  std::wstring out = text;
  if (RecordSetString(record, 0, text.c_str()) == ERROR_SUCCESS) {
    std::vector<wchar_t> buffer(260);
    DWORD size = static_cast<DWORD>(buffer.size());
    UINT status = FormatRecord(install, record, buffer.data(), &size);
    if (status == ERROR_MORE_DATA) {
      buffer.assign(size + 1, L'\0');
      size = static_cast<DWORD>(buffer.size());
      status = FormatRecord(install, record, buffer.data(), &size);
    }
    if (status == ERROR_SUCCESS) out.assign(buffer.data(), std::min<size_t>(size, buffer.size()));
  }
  CloseHandle(record);
  return out;
}

}  // namespace prq::msi
