// The prerequisite host window: another process may show the whole prerequisite
// user interface in its own window, a message-only window of class "QzPrqHook"
// whose title the launcher was given (session value 16). Everything goes to it as
// synchronous window messages; it answers through the message result.
#pragma once
#include <windows.h>

#include <string>

namespace prq::host {

inline constexpr wchar_t kWindowClass[] = L"QzPrqHook";

// WM_COMMAND codes.
inline constexpr int kMessageBoxBegin = 0;
inline constexpr int kMessageBoxShow = 1;
inline constexpr int kStatusText = 2;
inline constexpr int kMarqueeStart = 3;
inline constexpr int kMarqueeStop = 4;
inline constexpr int kPrerequisiteRan = 5;
inline constexpr int kRestartLater = 6;
inline constexpr int kFormat = 7;
inline constexpr int kDefineProperty = 8;
inline constexpr int kInstallerProgress = 20;
inline constexpr int kInstallerActionStart = 18;

// Answers that ask for a cancel.
inline constexpr LRESULT kCancelAnswer = 2;
inline constexpr LRESULT kStatusCancelAnswer = 9;

// The host window titled `title`, looked up among the message-only windows;
// null when there is none (or the title is empty).
HWND find(const std::wstring& title);

LRESULT send_text(HWND host, const std::wstring& text);
LRESULT send_command(HWND host, int code);

// The box's button: command 0, the text, the type as decimal text, command 1.
LRESULT message_box(HWND host, const std::wstring& text, UINT type);
// `command_line` formatted by the host after "QZPREREQDIR" was defined as `folder`.
std::wstring format(HWND host, const std::wstring& folder, const std::wstring& command_line);

}  // namespace prq::host
