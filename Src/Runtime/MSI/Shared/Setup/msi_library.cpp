#include "msi_library.h"

#include "support/dynload.h"
#include "support/errors.h"

namespace qzmsi {

namespace {

enum Entry {
  kOpenDatabase,
  kDatabaseOpenView,
  kViewExecute,
  kViewFetch,
  kViewClose,
  kRecordGetString,
  kRecordSetString,
  kCloseHandle,
  kGetSummaryInformation,
  kSummaryInfoGetProperty,
  kGetProductInfo,
  kSourceListEnumSources,
  kQueryProductState,
  kGetLastErrorRecord,
  kFormatRecord,
  kSetInternalUI,
  kConfigureProduct,
  kRecordReadStream,
  kEnumRelatedProducts,
  kOpenPackage,
  kDatabaseApplyTransform,
  kDoAction,
  kSetProperty,
  kGetActiveDatabase,
  kGetFeatureState,
  kQueryFeatureState,
  kEntryCount
};

const char* const kNames[kEntryCount] = {
    "MsiOpenDatabaseW",       "MsiDatabaseOpenViewW",      "MsiViewExecute",        "MsiViewFetch",
    "MsiViewClose",           "MsiRecordGetStringW",       "MsiRecordSetStringW",   "MsiCloseHandle",
    "MsiGetSummaryInformationW", "MsiSummaryInfoGetPropertyW", "MsiGetProductInfoW", "MsiSourceListEnumSourcesW",
    "MsiQueryProductStateW",  "MsiGetLastErrorRecord",     "MsiFormatRecordW",      "MsiSetInternalUI",
    "MsiConfigureProductW",   "MsiRecordReadStream",
    "MsiEnumRelatedProductsW",
    "MsiOpenPackageW",        "MsiDatabaseApplyTransformW", "MsiDoActionW",        "MsiSetPropertyW",
    "MsiGetActiveDatabase",   "MsiGetFeatureStateW",       "MsiQueryFeatureStateW",
};

struct Slot {
  bool tried = false;
  FARPROC proc = nullptr;
  UINT error = 0;
};
Slot g_slots[kEntryCount];
const wchar_t* g_library = L"msi.dll";

// The bound entry, or null with *status = 126 / 127.
FARPROC bind(Entry e, UINT* status) {
  Slot& s = g_slots[e];
  if (!s.tried) {
    s.tried = true;
    SetLastError(0);
    s.proc = qz::bind_system_export(g_library, kNames[e]);
    if (!s.proc) {
      DWORD err = GetLastError();
      s.error = err == ERROR_PROC_NOT_FOUND ? kEntryMissing : kLibraryMissing;
    }
  }
  if (!s.proc) *status = s.error;
  return s.proc;
}

template <typename Fn>
Fn get(Entry e, UINT* status) {
  return qz::bound<Fn>(bind(e, status));
}

}  // namespace

UINT OpenDatabase(const wchar_t* path, const wchar_t* persist, MSIHANDLE* db) {
  UINT st = 0;
  auto fn = get<UINT(WINAPI*)(LPCWSTR, LPCWSTR, MSIHANDLE*)>(kOpenDatabase, &st);
  return fn ? fn(path, persist, db) : st;
}

UINT DatabaseOpenView(MSIHANDLE db, const wchar_t* query, MSIHANDLE* view) {
  UINT st = 0;
  auto fn = get<UINT(WINAPI*)(MSIHANDLE, LPCWSTR, MSIHANDLE*)>(kDatabaseOpenView, &st);
  return fn ? fn(db, query, view) : st;
}

UINT ViewExecute(MSIHANDLE view, MSIHANDLE record) {
  UINT st = 0;
  auto fn = get<UINT(WINAPI*)(MSIHANDLE, MSIHANDLE)>(kViewExecute, &st);
  return fn ? fn(view, record) : st;
}

UINT ViewFetch(MSIHANDLE view, MSIHANDLE* record) {
  UINT st = 0;
  auto fn = get<UINT(WINAPI*)(MSIHANDLE, MSIHANDLE*)>(kViewFetch, &st);
  return fn ? fn(view, record) : st;
}

UINT ViewClose(MSIHANDLE view) {
  UINT st = 0;
  auto fn = get<UINT(WINAPI*)(MSIHANDLE)>(kViewClose, &st);
  return fn ? fn(view) : st;
}

UINT RecordGetString(MSIHANDLE record, UINT field, wchar_t* buffer, DWORD* size) {
  UINT st = 0;
  auto fn = get<UINT(WINAPI*)(MSIHANDLE, UINT, LPWSTR, DWORD*)>(kRecordGetString, &st);
  return fn ? fn(record, field, buffer, size) : st;
}

UINT RecordReadStream(MSIHANDLE record, UINT field, char* buffer, DWORD* size) {
  UINT st = 0;
  auto fn = get<UINT(WINAPI*)(MSIHANDLE, UINT, char*, DWORD*)>(kRecordReadStream, &st);
  return fn ? fn(record, field, buffer, size) : st;
}

UINT RecordSetString(MSIHANDLE record, UINT field, const wchar_t* value) {
  UINT st = 0;
  auto fn = get<UINT(WINAPI*)(MSIHANDLE, UINT, LPCWSTR)>(kRecordSetString, &st);
  return fn ? fn(record, field, value) : st;
}

UINT CloseHandle(MSIHANDLE h) {
  UINT st = 0;
  auto fn = get<UINT(WINAPI*)(MSIHANDLE)>(kCloseHandle, &st);
  return fn ? fn(h) : st;
}

UINT GetSummaryInformation(MSIHANDLE db, const wchar_t* path, UINT updates, MSIHANDLE* summary) {
  UINT st = 0;
  auto fn = get<UINT(WINAPI*)(MSIHANDLE, LPCWSTR, UINT, MSIHANDLE*)>(kGetSummaryInformation, &st);
  return fn ? fn(db, path, updates, summary) : kEntryMissing;
}

UINT SummaryInfoGetProperty(MSIHANDLE summary, UINT property, UINT* type, INT* number, FILETIME* time,
                            wchar_t* buffer, DWORD* size) {
  UINT st = 0;
  auto fn = get<UINT(WINAPI*)(MSIHANDLE, UINT, UINT*, INT*, FILETIME*, LPWSTR, DWORD*)>(kSummaryInfoGetProperty, &st);
  return fn ? fn(summary, property, type, number, time, buffer, size) : kEntryMissing;
}

UINT GetProductInfo(const wchar_t* product, const wchar_t* property, wchar_t* buffer, DWORD* size) {
  UINT st = 0;
  auto fn = get<UINT(WINAPI*)(LPCWSTR, LPCWSTR, LPWSTR, DWORD*)>(kGetProductInfo, &st);
  return fn ? fn(product, property, buffer, size) : st;
}

UINT SourceListEnumSources(const wchar_t* product, const wchar_t* user_sid, MSIINSTALLCONTEXT context, DWORD options,
                           DWORD index, wchar_t* buffer, DWORD* size) {
  UINT st = 0;
  auto fn = get<UINT(WINAPI*)(LPCWSTR, LPCWSTR, MSIINSTALLCONTEXT, DWORD, DWORD, LPWSTR, DWORD*)>(
      kSourceListEnumSources, &st);
  return fn ? fn(product, user_sid, context, options, index, buffer, size) : st;
}

INSTALLSTATE QueryProductState(const wchar_t* product) {
  UINT st = 0;
  auto fn = get<INSTALLSTATE(WINAPI*)(LPCWSTR)>(kQueryProductState, &st);
  return fn ? fn(product) : INSTALLSTATE_INVALIDARG;
}

INSTALLUILEVEL SetInternalUI(INSTALLUILEVEL level, HWND* window) {
  UINT st = 0;
  auto fn = get<INSTALLUILEVEL(WINAPI*)(INSTALLUILEVEL, HWND*)>(kSetInternalUI, &st);
  return fn ? fn(level, window) : INSTALLUILEVEL_NOCHANGE;
}

UINT ConfigureProduct(const wchar_t* product, int install_level, INSTALLSTATE state) {
  UINT st = 0;
  auto fn = get<UINT(WINAPI*)(LPCWSTR, int, INSTALLSTATE)>(kConfigureProduct, &st);
  return fn ? fn(product, install_level, state) : st;
}

MSIHANDLE GetLastErrorRecord() {
  UINT st = 0;
  auto fn = get<MSIHANDLE(WINAPI*)()>(kGetLastErrorRecord, &st);
  return fn ? fn() : 0;
}

UINT FormatRecord(MSIHANDLE install, MSIHANDLE record, wchar_t* buffer, DWORD* size) {
  UINT st = 0;
  auto fn = get<UINT(WINAPI*)(MSIHANDLE, MSIHANDLE, LPWSTR, DWORD*)>(kFormatRecord, &st);
  return fn ? fn(install, record, buffer, size) : st;
}

UINT EnumRelatedProducts(const wchar_t* upgrade_code, DWORD index, wchar_t* product) {
  UINT st = 0;
  auto fn = get<UINT(WINAPI*)(LPCWSTR, DWORD, DWORD, LPWSTR)>(kEnumRelatedProducts, &st);
  return fn ? fn(upgrade_code, 0, index, product) : st;
}

UINT OpenPackage(const wchar_t* package, MSIHANDLE* install) {
  UINT st = 0;
  auto fn = get<UINT(WINAPI*)(LPCWSTR, MSIHANDLE*)>(kOpenPackage, &st);
  return fn ? fn(package, install) : st;
}

UINT DatabaseApplyTransform(MSIHANDLE db, const wchar_t* transform, int error_conditions) {
  UINT st = 0;
  auto fn = get<UINT(WINAPI*)(MSIHANDLE, LPCWSTR, int)>(kDatabaseApplyTransform, &st);
  return fn ? fn(db, transform, error_conditions) : st;
}

UINT DoAction(MSIHANDLE install, const wchar_t* action) {
  UINT st = 0;
  auto fn = get<UINT(WINAPI*)(MSIHANDLE, LPCWSTR)>(kDoAction, &st);
  return fn ? fn(install, action) : st;
}

UINT SetProperty(MSIHANDLE install, const wchar_t* name, const wchar_t* value) {
  UINT st = 0;
  auto fn = get<UINT(WINAPI*)(MSIHANDLE, LPCWSTR, LPCWSTR)>(kSetProperty, &st);
  return fn ? fn(install, name, value) : st;
}

MSIHANDLE GetActiveDatabase(MSIHANDLE install) {
  UINT st = 0;
  auto fn = get<MSIHANDLE(WINAPI*)(MSIHANDLE)>(kGetActiveDatabase, &st);
  return fn ? fn(install) : 0;
}

UINT GetFeatureState(MSIHANDLE install, const wchar_t* feature, INSTALLSTATE* installed, INSTALLSTATE* action) {
  UINT st = 0;
  auto fn = get<UINT(WINAPI*)(MSIHANDLE, LPCWSTR, INSTALLSTATE*, INSTALLSTATE*)>(kGetFeatureState, &st);
  return fn ? fn(install, feature, installed, action) : st;
}

INSTALLSTATE QueryFeatureState(const wchar_t* product, const wchar_t* feature) {
  UINT st = 0;
  auto fn = get<INSTALLSTATE(WINAPI*)(LPCWSTR, LPCWSTR)>(kQueryFeatureState, &st);
  return fn ? fn(product, feature) : INSTALLSTATE_INVALIDARG;
}

namespace {

void forget_bindings() {
  for (auto& s : g_slots) s = Slot();
}

}  // namespace

bool Unload() {
  wchar_t folder[MAX_PATH];
  UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  forget_bindings();
  if (n == 0 || n >= MAX_PATH) return false;
  std::wstring path = std::wstring(folder, n) + L"\\" + g_library;
  HMODULE module = GetModuleHandleW(path.c_str());
  if (!module) return false;
  return FreeLibrary(module) != FALSE;
}

void set_library_name_for_tests(const wchar_t* name) {
  g_library = name ? name : L"msi.dll";
  forget_bindings();
}

namespace {

// "Windows Installer Error [1]: [2]{, [3]}{, [4]}{, [5]}\n" from the last error
// record, or the system's text for the status.
std::wstring installer_message(UINT status) {
  handle record(GetLastErrorRecord());
  if (record) {
    RecordSetString(record.get(), 0, L"Windows Installer Error [1]: [2]{, [3]}{, [4]}{, [5]}\n");
    std::wstring text;
    if (read_string(1024, &text, [&](wchar_t* b, DWORD* s) { return FormatRecord(0, record.get(), b, s); }) ==
        ERROR_SUCCESS)
      return text;
  }
  return qz::system_message(status);
}

[[noreturn]] void raise(UINT status, const wchar_t* function, const std::wstring& a, const std::wstring& b) {
  std::wstring description = installer_message(status) + function + L"(" + a + L", " + b + L")";
  throw com_exception(HRESULT_FROM_WIN32(status), description);
}

std::wstring handle_text(MSIHANDLE h) { return std::to_wstring(static_cast<unsigned long>(h)); }

}  // namespace

handle query_first_record(MSIHANDLE db, const wchar_t* query) {
  handle view;
  UINT st = DatabaseOpenView(db, query, view.receive());
  if (st != ERROR_SUCCESS) raise(st, L"MsiOpenDatabaseView", handle_text(db), query);
  st = ViewExecute(view.get(), 0);
  if (st != ERROR_SUCCESS) raise(st, L"MsiViewExecute", handle_text(view.get()), L"0");
  handle record;
  st = ViewFetch(view.get(), record.receive());
  ViewClose(view.get());
  if (st != ERROR_SUCCESS) raise(st, L"MsiViewFetch", handle_text(view.get()), L"");
  return record;
}

}  // namespace qzmsi
