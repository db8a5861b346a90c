// A fresh folder under the temporary folder for one test, removed afterwards.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/utils.h"

// The whole file's bytes, or "<missing>" when it cannot be opened.
inline std::string read_whole_file(const std::wstring& p) {
  HANDLE h = CreateFileW(p.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string out;
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof(buf), &got, nullptr) && got) out.append(buf, got);
  CloseHandle(h);
  return out;
}

class ScratchTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = qz::TemporaryName(0, L"", L"", false);
    ASSERT_FALSE(dir_.empty());
    ASSERT_TRUE(CreateDirectoryW(dir_.c_str(), nullptr));
  }
  void TearDown() override { qz::RemoveFolderTree(dir_); }

  std::wstring path(const std::wstring& name) const { return dir_ + L"\\" + name; }
  static void write_file(const std::wstring& p, const std::string& data) {
    HANDLE h = CreateFileW(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD put = 0;
    WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &put, nullptr);
    CloseHandle(h);
  }
  static std::string read_file(const std::wstring& p) { return read_whole_file(p); }
  static bool exists(const std::wstring& p) { return GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES; }

  std::wstring dir_;
};
