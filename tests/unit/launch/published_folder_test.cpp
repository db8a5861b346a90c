// The run's temporary folder as another program finds it: the block opened by the
// product code.
#include "published_folder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The block's bytes as a program that opens it by name sees them; empty when it
// cannot be opened.
std::vector<unsigned char> read_block(const std::wstring& name) {
  HANDLE h = OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str());
  if (!h) return {};
  std::vector<unsigned char> bytes;
  if (void* view = MapViewOfFile(h, FILE_MAP_READ, 0, 0, PublishedFolder::kSize)) {
    const unsigned char* p = static_cast<const unsigned char*>(view);
    bytes.assign(p, p + PublishedFolder::kSize);
    UnmapViewOfFile(view);
  }
  CloseHandle(h);
  return bytes;
}

std::vector<unsigned char> utf16(const std::wstring& text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
  return std::vector<unsigned char>(p, p + text.size() * sizeof(wchar_t));
}

bool zero_from(const std::vector<unsigned char>& bytes, size_t at) {
  for (size_t i = at; i < bytes.size(); ++i)
    if (bytes[i] != 0) return false;
  return true;
}

}  // namespace

TEST(PublishedFolder, OtherProgramsOpenItByTheProductCode) {
  const std::wstring name = L"{5EB1D6A0-0000-4000-8000-" + std::to_wstring(GetCurrentProcessId()) + L"}";
  const std::wstring folder = L"C:\\users\\me\\Temp\\{0D8F1C2E-1111-2222-3333-444455556666}";

  // An older block of the same name that holds more: nothing of it stays behind.
  HANDLE older = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, PublishedFolder::kSize,
                                    name.c_str());
  ASSERT_NE(older, nullptr);
  void* view = MapViewOfFile(older, FILE_MAP_WRITE, 0, 0, PublishedFolder::kSize);
  ASSERT_NE(view, nullptr);
  memset(view, 0xAB, PublishedFolder::kSize);
  UnmapViewOfFile(view);

  PublishedFolder published;
  published.publish(name, folder);
  CloseHandle(older);  // the publisher's handle alone keeps the block
  EXPECT_TRUE(published.is_open());

  // (Wine rounds a section up to a whole page, so its 2048 bytes cannot be told
  // from 4096 here; a view of 2048 bytes is what readers map.)
  std::vector<unsigned char> bytes = read_block(name);
  ASSERT_EQ(bytes.size(), PublishedFolder::kSize);
  std::vector<unsigned char> want = utf16(folder);
  EXPECT_TRUE(std::equal(want.begin(), want.end(), bytes.begin()));
  EXPECT_TRUE(zero_from(bytes, want.size()));  // no terminator, the rest cleared

  // A folder that does not fit is cut to the block, never written past it.
  const std::wstring long_folder = L"C:\\" + std::wstring(1500, L'x');
  published.publish(name, long_folder);
  bytes = read_block(name);
  ASSERT_EQ(bytes.size(), PublishedFolder::kSize);
  want = utf16(long_folder.substr(0, PublishedFolder::kSize / sizeof(wchar_t)));
  EXPECT_TRUE(std::equal(want.begin(), want.end(), bytes.begin()));

  // Closed at the launcher's end: the name is gone with the last handle.
  published.close();
  EXPECT_FALSE(published.is_open());
  EXPECT_TRUE(read_block(name).empty());
}
