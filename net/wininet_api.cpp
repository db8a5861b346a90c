#include "net/wininet_api.h"

#include "support/dynload.h"

namespace qz::wininet {

namespace {

struct Binding {
  Api api{};
  DWORD error = 0;  // why binding failed; 0 when every function is there
};

template <typename F>
bool bind(F* slot, const char* name, DWORD* error) {
  *slot = bound<F>(bind_system_export(L"wininet.dll", name));
  if (!*slot && *error == 0) *error = GetLastError() ? GetLastError() : ERROR_PROC_NOT_FOUND;
  return *slot != nullptr;
}

Binding make_binding() {
  Binding b;
  Api& a = b.api;
  DWORD* e = &b.error;
  bind(&a.InternetOpenW, "InternetOpenW", e);
  bind(&a.InternetSetStatusCallbackW, "InternetSetStatusCallbackW", e);
  bind(&a.InternetCloseHandle, "InternetCloseHandle", e);
  bind(&a.InternetCanonicalizeUrlW, "InternetCanonicalizeUrlW", e);
  bind(&a.InternetCombineUrlW, "InternetCombineUrlW", e);
  bind(&a.InternetCrackUrlW, "InternetCrackUrlW", e);
  bind(&a.InternetOpenUrlW, "InternetOpenUrlW", e);
  bind(&a.InternetConnectW, "InternetConnectW", e);
  bind(&a.HttpOpenRequestW, "HttpOpenRequestW", e);
  bind(&a.HttpSendRequestW, "HttpSendRequestW", e);
  bind(&a.HttpQueryInfoW, "HttpQueryInfoW", e);
  bind(&a.InternetReadFile, "InternetReadFile", e);
  bind(&a.InternetQueryOptionW, "InternetQueryOptionW", e);
  bind(&a.InternetGetLastResponseInfoW, "InternetGetLastResponseInfoW", e);
  bind(&a.InternetErrorDlg, "InternetErrorDlg", e);
  bind(&a.InternetGetConnectedState, "InternetGetConnectedState", e);
  bind(&a.InternetAutodial, "InternetAutodial", e);
  bind(&a.FtpFindFirstFileW, "FtpFindFirstFileW", e);
  bind(&a.InternetFindNextFileW, "InternetFindNextFileW", e);
  return b;
}

}  // namespace

const Api* api() {
  // Thread-safe once: the download worker and the user-interface thread may both ask first.
  static const Binding binding = make_binding();
  if (binding.error) {
    SetLastError(binding.error);
    return nullptr;
  }
  return &binding.api;
}

}  // namespace qz::wininet
