// WinINet bound by name on first use: a system without it (or without one of the
// functions) makes every Internet address fail as an ordinary error.
#pragma once
#include <windows.h>
#include <wininet.h>

namespace qz::wininet {

struct Api {
  decltype(&::InternetOpenW) InternetOpenW;
  decltype(&::InternetSetStatusCallbackW) InternetSetStatusCallbackW;
  decltype(&::InternetCloseHandle) InternetCloseHandle;
  decltype(&::InternetCanonicalizeUrlW) InternetCanonicalizeUrlW;
  decltype(&::InternetCombineUrlW) InternetCombineUrlW;
  decltype(&::InternetCrackUrlW) InternetCrackUrlW;
  decltype(&::InternetOpenUrlW) InternetOpenUrlW;
  decltype(&::InternetConnectW) InternetConnectW;
  decltype(&::HttpOpenRequestW) HttpOpenRequestW;
  decltype(&::HttpSendRequestW) HttpSendRequestW;
  decltype(&::HttpQueryInfoW) HttpQueryInfoW;
  decltype(&::InternetReadFile) InternetReadFile;
  decltype(&::InternetQueryOptionW) InternetQueryOptionW;
  decltype(&::InternetGetLastResponseInfoW) InternetGetLastResponseInfoW;
  decltype(&::InternetErrorDlg) InternetErrorDlg;
  decltype(&::InternetGetConnectedState) InternetGetConnectedState;
  decltype(&::InternetAutodial) InternetAutodial;
  decltype(&::FtpFindFirstFileW) FtpFindFirstFileW;
  decltype(&::InternetFindNextFileW) InternetFindNextFileW;
};

// The bound functions; null (thread's last error 126 or 127) when wininet.dll or
// one of them is missing. Bound once per process.
const Api* api();

}  // namespace qz::wininet
