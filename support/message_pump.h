// The one way the launcher keeps its windows alive while it waits: the thread's
// queued messages are dispatched (dialog messages through the dialog), and a
// quit request is handed on to the loop that owns it.
#pragma once
#include <windows.h>

#include <functional>

namespace qz {

// Dispatches the queued messages until none is left or `stop` answers true (it is
// asked before each one). A WM_QUIT is posted again and ends the pumping: false
// then, true otherwise.
bool pump_messages(HWND dialog = nullptr, const std::function<bool()>& stop = {});

// Waits `ms` milliseconds while pumping. False when it ended early: `stop`
// answered true or a WM_QUIT arrived.
bool pump_wait(DWORD ms, HWND dialog = nullptr, const std::function<bool()>& stop = {});

}  // namespace qz
