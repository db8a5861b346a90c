// Waiting for a state instead of a time: a loaded machine may take long to get
// there, so the bound is generous and only keeps a broken test from hanging.
#pragma once
#include <windows.h>

namespace test_wait {

constexpr DWORD kBoundMs = 90000;

// Polls `done` until it holds or the bound passes; its last answer.
template <class Done>
bool wait_for(Done done, DWORD bound_ms = kBoundMs) {
  const ULONGLONG until = GetTickCount64() + bound_ms;
  while (!done()) {
    if (GetTickCount64() >= until) return done();
    Sleep(20);
  }
  return true;
}

// The same while this thread's messages are dispatched, so its windows and timers
// go on (a dialog handles what it was sent or posted).
template <class Done>
bool pump_until(Done done, DWORD bound_ms = kBoundMs) {
  const ULONGLONG until = GetTickCount64() + bound_ms;
  while (!done()) {
    if (GetTickCount64() >= until) return done();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
  }
  return true;
}

}  // namespace test_wait
