// Stand-in for the app-package helper, for tests only. Records its command line in
// PkgDeployHost.log beside itself.
//   -prqmsix:query ... -pkgname:NAME ...   exit 0 when NAME.installed lies beside it, else 1605
//   -prqmsix:install -QZ_temp -pkgname:"PATH"   creates <file name of PATH without extension>.installed, exit 0
// Anything else exits 87.
#include <string>

#include "standin_record.h"

namespace {

// The value after -pkgname:, quoted or up to the next blank.
std::wstring package_name(const std::wstring& line) {
  size_t at = line.find(L"-pkgname:");
  if (at == std::wstring::npos) return std::wstring();
  at += 9;
  if (at < line.size() && line[at] == L'"') {
    size_t end = line.find(L'"', at + 1);
    return line.substr(at + 1, end == std::wstring::npos ? std::wstring::npos : end - at - 1);
  }
  return line.substr(at, line.find(L' ', at) - at);
}

}  // namespace

int wmain() {
  standin_record(L"PkgDeployHost.log");
  const std::wstring line = GetCommandLineW();
  std::wstring name = package_name(line);
  if (name.empty()) return 87;
  if (line.find(L"-prqmsix:query") != std::wstring::npos)
    return GetFileAttributesW((standin_folder() + name + L".installed").c_str()) == INVALID_FILE_ATTRIBUTES ? 1605 : 0;
  if (line.find(L"-prqmsix:install") != std::wstring::npos) {
    std::wstring file = name.substr(name.find_last_of(L'\\') + 1);
    HANDLE h = CreateFileW((standin_folder() + file.substr(0, file.rfind(L'.')) + L".installed").c_str(),
                           GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 5;
    CloseHandle(h);
    return 0;
  }
  return 87;
}
