// The running machine's answers to the prerequisite rules (prereq_system.h).
#pragma once
#include <windows.h>

#include "prereq_system.h"

namespace prq {

// One per process.
PrereqSystem& windows_system();

// Waits for `process` to end while this thread's timer, input and paint messages
// are dispatched (timers first); posted and sent messages stay queued. Its exit
// code, or STILL_ACTIVE when it cannot be read.
DWORD wait_dispatching_input(HANDLE process);

}  // namespace prq
