#include "osaction.h"

#include <windows.h>

#include <optional>

#include "session.h"
#include "support/debuglog.h"
#include "support/dynload.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\osaction";

namespace {

constexpr unsigned kCheckingSystemText = 1103;

// A system the tests cannot run on (set_os_record_for_tests).
std::optional<OsRecord> g_test_record;

// RtlGetVersion is not subject to the compatibility shims of GetVersionEx.
bool true_version(OSVERSIONINFOW* info) {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  auto fn = qz::bound<RtlGetVersionFn>(qz::bind_system_export(L"ntdll.dll", "RtlGetVersion"));
  return fn && fn(info) == 0;
}

}  // namespace

OsRecord read_os_record() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (!true_version(&info)) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(&info);
#pragma GCC diagnostic pop
  }
  SYSTEM_INFO system{};
  GetNativeSystemInfo(&system);
  return os_rules::classify_system(static_cast<int>(info.dwMajorVersion), static_cast<int>(info.dwMinorVersion),
                                   static_cast<int>(info.dwBuildNumber), static_cast<int>(info.dwPlatformId),
                                   system.wProcessorArchitecture);
}

OSAction::OSAction(Session& session) : Action(session, kCheckingSystemText) {}

int OSAction::execute() {
  mark_started();
  OsRecord record = g_test_record ? *g_test_record : read_os_record();
  QZ_LOG(L"Operating system %d.%d.%d, platform id %d, code %d, %s", record.major, record.minor, record.build,
         record.platform_id, record.platform_code, record.supported ? L"supported" : L"not supported");
  session_->set_os_record(record);
  return 1;
}

void set_os_record_for_tests(const OsRecord* record) {
  g_test_record = record ? std::optional<OsRecord>(*record) : std::nullopt;
}
