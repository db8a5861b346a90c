#include "prereq_host.h"

#include <algorithm>
#include <vector>

namespace prq::host {

HWND find(const std::wstring& title) {
  if (title.empty()) return nullptr;
  return FindWindowExW(HWND_MESSAGE, nullptr, kWindowClass, title.c_str());
}

LRESULT send_text(HWND host, const std::wstring& text) {
  return SendMessageW(host, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

LRESULT send_command(HWND host, int code) { return SendMessageW(host, WM_COMMAND, static_cast<WPARAM>(code), 0); }

LRESULT message_box(HWND host, const std::wstring& text, UINT type) {
  send_command(host, kMessageBoxBegin);
  send_text(host, text);
  send_text(host, std::to_wstring(type));
  return send_command(host, kMessageBoxShow);
}

std::wstring format(HWND host, const std::wstring& folder, const std::wstring& command_line) {
  send_text(host, L"QZPREREQDIR");
  send_text(host, folder);
  send_command(host, kDefineProperty);
  send_text(host, command_line);
  send_command(host, kFormat);
  // The host's text is read through WM_GETTEXT, which it answers with the result.
  LRESULT length = SendMessageW(host, WM_GETTEXTLENGTH, 0, 0);
  if (length <= 0 || length > 32767) return std::wstring();
  std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
  LRESULT got = SendMessageW(host, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
  if (got < 0) got = 0;
  return std::wstring(buffer.data(), std::min<size_t>(static_cast<size_t>(got), static_cast<size_t>(length)));
}

}  // namespace prq::host
