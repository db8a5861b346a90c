// The debug log as files on disk: line forms, byte-order mark, registry switch,
// default path, foreign files, and that logging leaves the last error alone.
#include "support/debuglog.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "../support/links.h"

namespace {

// Removes a scratch folder and everything in it.
inline void remove_tree(const std::wstring& dir) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = dir + L"\\" + name;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        remove_tree(child);
      } else {
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryW(dir.c_str());
}

const wchar_t kWorkbench[] = L"SOFTWARE\\Brackenwright\\31.0\\Workbench";
static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\Setup";

std::string read_bytes(const std::wstring& path) {
  std::ifstream f(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The file's text after its mark; empty when the file does not start with FF FE.
std::wstring log_text(const std::wstring& path) {
  std::string b = read_bytes(path);
  if (b.size() < 2 || static_cast<unsigned char>(b[0]) != 0xFF || static_cast<unsigned char>(b[1]) != 0xFE) return {};
  return std::wstring(reinterpret_cast<const wchar_t*>(b.data() + 2), (b.size() - 2) / 2);
}

std::vector<std::wstring> lines_of(const std::wstring& text) {
  std::vector<std::wstring> out;
  size_t start = 0;
  for (size_t p; (p = text.find(L"\r\n", start)) != std::wstring::npos; start = p + 2) out.push_back(text.substr(start, p - start));
  EXPECT_EQ(start, text.size()) << "text after the last CR LF";
  return out;
}

const std::wregex kShort(LR"(^\d{1,2}-\d{1,2}-\d{4}\[\d\d:\d\d:\d\d [^\]]+\]: (.*)$)");
const std::wregex kLong(LR"(^\d{1,2}-\d{1,2}-\d{4}\[\d\d:\d\d:\d\d [^\]]+\]: (.*)  --  File: (.*), Line: (\d+)$)");

// Each test gets a scratch folder and a private HKEY_CURRENT_USER (the real one is
// shared with other tests running at the same time).
class DebugLog : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    dir_ = std::wstring(tmp) + L"qzlogtest_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::to_wstring(counter_++);
    CreateDirectoryW(dir_.c_str(), nullptr);
    hive_name_ = L"Software\\QzUnitTests\\log_" + std::to_wstring(GetCurrentProcessId());
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, hive_name_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hive_,
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, hive_), ERROR_SUCCESS);
    dbglog::reset_for_tests();
  }
  void TearDown() override {
    dbglog::reset_for_tests();
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegCloseKey(hive_);
    RegDeleteTreeW(HKEY_CURRENT_USER, hive_name_.c_str());
    remove_tree(dir_);
  }
  void set_dword(const wchar_t* name, DWORD v) {
    ASSERT_EQ(RegSetKeyValueW(hive_, kWorkbench, name, REG_DWORD, &v, sizeof v), ERROR_SUCCESS);
  }
  void set_string(const wchar_t* name, const std::wstring& v, DWORD type = REG_SZ) {
    ASSERT_EQ(RegSetKeyValueW(hive_, kWorkbench, name, type, v.c_str(), static_cast<DWORD>((v.size() + 1) * 2)),
              ERROR_SUCCESS);
  }
  std::wstring path(const wchar_t* name) const { return dir_ + L"\\" + name; }

  static int counter_;
  std::wstring dir_;
  std::wstring hive_name_;
  HKEY hive_ = nullptr;
};
int DebugLog::counter_ = 0;

TEST_F(DebugLog, OffWithoutSwitchesCreatesNoFile) {
  dbglog::set_log_path(path(L"a.log"));
  QZ_LOG(L"nothing %d", 1);
  EXPECT_FALSE(exists(path(L"a.log")));
  EXPECT_FALSE(dbglog::is_possibly_on());  // decided and off: callers may skip building messages
}

TEST_F(DebugLog, SwitchGivesShortLinesWithOneMarkAcrossProcesses) {
  const std::wstring p = path(L"short.log");
  for (int run = 0; run < 2; ++run) {  // the second run stands for the relaunched copy appending
    dbglog::reset_for_tests();
    dbglog::enable();
    dbglog::set_detailed(false);
    dbglog::set_log_path(p);
    QZ_LOG(L"run %d value %s", run, L"text");
  }
  std::string bytes = read_bytes(p);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE"));
  EXPECT_EQ(bytes.find("\xFF\xFE", 2), std::string::npos) << "second mark written";
  auto lines = lines_of(log_text(p));
  ASSERT_EQ(lines.size(), 2u);
  std::wsmatch m;
  ASSERT_TRUE(std::regex_match(lines[0], m, kShort)) << lines[0];
  EXPECT_EQ(m[1].str(), L"run 0 value text");
  ASSERT_TRUE(std::regex_match(lines[1], m, kShort)) << lines[1];
  EXPECT_EQ(m[1].str(), L"run 1 value text");
}

TEST_F(DebugLog, LongFormNamesLastFolderAndFile) {
  struct Row {
    const wchar_t* source;
    const wchar_t* shown;
  } rows[] = {
      {L"Src\\Runtime\\MSI\\Shared\\Setup\\Setup", L"Setup\\Setup"},
      {L"Src\\Runtime\\Shared\\Setup\\SetupPrereqMgr", L"Setup\\SetupPrereqMgr"},
      {L"support\\utils", L"support\\utils"},
      {L"Setup", L"Setup"},
      {L"", L""},
  };
  const std::wstring p = path(L"long.log");
  dbglog::enable();
  dbglog::set_log_path(p);
  for (const Row& r : rows) dbglog::log(L"m", r.source, 77);
  auto lines = lines_of(log_text(p));
  ASSERT_EQ(lines.size(), std::size(rows));
  for (size_t i = 0; i < lines.size(); ++i) {
    std::wsmatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, kLong)) << lines[i];
    EXPECT_EQ(m[1].str(), L"m");
    EXPECT_EQ(m[2].str(), rows[i].shown);
    EXPECT_EQ(m[3].str(), L"77");
  }
}

TEST_F(DebugLog, OnlyTheDwordOneTurnsTheRegistrySwitchOn) {
  struct Row {
    const char* name;
    DWORD type;  // 0: value absent
    DWORD dword;
    const wchar_t* text;
    bool on;
  } rows[] = {
      {"dword 1", REG_DWORD, 1, nullptr, true},
      {"dword 2", REG_DWORD, 2, nullptr, false},
      {"dword 0", REG_DWORD, 0, nullptr, false},
      {"string 1", REG_SZ, 0, L"1", false},
      {"absent", 0, 0, nullptr, false},
  };
  set_string(L"VerboseLogPath", dir_);
  const std::wstring p = path(L"Brackenwright.log");
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    DeleteFileW(p.c_str());
    RegDeleteKeyValueW(hive_, kWorkbench, L"DoVerboseLogging");
    if (r.type == REG_DWORD) set_dword(L"DoVerboseLogging", r.dword);
    if (r.type == REG_SZ) set_string(L"DoVerboseLogging", r.text);
    dbglog::reset_for_tests();
    QZ_LOG(L"hello");
    EXPECT_EQ(dbglog::is_enabled(), r.on);
    EXPECT_EQ(exists(p), r.on);
    if (r.on) {
      auto lines = lines_of(log_text(p));
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_TRUE(std::regex_match(lines[0], kLong)) << lines[0];  // the registry alone keeps the long form
    }
  }
}

TEST_F(DebugLog, RegistryIsReadOnlyAtTheFirstCall) {
  set_string(L"VerboseLogPath", dir_);
  QZ_LOG(L"first");
  set_dword(L"DoVerboseLogging", 1);
  QZ_LOG(L"second");
  EXPECT_FALSE(dbglog::is_enabled());
  EXPECT_FALSE(exists(path(L"Brackenwright.log")));
}

TEST_F(DebugLog, DefaultPathIsVerboseLogPathOrOwnFolder) {
  wchar_t exe[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring own(exe, n);
  own = own.substr(0, own.find_last_of(L'\\'));
  EXPECT_EQ(dbglog::default_log_path(), own + L"\\Brackenwright.log");
  set_string(L"VerboseLogPath", dir_ + L"\\");
  EXPECT_EQ(dbglog::default_log_path(), dir_ + L"\\Brackenwright.log");
  set_string(L"VerboseLogPath", L"");
  EXPECT_EQ(dbglog::default_log_path(), own + L"\\Brackenwright.log");
  // A folder longer than 260 characters is refused, never overrun or cut.
  set_string(L"VerboseLogPath", L"C:\\" + std::wstring(257, L'x'));
  EXPECT_EQ(dbglog::default_log_path(), L"C:\\" + std::wstring(257, L'x') + L"\\Brackenwright.log");
  set_string(L"VerboseLogPath", L"C:\\" + std::wstring(258, L'x'));
  EXPECT_EQ(dbglog::default_log_path(), own + L"\\Brackenwright.log");
  // A clone's default folder is the first launcher's; VerboseLogPath still wins.
  dbglog::set_default_folder(dir_);
  EXPECT_EQ(dbglog::default_log_path(), dir_ + L"\\Brackenwright.log");
  set_string(L"VerboseLogPath", own);
  EXPECT_EQ(dbglog::default_log_path(), own + L"\\Brackenwright.log");  // Stored as REG_EXPAND_SZ, the folder is expanded.
  SetEnvironmentVariableW(L"QZ_LOG_TEST_FOLDER", dir_.c_str());
  set_string(L"VerboseLogPath", L"%QZ_LOG_TEST_FOLDER%\\logs", REG_EXPAND_SZ);
  EXPECT_EQ(dbglog::default_log_path(), dir_ + L"\\logs\\Brackenwright.log");
  SetEnvironmentVariableW(L"QZ_LOG_TEST_FOLDER", nullptr);
}

TEST_F(DebugLog, ForeignFileIsNeverWrittenInto) {
  const std::wstring p = path(L"mine.log");
  const std::string foreign = "someone else's notes\r\n";
  { std::ofstream(p.c_str(), std::ios::binary) << foreign; }
  dbglog::enable();
  dbglog::set_detailed(false);
  dbglog::set_log_path(p);
  QZ_LOG(L"one");
  QZ_LOG(L"two");
  EXPECT_EQ(read_bytes(p), foreign);
  EXPECT_EQ(dbglog::current_log_path(), path(L"mine_1.log"));
  EXPECT_EQ(lines_of(log_text(path(L"mine_1.log"))).size(), 2u);
  // The relaunched copy makes the same choice and appends to the same file.
  dbglog::reset_for_tests();
  dbglog::enable();
  dbglog::set_log_path(p);
  QZ_LOG(L"three");
  EXPECT_EQ(lines_of(log_text(path(L"mine_1.log"))).size(), 3u);
}

TEST_F(DebugLog, LockedFileDropsTheLineAndLaterLinesArrive) {
  const std::wstring p = path(L"locked.log");
  dbglog::enable();
  dbglog::set_log_path(p);
  QZ_LOG(L"before");
  HANDLE h = CreateFileW(p.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  QZ_LOG(L"dropped");
  CloseHandle(h);
  QZ_LOG(L"after");
  std::wstring text = log_text(p);
  EXPECT_EQ(lines_of(text).size(), 2u);
  EXPECT_EQ(text.find(L"dropped"), std::wstring::npos);
}

TEST_F(DebugLog, LastErrorSurvivesWrittenAndDroppedLines) {
  for (const std::wstring& p : {path(L"ok.log"), path(L"no\\such\\folder\\x.log")}) {
    dbglog::reset_for_tests();
    dbglog::enable();
    dbglog::set_log_path(p);
    SetLastError(4242);
    QZ_LOG(L"line %s", p.c_str());
    EXPECT_EQ(GetLastError(), 4242u);
    SetLastError(4243);
    (void)dbglog::current_log_path();
    (void)dbglog::default_log_path();
    EXPECT_EQ(GetLastError(), 4243u);
  }
  SetLastError(4244);
  dbglog::reset_for_tests();
  QZ_LOG(L"undecided and off");
  EXPECT_EQ(GetLastError(), 4244u);
}

TEST_F(DebugLog, LongMessagesArriveWhole) {
  const std::wstring p = path(L"big.log");
  dbglog::enable();
  dbglog::set_detailed(false);
  dbglog::set_log_path(p);
  std::wstring big(100000, L'z');
  QZ_LOG(L"%s|", big.c_str());
  auto lines = lines_of(log_text(p));
  ASSERT_EQ(lines.size(), 1u);
  size_t colon = lines[0].find(L"]: ");
  ASSERT_NE(colon, std::wstring::npos);
  EXPECT_EQ(lines[0].substr(colon + 3), big + L"|");
}

// An elevated launcher (as every process under Wine is) never writes through a
// link: a hard link, a link to a file or a folder link on the way, whether named
// by the switch or by VerboseLogPath, is refused and the lines go to the
// launcher's own place, which says why.
TEST_F(DebugLog, NoLineGoesThroughALink) {
  const std::wstring target = path(L"target.txt"), other = path(L"other.txt"), real = path(L"real"),
                     fallback = path(L"fallback");
  for (const std::wstring& f : {target, other}) std::ofstream(f.c_str(), std::ios::binary) << "precious";
  CreateDirectoryW(real.c_str(), nullptr);
  CreateDirectoryW(fallback.c_str(), nullptr);
  ASSERT_TRUE(CreateHardLinkW(path(L"hard.log").c_str(), target.c_str(), nullptr));
  ASSERT_TRUE(test_links::make_file_link(path(L"sym.log"), other));  // one name: only the link betrays it
  ASSERT_TRUE(test_links::make_directory_link(path(L"dirlink"), real));
  struct { std::wstring switch_path, verbose_folder; } rows[] = {
      {path(L"hard.log"), L""},
      {path(L"sym.log"), L""},
      {path(L"dirlink\\via.log"), L""},
      {L"", path(L"dirlink")},
  };
  for (const auto& r : rows) {
    dbglog::reset_for_tests();
    set_string(L"VerboseLogPath", r.verbose_folder);
    dbglog::enable();
    dbglog::set_default_folder(fallback);
    if (!r.switch_path.empty()) dbglog::set_log_path(r.switch_path);
    QZ_LOG(L"one");
    QZ_LOG(L"two");
    const std::wstring refused = r.switch_path.empty() ? r.verbose_folder + L"\\Brackenwright.log" : r.switch_path;
    std::vector<std::wstring> lines = lines_of(log_text(fallback + L"\\Brackenwright.log"));
    ASSERT_EQ(lines.size(), 3u) << refused;
    EXPECT_NE(lines[0].find(L"The log file " + refused + L" is a link"), std::wstring::npos) << lines[0];
    DeleteFileW((fallback + L"\\Brackenwright.log").c_str());
  }
  EXPECT_EQ(read_bytes(target), "precious");
  EXPECT_EQ(read_bytes(other), "precious");
  EXPECT_FALSE(exists(real + L"\\via.log"));
  EXPECT_FALSE(exists(real + L"\\Brackenwright.log"));
  test_links::drop_link(path(L"dirlink"));
  test_links::run_host(L"Z:\\bin\\rm", L"-f \"" + test_links::unix_name(path(L"sym.log")) + L"\"");
}

}  // namespace
