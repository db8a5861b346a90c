#include "support/utils.h"

namespace qz {
namespace {
LastFailure g_failure;  // used from the user-interface thread only
}

const LastFailure& last_failure() { return g_failure; }

void clear_last_failure() {
  g_failure.error = 0;
  g_failure.path.clear();
}

void record_failure(DWORD error, const std::wstring& path) {
  DWORD keep = GetLastError();
  g_failure.error = error;
  g_failure.path = path;
  SetLastError(keep);
}

}  // namespace qz
