// The shipped launchers' answer to the test-only values: never set. Test programs
// link test_hooks.cpp instead, whose definitions the linker then takes in place
// of these (this file holds nothing else, so it is never pulled in beside it).
#include "test_hooks.h"

namespace test_hooks {

bool msi_action_sleep_ms(unsigned*) { return false; }
bool msi_action_result(int*) { return false; }
bool delete_pass_ms(unsigned*) { return false; }
void pause_point(const wchar_t*) {}
bool limited_user() { return false; }
void install_restart_stand_in() {}

}  // namespace test_hooks
