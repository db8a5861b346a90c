// Stand-in for a prerequisite host, for tests only: a message-only window of class
// "QzPrqHook" that records every message the launcher sends it and answers as a
// host would, while it runs the launcher and waits for it.
//   prqhook TITLE LOG COMMAND-LINE...
// LOG gets one UTF-8 line per message: "text=...", "command=N", "range=LO,HI",
// "pos=N". Command 7 formats the last text: "[QZPREREQDIR]" becomes the folder of
// command 8 and "[HOSTNAME]" becomes "prqhook"; the window's text is then the
// result. Command 1 (a message box) answers QZ_PRQHOOK_ANSWER (default 6, Yes).
// The exit code is the launcher's.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring g_log;
std::vector<std::wstring> g_texts;
std::wstring g_folder;
std::wstring g_formatted;
LRESULT g_answer = IDYES;

void record(const std::wstring& line) {
  int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8.data(), n, nullptr, nullptr);
  utf8 += "\n";
  HANDLE h = CreateFileW(g_log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD put = 0;
  WriteFile(h, utf8.data(), static_cast<DWORD>(utf8.size()), &put, nullptr);
  CloseHandle(h);
}

void replace_all(std::wstring& text, const std::wstring& what, const std::wstring& with) {
  for (size_t at = text.find(what); at != std::wstring::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
}

LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SETTEXT:
      // Kept here: the window's own title is what the launcher finds it by.
      g_texts.push_back(reinterpret_cast<const wchar_t*>(lparam));
      record(L"text=" + g_texts.back());
      return TRUE;
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(g_formatted.size());
    case WM_GETTEXT: {
      size_t n = std::min<size_t>(g_formatted.size(), wparam ? wparam - 1 : 0);
      if (wparam) {
        wmemcpy(reinterpret_cast<wchar_t*>(lparam), g_formatted.c_str(), n);
        reinterpret_cast<wchar_t*>(lparam)[n] = 0;
      }
      return static_cast<LRESULT>(n);
    }
    case WM_COMMAND: {
      int code = static_cast<int>(wparam);
      record(L"command=" + std::to_wstring(code));
      if (code == 8 && !g_texts.empty()) g_folder = g_texts.back();
      if (code == 7 && !g_texts.empty()) {
        g_formatted = g_texts.back();
        replace_all(g_formatted, L"[QZPREREQDIR]", g_folder);
        replace_all(g_formatted, L"[HOSTNAME]", L"prqhook");
      }
      return code == 1 ? g_answer : 0;
    }
    case PBM_SETRANGE32:
      record(L"range=" + std::to_wstring(wparam) + L"," + std::to_wstring(lparam));
      return 0;
    case PBM_SETPOS:
      record(L"pos=" + std::to_wstring(wparam));
      return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

// The command line after its first three arguments, as written.
const wchar_t* rest_after(const wchar_t* line, int skip) {
  for (int i = 0; i < skip; ++i) {
    bool quoted = false;
    while (*line && (quoted || (*line != L' ' && *line != L'\t'))) {
      if (*line == L'"') quoted = !quoted;
      ++line;
    }
    while (*line == L' ' || *line == L'\t') ++line;
  }
  return line;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  g_log = argv[2];
  wchar_t answer[16];
  if (GetEnvironmentVariableW(L"QZ_PRQHOOK_ANSWER", answer, 16) > 0) g_answer = _wtoi(answer);
  WNDCLASSW wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"QzPrqHook";
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, L"QzPrqHook", argv[1], 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  if (!window) return 3;
  std::wstring command = rest_after(GetCommandLineW(), 3);
  STARTUPINFOW si{sizeof si};
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 4;
  for (;;) {
    DWORD r = MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, INFINITE, QS_ALLINPUT | QS_SENDMESSAGE);
    if (r != WAIT_OBJECT_0 + 1) break;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  DestroyWindow(window);
  return static_cast<int>(code);
}
