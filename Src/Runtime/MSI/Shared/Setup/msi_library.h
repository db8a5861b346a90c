// The Windows Installer functions the launcher calls, bound by name from the
// system's msi.dll on first use. A missing library or entry point is an ordinary
// failure status (126 library missing, 127 entry point missing), never a crash:
// with lookup by name a failed bind is a null pointer, which each wrapper turns
// into that status before anything is called.
#pragma once
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>

namespace qzmsi {

constexpr UINT kLibraryMissing = ERROR_MOD_NOT_FOUND;   // 126
constexpr UINT kEntryMissing = ERROR_PROC_NOT_FOUND;    // 127

UINT OpenDatabase(const wchar_t* path, const wchar_t* persist, MSIHANDLE* db);
UINT DatabaseOpenView(MSIHANDLE db, const wchar_t* query, MSIHANDLE* view);
UINT ViewExecute(MSIHANDLE view, MSIHANDLE record);
UINT ViewFetch(MSIHANDLE view, MSIHANDLE* record);
UINT ViewClose(MSIHANDLE view);
UINT RecordGetString(MSIHANDLE record, UINT field, wchar_t* buffer, DWORD* size);
// Reads the next *size bytes at most of a stream field; *size becomes the count
// read (0 at the stream's end).
UINT RecordReadStream(MSIHANDLE record, UINT field, char* buffer, DWORD* size);
UINT RecordSetString(MSIHANDLE record, UINT field, const wchar_t* value);
UINT CloseHandle(MSIHANDLE h);
// The summary-information calls report 127 for any missing part.
UINT GetSummaryInformation(MSIHANDLE db, const wchar_t* path, UINT updates, MSIHANDLE* summary);
UINT SummaryInfoGetProperty(MSIHANDLE summary, UINT property, UINT* type, INT* number, FILETIME* time,
                            wchar_t* buffer, DWORD* size);
UINT GetProductInfo(const wchar_t* product, const wchar_t* property, wchar_t* buffer, DWORD* size);
UINT SourceListEnumSources(const wchar_t* product, const wchar_t* user_sid, MSIINSTALLCONTEXT context, DWORD options,
                           DWORD index, wchar_t* buffer, DWORD* size);
INSTALLSTATE QueryProductState(const wchar_t* product);
// INSTALLUILEVEL_NOCHANGE when msi.dll or the entry point is missing.
INSTALLUILEVEL SetInternalUI(INSTALLUILEVEL level, HWND* window);
UINT ConfigureProduct(const wchar_t* product, int install_level, INSTALLSTATE state);
MSIHANDLE GetLastErrorRecord();
UINT FormatRecord(MSIHANDLE install, MSIHANDLE record, wchar_t* buffer, DWORD* size);
// `product` holds 39 characters (a product code and its terminator).
UINT EnumRelatedProducts(const wchar_t* upgrade_code, DWORD index, wchar_t* product);

// Costing a package for its feature states.
UINT OpenPackage(const wchar_t* package, MSIHANDLE* install);
UINT DatabaseApplyTransform(MSIHANDLE db, const wchar_t* transform, int error_conditions);
UINT DoAction(MSIHANDLE install, const wchar_t* action);
UINT SetProperty(MSIHANDLE install, const wchar_t* name, const wchar_t* value);
// 0 when unavailable.
MSIHANDLE GetActiveDatabase(MSIHANDLE install);
UINT GetFeatureState(MSIHANDLE install, const wchar_t* feature, INSTALLSTATE* installed, INSTALLSTATE* action);
// INSTALLSTATE_INVALIDARG when unavailable.
INSTALLSTATE QueryFeatureState(const wchar_t* product, const wchar_t* feature);

// Unloads msi.dll (the script engine loads its own); true when it was loaded and
// is now released. Later calls bind again.
bool Unload();

// Test seam: binds from this file name instead of "msi.dll" (null restores), and
// forgets every bound function.
void set_library_name_for_tests(const wchar_t* name);

// Owns one Windows Installer handle.
class handle {
 public:
  handle() = default;
  explicit handle(MSIHANDLE h) : h_(h) {}
  ~handle() { reset(); }
  handle(const handle&) = delete;
  handle& operator=(const handle&) = delete;
  handle(handle&& o) noexcept : h_(o.h_) { o.h_ = 0; }
  MSIHANDLE get() const { return h_; }
  MSIHANDLE* receive() {
    reset();
    return &h_;
  }
  explicit operator bool() const { return h_ != 0; }
  void reset() {
    if (h_) {
      DWORD keep = GetLastError();
      qzmsi::CloseHandle(h_);
      SetLastError(keep);
      h_ = 0;
    }
  }

 private:
  MSIHANDLE h_ = 0;
};

// Reads a string through a size-in/size-out call: first with `initial` characters,
// once more with the reported size plus one when that was too small. `read` is
// called as read(buffer, &size) and returns the installer status.
template <typename Read>
UINT read_string(size_t initial, std::wstring* out, Read read) {
  std::wstring buffer(initial, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD size = static_cast<DWORD>(buffer.size());
    UINT status = read(&buffer[0], &size);
    if (status == ERROR_SUCCESS) {
      out->assign(buffer.c_str(), size < buffer.size() ? size : buffer.size() - 1);
      return status;
    }
    if (status != ERROR_MORE_DATA || attempt == 1) return status;
    buffer.assign(static_cast<size_t>(size) + 1, L'\0');
  }
  return ERROR_MORE_DATA;
}

// A failed database query: the installer's own message, the failing function and
// its arguments, and the status as an HRESULT of the Win32 family.
class com_exception {
 public:
  com_exception(HRESULT hr, std::wstring description) : hr_(hr), description_(std::move(description)) {}
  HRESULT hr() const { return hr_; }
  const std::wstring& description() const { return description_; }

 private:
  HRESULT hr_;
  std::wstring description_;
};

// Opens a view for `query`, executes it and fetches the first record; throws
// com_exception when a step fails (no record: ERROR_NO_MORE_ITEMS).
handle query_first_record(MSIHANDLE db, const wchar_t* query);

}  // namespace qzmsi
