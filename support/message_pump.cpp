#include "support/message_pump.h"

namespace qz {

bool pump_messages(HWND dialog, const std::function<bool()>& stop) {
  MSG msg;
  while (!(stop && stop()) && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    if (dialog && IsDialogMessageW(dialog, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

bool pump_wait(DWORD ms, HWND dialog, const std::function<bool()>& stop) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (stop && stop()) return false;
    const DWORD spent = GetTickCount() - start;
    if (spent >= ms) return true;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - spent, QS_ALLINPUT);
    if (!pump_messages(dialog, stop)) return false;
  }
}

}  // namespace qz
