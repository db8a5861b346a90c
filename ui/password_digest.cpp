// portable
#include "ui/password_digest.h"

#include <array>

namespace ui {

uint32_t crc32(const uint8_t* bytes, size_t size) {
  // Built per call and dropped afterwards: the digest runs a few times per launch.
  std::array<uint32_t, 256> table;
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

uint32_t password_digest(const uint8_t* bytes, size_t size) {
  uint32_t crc = crc32(bytes, size);
  uint32_t b0 = crc & 0xFF, b1 = (crc >> 8) & 0xFF, b2 = (crc >> 16) & 0xFF, b3 = crc >> 24;
  uint32_t c0 = ((b0 << 3) ^ 0x5B) & 0xFF;
  uint32_t c1 = ((b1 >> 5) ^ 0x5B) & 0xFF;
  uint32_t c2 = ((b2 << 7) ^ 0x5B) & 0xFF;
  uint32_t c3 = ((b3 >> 3) ^ 0x5B) & 0xFF;
  return c1 | (c0 << 8) | (c3 << 16) | (c2 << 24);
}

std::wstring digest_text(uint32_t digest) { return std::to_wstring(digest); }

bool digest_matches(const std::wstring& stored, uint32_t digest) { return stored == digest_text(digest); }

}  // namespace ui
