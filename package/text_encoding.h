// Byte <-> wide text conversions of the INI readers and the file object.
//
// Pure functions over memory. wchar_t may be 16 bits (Windows: UTF-16 code units) or
// 32 bits (elsewhere: code points); UTF-16 input is decoded into whichever the platform
// uses and encoded back losslessly, lone surrogates included. Decoded text always ends
// at the first NUL character, as a zero-terminated buffer would.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qz {

inline constexpr int32_t kCodePageAnsi = 0;        // the system ANSI code page
inline constexpr int32_t kCodePageThreadAnsi = 3;  // the calling thread's ANSI code page
inline constexpr int32_t kCodePageUtf16LE = 1200;
inline constexpr int32_t kCodePageUtf16BE = 1201;
inline constexpr int32_t kCodePageUtf8 = 65001;

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

// Converts text in a multibyte code page (never 1200, 1201 or 65001) to wide text.
using AnsiDecoder = std::wstring (*)(ByteView bytes, uint32_t code_page);
// Appends text converted to a multibyte code page; returns 0 or a system error.
using AnsiEncoder = uint32_t (*)(std::wstring_view text, uint32_t code_page, Bytes& out);

// Stand-ins for the system conversion where there is none: each byte is the
// character of the same number; characters above 0xFF are written as "?".
std::wstring latin1_decode(ByteView bytes, uint32_t code_page);
uint32_t latin1_encode(std::wstring_view text, uint32_t code_page, Bytes& out);

struct DetectedEncoding {
  int32_t code_page = kCodePageAnsi;
  size_t bom_size = 0;  // 0 when there is no byte order mark
};
// FF FE -> 1200, FE FF -> 1201, EF BB BF -> 65001 (each with its mark), else 0.
DetectedEncoding detect_encoding(ByteView bytes);
// Length of the byte order mark of a detected code page (0 when has_bom is false).
size_t bom_size(int32_t code_page, bool has_bom);

// An odd last byte is completed by a zero byte, as the zero padding of a read buffer does.
std::wstring decode_utf16(ByteView bytes, bool big_endian);
// Ill-formed sequences become U+FFFD, one per maximal invalid subpart.
std::wstring decode_utf8(ByteView bytes);
// 1200, 1201 and 65001 are decoded here; every other code page by `ansi` (given the
// bytes up to the first zero byte).
std::wstring decode_text(ByteView bytes, int32_t code_page, AnsiDecoder ansi);

void append_utf16(std::wstring_view text, bool big_endian, Bytes& out);
// Unpaired surrogates and values outside Unicode become U+FFFD.
void append_utf8(std::wstring_view text, Bytes& out);
// Appends the byte order mark (when has_bom and the code page is 1200, 1201 or 65001)
// and the text in the code page; other code pages go through `ansi`. 0 or its error.
uint32_t encode_text(std::wstring_view text, int32_t code_page, bool has_bom, AnsiEncoder ansi, Bytes& out);

// Wide text -> UTF-8 string (for native file names and messages).
std::string to_utf8(std::wstring_view text);

}  // namespace qz
