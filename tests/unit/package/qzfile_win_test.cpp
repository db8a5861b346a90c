// The Windows file layer and the system code pages under the INI readers.
#include <windows.h>

#include <gtest/gtest.h>

#include "ini_test_util.h"
#include "package/IniProfile.h"
#include "package/file_exception.h"
#include "package/inifilex.h"
#include "package/qzfile.h"

using namespace qz;
using initest::B;
using initest::U16;

namespace {

std::wstring Acp(const std::string& bytes, UINT cp) {
  wchar_t out[64];
  int n = MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), out, 64);
  return std::wstring(out, n > 0 ? n : 0);
}

class ThreadLocale {
 public:
  explicit ThreadLocale(LCID lcid) : old_(GetThreadLocale()) { ok_ = SetThreadLocale(lcid) != 0; }
  ~ThreadLocale() { SetThreadLocale(old_); }
  bool ok() const { return ok_; }

 private:
  LCID old_;
  bool ok_;
};

}  // namespace

TEST(QzFileWin, DetectsTheMarkAndRewindsAfterOpening) {
  struct Case {
    qz::Bytes bytes;
    int32_t cp;
    bool bom;
    std::wstring text;
  } cases[] = {
      {U16(u"[S]", false, true), 1200, true, L"[S]"},
      {U16(u"[S]", true, true), 1201, true, L"[S]"},
      {B("\xEF\xBB\xBF[S]"), 65001, true, L"[S]"},
      {B("\xEF\xBB"), 0, false, Acp("\xEF\xBB", CP_ACP)},
      {B(""), 0, false, L""},
  };
  for (const Case& c : cases) {
    initest::TempFile t;
    t.write(c.bytes);
    file f;
    ASSERT_EQ(f.open(t.wpath(), kFileRead, kShareRead, kOpenExisting), 0u);
    EXPECT_EQ(f.code_page(), c.cp);
    EXPECT_EQ(f.has_bom(), c.bom);
    uint8_t first = 0xAA;
    if (!c.bytes.empty()) {
      EXPECT_EQ(f.read(&first, 1), 1u);
      EXPECT_EQ(first, c.bytes[0]) << "position is back at the start";
    }
    EXPECT_EQ(f.read_text(), c.text);
    f.close();
  }
}

TEST(QzFileWin, OpenErrorsAreTheSystemErrors) {
  initest::TempFile t;
  file f;
  EXPECT_EQ(f.open(t.wpath(), kFileRead, kShareRead, kOpenExisting), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(f.open(L"http://localhost/x.ini", kFileRead, kShareRead, kOpenExisting), kErrorNotSupported);
  try {
    f.size();
    ADD_FAILURE() << "size of a file that is not open";
  } catch (const file_exception& e) {
    EXPECT_EQ(e.code(), static_cast<uint32_t>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(e.path(), L"http://localhost/x.ini");
  }

  t.write(B("[S]\r\nk=v\r\n"));
  HANDLE locked = CreateFileW(t.wpath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  inifilex doc;
  EXPECT_FALSE(doc.load(t.wpath(), L"=", false));
  EXPECT_EQ(doc.last_error(), static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
  IniProfile p(t.wpath());
  EXPECT_FALSE(p.load());
  CloseHandle(locked);
  EXPECT_TRUE(doc.load(t.wpath(), L"=", false));
  EXPECT_EQ(doc.last_error(), 0u);
}

TEST(QzFileWin, LoadSharesReadingWithOtherReaders) {
  initest::TempFile t;
  t.write(B("[S]\r\nk=v\r\n"));
  HANDLE reader = CreateFileW(t.wpath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  inifilex doc;
  EXPECT_TRUE(doc.load(t.wpath(), L"=", false));
  CloseHandle(reader);
}

TEST(QzFileWin, AnsiFilesUseTheSystemCodePageBothWays) {
  initest::TempFile t;
  const std::string text = "[S]\r\nk=\x80\xE9\r\n";
  t.write(B(text));
  inifilex doc;
  ASSERT_TRUE(doc.load(t.wpath(), L"=", false));
  EXPECT_EQ(doc.code_page(), 0);
  EXPECT_EQ(doc.get_string(L"S", L"k", L""), Acp("\x80\xE9", CP_ACP));
  if (GetACP() == 1252) {
    EXPECT_EQ(doc.get_string(L"S", L"k", L""), L"\u20AC\u00E9");
  }
  doc.set_modified(true);
  ASSERT_TRUE(doc.save(0, 0, false));
  EXPECT_EQ(t.read(), B(text));
}

TEST(QzFileWin, ForcedAnsiCodePageDecodesAndEncodes) {
  initest::TempFile t;
  t.write(B("[S]\r\nk=\x82\xA0\r\n"));  // Shift-JIS hiragana a
  inifilex doc;
  doc.set_code_page(932);
  ASSERT_TRUE(doc.load(t.wpath(), L"=", false));
  EXPECT_EQ(doc.get_string(L"S", L"k", L""), L"\u3042");
  initest::TempFile out;
  ASSERT_TRUE(doc.save_as(out.wpath(), 0, 0, false));
  EXPECT_EQ(out.read(), B("[S]\r\nk=\x82\xA0\r\n"));
}

TEST(QzFileWin, SaveFailureKeepsTheErrorAndPath) {
  initest::TempFile t;
  inifilex doc;
  doc.set_string(L"S", L"k", L"v");
  std::wstring bad = t.wpath() + L"\\sub\\x.ini";
  EXPECT_FALSE(doc.save_as(bad, 0, 0, false));
  EXPECT_EQ(doc.last_error(), static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(doc.last_failed_path(), bad);

  doc.set_code_page(12345);  // not a code page: the conversion fails, nothing is created
  EXPECT_FALSE(doc.save_as(t.wpath(), 0, 0, false));
  EXPECT_NE(doc.last_error(), 0u);
  EXPECT_EQ(GetFileAttributesW(t.wpath().c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(QzFileWin, IniProfileReadsAnsiInTheThreadCodePage) {
  initest::TempFile t;
  t.write(B("[S]\r\nk=\x82\xA0\r\n"));
  ThreadLocale japanese(MAKELCID(MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN), SORT_DEFAULT));
  ASSERT_TRUE(japanese.ok());
  std::wstring expected = Acp("\x82\xA0", CP_THREAD_ACP);
  IniProfile p(t.wpath());
  ASSERT_TRUE(p.load());
  EXPECT_EQ(p.find(L"S", L"k"), expected);
  EXPECT_EQ(expected, L"\u3042") << "the thread code page follows the thread locale";
  EXPECT_NE(Acp("\x82\xA0", CP_ACP), L"\u3042") << "so the process code page would read it differently";
}

TEST(QzFileWin, DeletionListFileIsUtf16WithMark) {
  initest::TempFile t;
  IniProfile p;
  p.write_string(L"Folders", L"sub", L"C:\\Temp\\{X}\\sub");
  p.write_string(L"Files", L"_QZ1.tmp", L"C:\\Temp\\{X}\\_QZ1.tmp");
  ASSERT_TRUE(p.save(t.wpath()));
  EXPECT_EQ(t.read(), U16(u"[Files]\r\n_QZ1.tmp=C:\\Temp\\{X}\\_QZ1.tmp\r\n\r\n[Folders]\r\nsub=C:\\Temp\\{X}\\sub\r\n",
                          false, true));
  // The system's profile reader agrees with the file.
  wchar_t buf[MAX_PATH];
  GetPrivateProfileStringW(L"Files", L"_qz1.tmp", L"", buf, MAX_PATH, t.wpath().c_str());
  EXPECT_STREQ(buf, L"C:\\Temp\\{X}\\_QZ1.tmp");
}
