#include "session.h"

#include "LaunchSettings.h"
#include "packaged_setting.h"

Session::Session(HINSTANCE module, LaunchSettings& settings) : SessionState(settings), module_(module) {}

Session::~Session() = default;

std::wstring Session::packaged_setting(const std::wstring& section, const std::wstring& key) {
  return read_packaged_setting(section, key, 260);
}

bool Session::recognises_prerequisite_switches() const {
#ifdef QZ_PREREQUISITES
  return true;
#else
  return false;
#endif
}
