// Test-only values that hold a run open, stand in for the installer's result or
// shorten the clean-up. The shipped launchers link test_hooks_none.cpp, which
// answers "not set" to each; the test launchers (setup_t.exe, chainsetup_t.exe)
// and the unit tests link test_hooks.cpp, which reads them from the environment:
//   QZ_TEST_MSIACTION_SLEEP_MS  milliseconds to wait before the installer action
//   QZ_TEST_MSIACTION_RESULT    decimal exit code stored instead of running it
//   QZ_TEST_DELETE_PASS_MS      milliseconds between clean-up passes
//   QZ_TEST_PAUSE_FILE          a file the launcher writes at its pause points
//                               (the point's name in it) and that it waits to
//                               see removed before it goes on
//   QZ_TEST_RESTART_FILE        a file that a restart the launcher would start
//                               is recorded in (one line each) instead
//   QZ_TEST_LIMITED_USER        set: the launcher runs without administrative
//                               rights, except a copy started for the elevated
//                               prerequisite pass (/runprerequisites), as if the
//                               system had elevated that one
// A stray value in a user's environment must never change what a shipped
// launcher does, so nothing else reads them.
#pragma once

namespace test_hooks {

// Each is false when its value is not set (always in the shipped launchers).
bool msi_action_sleep_ms(unsigned* ms);
bool msi_action_result(int* code);
bool delete_pass_ms(unsigned* ms);
// Pauses at the named point ("copy": the parent before it copies itself; "run": the
// in-process run before the setup driver starts) until the pause file is removed,
// for at most two minutes. Nothing without the value.
void pause_point(const wchar_t* point);
bool limited_user();
// With QZ_TEST_RESTART_FILE set, makes the process's restart requests append a
// line to that file and succeed without restarting. Nothing without the value.
void install_restart_stand_in();

}  // namespace test_hooks
