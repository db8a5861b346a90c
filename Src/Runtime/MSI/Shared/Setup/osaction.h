// The first step of a normal run: records what operating system the launcher
// runs on. The verdict (supported or not) is applied later by the session run.
#pragma once
#include "action.h"
#include "os_rules.h"

class OSAction : public Action {
 public:
  explicit OSAction(Session& session);
  // Always 1.
  int execute() override;
};

// The record for the running system (the version as the system reports it,
// whatever the manifest declares).
OsRecord read_os_record();

// Test hook: OSAction stores this record instead of the running system's (null:
// the system's own again).
void set_os_record_for_tests(const OsRecord* record);
