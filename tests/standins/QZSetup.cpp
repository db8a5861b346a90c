// Stand-in for the product's script engine library, for tests only. Each call is
// appended as one UTF-8 line to the file named by QZ_ENGINE_RESULTS:
//   setup|<target>|<flag>|<command line>|<language>|<setup name>|qi=<0/1>|end=<hr>|runtime=<files>
// (the runtime files found beside the package, see runtime_files)
//   removal|<text>|<first>|<second>|<text>
// and answers the next entry of QZ_ENGINE_RESULT (comma-separated, one per call
// already recorded, the last one repeating; default 0). It drives the progress
// object as the engine does: begin, 50 %, end.
#include <windows.h>
#include <unknwn.h>

#include <string>
#include <vector>

// Outside the anonymous namespace: with internal linkage the compiler would know
// that no class in the program implements it and drop the calls.
struct IProgress : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE begin() = 0;
  virtual HRESULT STDMETHODCALLTYPE progress(int percent) = 0;
  virtual HRESULT STDMETHODCALLTYPE end() = 0;
};

namespace {

const IID kProgressIid = {0xB47B5571, 0x6E39, 0x46D9, {0x80, 0x4A, 0xC8, 0x97, 0x99, 0x1B, 0x4F, 0x3F}};

std::wstring env(const wchar_t* name) {
  wchar_t buffer[4096] = {};
  DWORD n = GetEnvironmentVariableW(name, buffer, 4096);
  return n && n < 4096 ? std::wstring(buffer, n) : std::wstring();
}

std::string utf8(const std::wstring& w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
  return s;
}

// Records the line and answers the result scripted for this call.
int record_and_answer(const std::wstring& line) {
  std::wstring path = env(L"QZ_ENGINE_RESULTS");
  size_t calls = 0;
  if (!path.empty()) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      char buffer[65536];
      DWORD got = 0;
      while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got)
        for (DWORD i = 0; i < got; ++i) calls += buffer[i] == '\n';
      std::string text = utf8(line) + "\n";
      DWORD put = 0;
      WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
      CloseHandle(h);
    }
  }
  std::vector<int> results;
  std::wstring scripted = env(L"QZ_ENGINE_RESULT");
  for (size_t start = 0; start <= scripted.size() && !scripted.empty();) {
    size_t comma = scripted.find(L',', start);
    if (comma == std::wstring::npos) comma = scripted.size();
    results.push_back(_wtoi(scripted.substr(start, comma - start).c_str()));
    start = comma + 1;
  }
  if (results.empty()) return 0;
  return results[calls < results.size() ? calls : results.size() - 1];
}

// The engine's runtime files as the launcher laid them out beside the package:
// "<resource folder>\<file>" for each file in a folder "{...}" inside a folder of
// the package's folder, joined by ";".
std::wstring runtime_files(const std::wstring& package) {
  std::wstring base = package.substr(0, package.find_last_of(L'\\'));
  std::wstring out;
  WIN32_FIND_DATAW runtime;
  HANDLE r = FindFirstFileW((base + L"\\{*").c_str(), &runtime);
  if (r == INVALID_HANDLE_VALUE) return out;
  do {
    if (!(runtime.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    std::wstring folder = base + L"\\" + runtime.cFileName;
    WIN32_FIND_DATAW resources;
    HANDLE f = FindFirstFileW((folder + L"\\{*").c_str(), &resources);
    if (f == INVALID_HANDLE_VALUE) continue;
    do {
      if (!(resources.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
      WIN32_FIND_DATAW file;
      HANDLE g = FindFirstFileW((folder + L"\\" + resources.cFileName + L"\\*").c_str(), &file);
      if (g == INVALID_HANDLE_VALUE) continue;
      do {
        if (file.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        out += std::wstring(out.empty() ? L"" : L";") + resources.cFileName + L"\\" + file.cFileName;
      } while (FindNextFileW(g, &file));
      FindClose(g);
    } while (FindNextFileW(f, &resources));
    FindClose(f);
  } while (FindNextFileW(r, &runtime));
  FindClose(r);
  return out;
}

const wchar_t* text(const wchar_t* s) { return s ? s : L"(null)"; }

}  // namespace

extern "C" __declspec(dllexport) int WINAPI RunQZMSISetup(const wchar_t* target, int is_product_code,
                                                          const wchar_t* command_line, IProgress* progress,
                                                          int language, const wchar_t* setup_name) {
  bool same = false;
  HRESULT end = E_POINTER;
  if (progress) {
    IProgress* asked = nullptr;
    if (SUCCEEDED(progress->QueryInterface(kProgressIid, reinterpret_cast<void**>(&asked))) && asked) {
      same = asked == progress;
      asked->Release();
    }
    progress->begin();
    progress->progress(50);
    end = progress->end();
  }
  wchar_t hr[16];
  wsprintfW(hr, L"0x%08X", static_cast<unsigned>(end));
  std::wstring line = std::wstring(L"setup|") + text(target) + L"|" + std::to_wstring(is_product_code) + L"|" +
                      text(command_line) + L"|" + std::to_wstring(language) + L"|" + text(setup_name) +
                      L"|qi=" + (same ? L"1" : L"0") + L"|end=" + hr + L"|runtime=" +
                      runtime_files(text(target));
  return record_and_answer(line);
}

extern "C" __declspec(dllexport) int WINAPI RunQZMSIMajorUpgradeRemoval(const wchar_t* first_text, int first,
                                                                        int second, const wchar_t* second_text) {
  return record_and_answer(std::wstring(L"removal|") + text(first_text) + L"|" + std::to_wstring(first) + L"|" +
                           std::to_wstring(second) + L"|" + text(second_text));
}
