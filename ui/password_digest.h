// The installation password is never stored: setup.ini holds a decimal digest of
// it, a scrambled CRC-32 of the password's ANSI bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace ui {

// The standard CRC-32 (reflected polynomial 0xEDB88320, as zlib computes it).
uint32_t crc32(const uint8_t* bytes, size_t size);
// The digest of the password's bytes: the CRC's bytes b0..b3 (little-endian)
// scrambled into c0 = b0<<3 ^ 0x5B, c1 = b1>>5 ^ 0x5B, c2 = b2<<7 ^ 0x5B,
// c3 = b3>>3 ^ 0x5B, laid out as c1 c0 c3 c2.
uint32_t password_digest(const uint8_t* bytes, size_t size);
// The stored form: the digest in decimal ("%u").
std::wstring digest_text(uint32_t digest);
// The stored text equals the digest's decimal text exactly (no trimming, no case).
bool digest_matches(const std::wstring& stored, uint32_t digest);

}  // namespace ui
