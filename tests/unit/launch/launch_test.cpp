// Starting and waiting for real child processes (tests/tools/sleeper.exe and cmd.exe).
#include "launch.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>

#include "../support/wait_for.h"
#include "packaged_setting.h"
#include "support/debuglog.h"
#include "support/process_state.h"

namespace {

std::wstring own_folder() {
  wchar_t buf[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  std::wstring s(buf, n);
  return s.substr(0, s.find_last_of(L'\\'));
}

std::wstring sleeper(int ms, int code) {
  return L"\"" + own_folder() + L"\\sleeper.exe\" " + std::to_wstring(ms) + L" " + std::to_wstring(code);
}

// A child that runs until the test lets it go: sleeper.exe holds while its file
// exists and writes its process id there once it runs.
class HeldChild {
 public:
  explicit HeldChild(const wchar_t* name) {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    file_ = std::wstring(tmp) + L"qzheld_" + name + L"_" + std::to_wstring(GetCurrentProcessId());
    HANDLE f = CreateFileW(file_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(f);
  }
  ~HeldChild() {
    release();
    if (process_) CloseHandle(process_);
  }
  std::wstring command(int code) const {
    return L"\"" + own_folder() + L"\\sleeper.exe\" @" + file_ + L" " + std::to_wstring(code);
  }
  // The child's process once it has written its id; null if it never did.
  HANDLE started() {
    if (process_) return process_;
    unsigned long pid = 0;
    test_wait::wait_for([&] {
      std::ifstream f(file_.c_str());
      return static_cast<bool>(f >> pid);
    });
    if (pid) process_ = OpenProcess(SYNCHRONIZE, FALSE, pid);
    return process_;
  }
  void release() { DeleteFileW(file_.c_str()); }

 private:
  std::wstring file_;
  HANDLE process_ = nullptr;
};

void drain_queue() {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
  }
}

class Launch : public ::testing::Test {
 protected:
  void SetUp() override {
    drain_queue();
    qzproc::set_exit_code(1234);
  }
  void TearDown() override { drain_queue(); }
};

TEST_F(Launch, MissingProgramIsNotStartedAndLeavesTheExitCode) {
  EXPECT_EQ(launch_and_wait(L"Z:\\no\\such\\program.exe /x", true), kNotStarted);
  EXPECT_EQ(static_cast<unsigned>(launch_and_wait(L"Z:\\no\\such\\program.exe", false)), 0xCCCCCCCCu);
  EXPECT_FALSE(launch_no_wait(L"Z:\\no\\such\\program.exe", true));
  EXPECT_EQ(shell_execute_and_wait(L"Z:\\no\\such\\program.exe", L"", false, nullptr), kNotStarted);
  EXPECT_EQ(qzproc::exit_code(), 1234);
}

TEST_F(Launch, ChildExitCodeBecomesTheProcessExitCode) {
  EXPECT_EQ(launch_and_wait(L"cmd.exe /c exit 42", false), 42);
  EXPECT_EQ(qzproc::exit_code(), 42);
  EXPECT_EQ(launch_and_wait(sleeper(0, -4), false), -4);
  EXPECT_EQ(qzproc::exit_code(), -4);
  EXPECT_EQ(shell_execute_and_wait(own_folder() + L"\\sleeper.exe", L"100 3010", false, nullptr), 3010);
  EXPECT_EQ(qzproc::exit_code(), 3010);
}

TEST_F(Launch, CloseQuitOrEndSessionEndsTheWaitEarlyAndStaysQueued) {
  struct Row {
    UINT message;
    const char* name;
  } rows[] = {{WM_QUIT, "WM_QUIT"}, {WM_CLOSE, "WM_CLOSE"}, {WM_QUERYENDSESSION, "WM_QUERYENDSESSION"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    drain_queue();
    ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), r.message, 0, 0));
    // The child runs until it is let go, so only an early end of the wait returns.
    HeldChild child(L"wait");
    EXPECT_EQ(launch_and_wait(child.command(5), false), 259);  // still active
    EXPECT_EQ(qzproc::exit_code(), 259);
    MSG m;
    ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, r.message);  // looked at, not taken
  }
}

TEST_F(Launch, OtherMessagesDoNotEndTheWait) {
  ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_USER + 7, 0, 0));
  EXPECT_EQ(launch_and_wait(sleeper(400, 7), false), 7);  // the child's own code: waited to its end
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 7));
}

TEST_F(Launch, ShellWaitDropsInputButKeepsAQuitRequest) {
  ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_USER + 9, 0, 0));
  PostQuitMessage(3);
  EXPECT_EQ(shell_execute_and_wait(own_folder() + L"\\sleeper.exe", L"300 8", false, nullptr), 8);
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(m.wParam, 3u);
  EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Launch, NoWaitStartsAndReturnsWhileTheChildRuns) {
  HeldChild child(L"nowait");
  EXPECT_TRUE(launch_no_wait(child.command(0), false));
  HANDLE process = child.started();
  ASSERT_NE(process, nullptr) << "the child never ran";
  EXPECT_EQ(WaitForSingleObject(process, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "returned only after the child";
  EXPECT_EQ(qzproc::exit_code(), 1234);
  child.release();
  EXPECT_EQ(WaitForSingleObject(process, test_wait::kBoundMs), static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST_F(Launch, LoggedCommandLinesHideThePassword) {
  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  std::wstring log = std::wstring(tmp) + L"qzlaunch_" + std::to_wstring(GetCurrentProcessId()) + L".log";
  DeleteFileW(log.c_str());
  dbglog::reset_for_tests();
  dbglog::enable();
  dbglog::set_detailed(false);
  dbglog::set_log_path(log);
  EXPECT_EQ(launch_and_wait(sleeper(0, 1) + L" /pTopSecret1", false), 1);
  EXPECT_TRUE(launch_no_wait(sleeper(0, 0) + L" -p\"Top Secret2\"", false));
  EXPECT_EQ(launch_and_wait(L"Z:\\no\\such\\program.exe /pTopSecret3", false), kNotStarted);
  dbglog::reset_for_tests();
  std::ifstream f(log.c_str(), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  f.close();
  DeleteFileW(log.c_str());
  ASSERT_GT(bytes.size(), 2u);
  std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
  EXPECT_NE(text.find(L"Attempting to launch: "), std::wstring::npos) << std::string(text.begin(), text.end());
  EXPECT_NE(text.find(L"Launch result 1, exit code 1"), std::wstring::npos);
  EXPECT_NE(text.find(L"Attempting to launch (no wait): "), std::wstring::npos);
  EXPECT_NE(text.find(L"Launch result 1\r\n"), std::wstring::npos);
  EXPECT_EQ(text.find(L"Secret"), std::wstring::npos);
  // A program that is not there is tried once, and the log says why it did not start.
  size_t failed = text.find(L"The program could not be started, error ");
  ASSERT_NE(failed, std::wstring::npos);
  EXPECT_EQ(text.find(L"The program could not be started", failed + 1), std::wstring::npos);
  std::wstring error = text.substr(failed + 40, 2);
  EXPECT_TRUE(error == L"2\r" || error == L"3\r") << std::string(error.begin(), error.end());
  EXPECT_NE(text.find(L"/p***"), std::wstring::npos);
}

// The settings file beside the running program (here the test program).
TEST(PackagedSetting, ReadsBesideTheLauncherAndCutsToCapacity) {
  std::wstring ini = own_folder() + L"\\setup.ini";
  ASSERT_EQ(GetFileAttributesW(ini.c_str()), INVALID_FILE_ATTRIBUTES) << "a setup.ini already lies beside the tests";
  {
    std::ofstream f(ini.c_str(), std::ios::binary);
    f << "[Startup]\r\nProductCode={1234}\r\nLong=" << std::string(1500, 'a') << "\r\n";
  }
  EXPECT_EQ(read_packaged_setting(L"Startup", L"ProductCode"), L"{1234}");
  EXPECT_EQ(read_packaged_setting(L"startup", L"productcode", 3), L"{12");
  EXPECT_EQ(read_packaged_setting(L"Startup", L"Long"), std::wstring(260, L'a'));
  EXPECT_EQ(read_packaged_setting(L"Startup", L"Long", 1400), std::wstring(1400, L'a'));
  EXPECT_EQ(read_packaged_setting(L"Startup", L"Missing"), L"");
  EXPECT_EQ(read_packaged_setting(L"Nowhere", L"ProductCode"), L"");
  DeleteFileW(ini.c_str());
  EXPECT_EQ(read_packaged_setting(L"Startup", L"ProductCode"), L"");
}

}  // namespace
