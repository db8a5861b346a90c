#include <cstring>
#include <vector>

#include "scratch.h"

using namespace qz;

namespace {

struct Event {
  int code;
  uint64_t arg;
  std::wstring path;
  bool operator==(const Event& o) const { return code == o.code && arg == o.arg && path == o.path; }
};

// Records every callback and answers from a script: (code, occurrence) -> answer.
struct Recorder {
  std::vector<Event> events;
  struct Rule {
    int code;
    int nth;  // 1-based occurrence of the code
    int answer;
  };
  std::vector<Rule> rules;
  int seen[8] = {};

  static int callback(int code, uint64_t arg, const std::wstring* path, void* context) {
    auto* self = static_cast<Recorder*>(context);
    self->events.push_back({code, arg, path ? *path : L""});
    int n = ++self->seen[code & 7];
    for (const Rule& r : self->rules)
      if (r.code == code && r.nth == n) return r.answer;
    return kCopyContinue;
  }
  std::vector<int> codes() const {
    std::vector<int> out;
    for (const Event& e : events) out.push_back(e.code);
    return out;
  }
};

// A memory source standing in for the Internet transport.
struct MemorySource : CopySource {
  std::string data;
  size_t pos = 0;
  uint64_t announced;
  explicit MemorySource(std::string d, uint64_t size) : data(std::move(d)), announced(size) {}
  bool read(void* buffer, DWORD size, DWORD* got) override {
    size_t n = std::min<size_t>(size, data.size() - pos);
    memcpy(buffer, data.data() + pos, n);
    pos += n;
    *got = static_cast<DWORD>(n);
    return true;
  }
  uint64_t size() override { return announced; }
  bool times(FILETIME*, FILETIME*, FILETIME*) override { return false; }
};
std::wstring g_opened_url;
uint64_t g_url_announced = 0;
std::unique_ptr<CopySource> open_memory(const std::wstring& url) {
  g_opened_url = url;
  return std::make_unique<MemorySource>("0123456789", g_url_announced);
}

}  // namespace

class CopyTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    source_ = path(L"src.bin");
    target_ = path(L"out\\deeper\\dst.bin");
    write_file(source_, std::string(10000, 'a') + std::string(5000, 'b'));
  }
  void TearDown() override {
    set_copy_progress(nullptr, nullptr);
    set_url_source_opener(nullptr);
    ScratchTest::TearDown();
  }
  bool copy(Recorder& r, DWORD block = 4096, bool keep_times = false) {
    ScopedCopyProgress scope(&Recorder::callback, &r);
    return CopyFileWithProgress(source_, target_, block, keep_times);
  }
  std::wstring source_, target_;
};

TEST_F(CopyTest, AnnouncesEveryStepInOrder) {
  Recorder r;
  ASSERT_TRUE(copy(r));
  const std::vector<Event> expected = {
      {kCopySource, 0, source_}, {kCopyTarget, 0, target_}, {kCopyTotal, 15000, L""}, {kCopyStart, 0, L""},
      {kCopyBlock, 4096, L""},   {kCopyBlock, 8192, L""},   {kCopyBlock, 12288, L""}, {kCopyBlock, 15000, L""},
      {kCopyDone, 15000, L""},
  };
  EXPECT_EQ(r.events, expected);
  EXPECT_EQ(read_file(target_), read_file(source_));
  EXPECT_EQ(last_failure().error, 0u);
}

TEST_F(CopyTest, AbortAtStartLeavesAnExistingTargetAlone) {
  CreateParentFolder(target_);
  write_file(target_, "old");
  Recorder r;
  r.rules = {{kCopyStart, 1, kCopyAbort}};
  EXPECT_FALSE(copy(r));
  EXPECT_EQ(r.codes(), (std::vector<int>{kCopySource, kCopyTarget, kCopyTotal, kCopyStart}));
  EXPECT_EQ(read_file(target_), "old");
  EXPECT_EQ(last_failure().error, static_cast<DWORD>(ERROR_CANCELLED));
}

TEST_F(CopyTest, AbortDuringBlocksFailsAndRemovesThePartialTarget) {
  Recorder r;
  r.rules = {{kCopyBlock, 2, kCopyAbort}};
  EXPECT_FALSE(copy(r));
  EXPECT_EQ(r.codes(), (std::vector<int>{kCopySource, kCopyTarget, kCopyTotal, kCopyStart, kCopyBlock, kCopyBlock,
                                         kCopyFailed}));
  EXPECT_EQ(r.events.back().arg, 8192u);
  EXPECT_FALSE(exists(target_));
}

TEST_F(CopyTest, CopyAgainAfterFailureStartsOver) {
  Recorder r;
  r.rules = {{kCopyBlock, 1, kCopyAbort}, {kCopyFailed, 1, kCopyAgain}};
  EXPECT_TRUE(copy(r, 8192));
  EXPECT_EQ(r.codes(), (std::vector<int>{kCopySource, kCopyTarget, kCopyTotal, kCopyStart, kCopyBlock, kCopyFailed,
                                         kCopyTotal, kCopyStart, kCopyBlock, kCopyBlock, kCopyDone}));
  EXPECT_EQ(r.events[8].arg, 8192u);  // counting starts again from zero
  EXPECT_EQ(read_file(target_), read_file(source_));
  EXPECT_EQ(last_failure().error, 0u);
}

TEST_F(CopyTest, KeepsTimesOnlyWhenAsked) {
  FILETIME old_time{0x2A69C000, 0x01C0F35D};  // 2001
  HANDLE h = CreateFileW(source_.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  SetFileTime(h, &old_time, &old_time, &old_time);
  CloseHandle(h);
  auto write_time = [](const std::wstring& p) {
    WIN32_FILE_ATTRIBUTE_DATA d{};
    GetFileAttributesExW(p.c_str(), GetFileExInfoStandard, &d);
    return (static_cast<uint64_t>(d.ftLastWriteTime.dwHighDateTime) << 32) | d.ftLastWriteTime.dwLowDateTime;
  };
  Recorder r;
  ASSERT_TRUE(copy(r, 0, true));
  EXPECT_EQ(write_time(target_), write_time(source_));
  ASSERT_TRUE(copy(r, 0xFFFFFFFF, false));  // an absurd block size is cut, not allocated
  EXPECT_NE(write_time(target_), write_time(source_));
  EXPECT_EQ(read_file(target_), read_file(source_));
}

TEST_F(CopyTest, FailuresBeforeCopyingAreRecorded) {
  Recorder r;
  source_ = path(L"missing.bin");
  EXPECT_FALSE(copy(r));
  EXPECT_EQ(last_failure().error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(last_failure().path, source_);
  EXPECT_EQ(r.codes(), (std::vector<int>{kCopySource, kCopyTarget}));

  // The target's folder cannot be made: a file is in the way.
  source_ = path(L"src.bin");
  write_file(path(L"blocker"), "x");
  target_ = path(L"blocker\\dst.bin");
  Recorder r2;
  EXPECT_FALSE(copy(r2));
  EXPECT_EQ(last_failure().path, path(L"blocker"));
  EXPECT_TRUE(r2.events.empty());

  // Copying a file onto itself must not truncate it.
  target_ = source_;
  Recorder r3;
  EXPECT_FALSE(copy(r3));
  EXPECT_EQ(read_file(source_).size(), 15000u);
}

TEST_F(CopyTest, InternetSourcesGoThroughTheSeam) {
  Recorder r;
  source_ = L"HTTPS://example.invalid/file.bin";
  EXPECT_FALSE(copy(r));
  EXPECT_EQ(last_failure().error, static_cast<DWORD>(ERROR_NOT_SUPPORTED));

  set_url_source_opener(&open_memory);
  g_url_announced = 10;
  Recorder ok;
  EXPECT_TRUE(copy(ok, 4));
  EXPECT_EQ(g_opened_url, source_);
  EXPECT_EQ(read_file(target_), "0123456789");

  // A transfer that ends before its announced size (a cut connection) is a failure.
  g_url_announced = 20;
  Recorder cut;
  EXPECT_FALSE(copy(cut, 4));
  EXPECT_EQ(cut.codes().back(), kCopyFailed);
  EXPECT_EQ(last_failure().error, static_cast<DWORD>(ERROR_HANDLE_EOF));
  EXPECT_FALSE(exists(target_));
}
