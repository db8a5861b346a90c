// Byte and file helpers shared by the INI tests (portable).
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

#include "package/text_encoding.h"

namespace initest {

// Bytes of a narrow literal, embedded zeros included: B("a\0b", 3) or B(std::string).
inline qz::Bytes B(const std::string& s) { return qz::Bytes(s.begin(), s.end()); }
inline qz::Bytes B(const char* s, size_t n) { return qz::Bytes(s, s + n); }

// UTF-16 bytes of a char16_t literal, so expectations do not depend on wchar_t.
inline qz::Bytes U16(std::u16string_view s, bool big_endian = false, bool bom = false) {
  qz::Bytes out;
  auto unit = [&](char16_t c) {
    uint8_t lo = static_cast<uint8_t>(c & 0xFF), hi = static_cast<uint8_t>(c >> 8);
    out.push_back(big_endian ? hi : lo);
    out.push_back(big_endian ? lo : hi);
  };
  if (bom) unit(u'\xFEFF');
  for (char16_t c : s) unit(c);
  return out;
}

inline std::string Hex(const qz::Bytes& b) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (uint8_t x : b) {
    s.push_back(d[x >> 4]);
    s.push_back(d[x & 15]);
    s.push_back(' ');
  }
  return s;
}

// A fresh scratch file path per call, removed by the caller's TempFile.
class TempFile {
 public:
  TempFile() {
    static std::atomic<int> n{0};
    path_ = std::filesystem::temp_directory_path() /
            ("qz_ini_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
             std::to_string(n++) + ".ini");
    std::filesystem::remove(path_);
  }
  ~TempFile() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  std::wstring wpath() const { return path_.wstring(); }
  void write(const qz::Bytes& b) const {
    std::ofstream f(path_, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  }
  qz::Bytes read() const {
    std::ifstream f(path_, std::ios::binary);
    return qz::Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace initest
