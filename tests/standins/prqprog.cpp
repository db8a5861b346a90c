// Stand-in prerequisite program, for tests only: records each run under
// HKCU\Software\Brackenwright\PrqTest and ends as its arguments say.
//   mark=NAME   value NAME gets this command line, value NAME.runs counts the runs
//   wait=PATH   waits until the file PATH exists
//   rmself      deletes the files of its own folder and the folder
//   crash       ends with an access violation
//   exit=N      exit code (decimal, may be negative; 0 without it)
#include <windows.h>

#include <cwchar>
#include <cwctype>
#include <string>

namespace {

const wchar_t kKey[] = L"Software\\Brackenwright\\PrqTest";

void mark(const std::wstring& name) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  std::wstring line = GetCommandLineW();
  RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(line.c_str()),
                 static_cast<DWORD>((line.size() + 1) * sizeof(wchar_t)));
  std::wstring runs = name + L".runs";
  DWORD count = 0, size = sizeof(count);
  RegQueryValueExW(key, runs.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&count), &size);
  ++count;
  RegSetValueExW(key, runs.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof(count));
  RegCloseKey(key);
}

void remove_own_folder() {
  wchar_t self[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring folder(self, n);
  folder.resize(folder.find_last_of(L'\\'));
  WIN32_FIND_DATAW d;
  HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &d);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (!(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((folder + L"\\" + d.cFileName).c_str());
    } while (FindNextFileW(h, &d));
    FindClose(h);
  }
  SetCurrentDirectoryW(L"C:\\");
  RemoveDirectoryW(folder.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int code = 0;
  bool crash = false;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    if (a.rfind(L"mark=", 0) == 0) mark(a.substr(5));
    if (a.rfind(L"exit=", 0) == 0) code = static_cast<int>(wcstoll(a.c_str() + 5, nullptr, 10));
    if (a.rfind(L"wait=", 0) == 0) {
      while (GetFileAttributesW(a.c_str() + 5) == INVALID_FILE_ATTRIBUTES) Sleep(50);
    }
    if (a == L"rmself") remove_own_folder();
    if (a == L"crash") crash = true;
  }
  if (crash) {
    // No crash dialog: the test has nobody to close it.
    SetErrorMode(SEM_NOGPFAULTERRORBOX);
    volatile int* nowhere = nullptr;
    *nowhere = 1;
  }
  return code;
}
