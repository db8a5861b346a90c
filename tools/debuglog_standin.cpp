// Used by the tools' Windows build only while the tree has no debug log
// implementation: logging is off.
#include <string>

#include "support/debuglog.h"

namespace dbglog {
void enable() {}
void set_detailed(bool) {}
void set_log_path(const std::wstring&) {}
std::wstring default_log_path() { return {}; }
std::wstring current_log_path() { return {}; }
bool is_enabled() { return false; }
bool is_possibly_on() { return false; }
void log(const std::wstring&, const wchar_t*, int) {}
void logf(const wchar_t*, int, const wchar_t*, ...) {}
void reset_for_tests() {}
}  // namespace dbglog
