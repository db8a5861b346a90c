// portable
#include "package/text_encoding.h"

namespace qz {
namespace {

constexpr uint32_t kReplacement = 0xFFFD;

void push_code_point(std::wstring& out, uint32_t cp) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
      return;
    }
  }
  out.push_back(static_cast<wchar_t>(cp));
}

bool is_high(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Walks wide text as code points; on 16-bit wchar_t pairs are joined, and an unpaired
// surrogate is reported as itself.
template <class F>
void for_each_code_point(std::wstring_view text, F f) {
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = static_cast<uint32_t>(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      c &= 0xFFFF;
      if (is_high(c) && i + 1 < text.size() && is_low(static_cast<uint32_t>(text[i + 1]) & 0xFFFF)) {
        uint32_t lo = static_cast<uint32_t>(text[i + 1]) & 0xFFFF;
        f(0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00));
        ++i;
        continue;
      }
    }
    f(c);
  }
}

void push_unit(Bytes& out, uint32_t u, bool big_endian) {
  uint8_t lo = static_cast<uint8_t>(u & 0xFF), hi = static_cast<uint8_t>((u >> 8) & 0xFF);
  if (big_endian) {
    out.push_back(hi);
    out.push_back(lo);
  } else {
    out.push_back(lo);
    out.push_back(hi);
  }
}

}  // namespace

std::wstring latin1_decode(ByteView bytes, uint32_t) {
  std::wstring out;
  out.reserve(bytes.size());
  for (uint8_t b : bytes) {
    if (b == 0) break;
    out.push_back(static_cast<wchar_t>(b));
  }
  return out;
}

uint32_t latin1_encode(std::wstring_view text, uint32_t, Bytes& out) {
  for (wchar_t c : text) {
    uint32_t u = static_cast<uint32_t>(c);
    out.push_back(u <= 0xFF ? static_cast<uint8_t>(u) : static_cast<uint8_t>('?'));
  }
  return 0;
}

DetectedEncoding detect_encoding(ByteView b) {
  if (b.size() > 1 && b[0] == 0xFF && b[1] == 0xFE) return {kCodePageUtf16LE, 2};
  if (b.size() > 1 && b[0] == 0xFE && b[1] == 0xFF) return {kCodePageUtf16BE, 2};
  if (b.size() > 2 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) return {kCodePageUtf8, 3};
  return {};
}

size_t bom_size(int32_t code_page, bool has_bom) {
  if (!has_bom) return 0;
  if (code_page == kCodePageUtf8) return 3;
  if (code_page == kCodePageUtf16LE || code_page == kCodePageUtf16BE) return 2;
  return 0;
}

std::wstring decode_utf16(ByteView b, bool big_endian) {
  std::wstring out;
  out.reserve((b.size() + 1) / 2);
  const size_t units = (b.size() + 1) / 2;
  auto unit = [&](size_t i) -> uint32_t {
    uint32_t first = b[2 * i];
    uint32_t second = 2 * i + 1 < b.size() ? b[2 * i + 1] : 0;
    return big_endian ? (first << 8 | second) : (second << 8 | first);
  };
  for (size_t i = 0; i < units; ++i) {
    uint32_t u = unit(i);
    if (u == 0) break;
    if constexpr (sizeof(wchar_t) != 2) {
      if (is_high(u) && i + 1 < units && is_low(unit(i + 1))) {
        out.push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00)));
        ++i;
        continue;
      }
    }
    out.push_back(static_cast<wchar_t>(u));
  }
  return out;
}

std::wstring decode_utf8(ByteView d) {
  std::wstring out;
  out.reserve(d.size());
  size_t i = 0;
  const size_t n = d.size();
  while (i < n) {
    uint8_t b = d[i];
    if (b == 0) break;
    if (b < 0x80) {
      out.push_back(static_cast<wchar_t>(b));
      ++i;
      continue;
    }
    int need;
    uint8_t lo = 0x80, hi = 0xBF;
    uint32_t cp;
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2;
      cp = b & 0x0F;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;  // no encoded surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3;
      cp = b & 0x07;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
      out.push_back(static_cast<wchar_t>(kReplacement));
      ++i;
      continue;
    }
    ++i;
    int k = 0;
    for (; k < need && i < n; ++k) {
      uint8_t c = d[i];
      if (c < lo || c > hi) break;
      lo = 0x80;
      hi = 0xBF;
      cp = cp << 6 | (c & 0x3F);
      ++i;
    }
    if (k < need)
      out.push_back(static_cast<wchar_t>(kReplacement));  // the offending byte starts afresh
    else
      push_code_point(out, cp);
  }
  return out;
}

std::wstring decode_text(ByteView bytes, int32_t code_page, AnsiDecoder ansi) {
  if (code_page == kCodePageUtf16LE) return decode_utf16(bytes, false);
  if (code_page == kCodePageUtf16BE) return decode_utf16(bytes, true);
  if (code_page == kCodePageUtf8) return decode_utf8(bytes);
  size_t end = 0;
  while (end < bytes.size() && bytes[end] != 0) ++end;
  if (end == 0) return std::wstring();
  return (ansi ? ansi : latin1_decode)(bytes.first(end), static_cast<uint32_t>(code_page));
}

void append_utf16(std::wstring_view text, bool big_endian, Bytes& out) {
  out.reserve(out.size() + text.size() * 2);
  for (wchar_t c : text) {
    uint32_t u = static_cast<uint32_t>(c);
    if constexpr (sizeof(wchar_t) == 2) {
      push_unit(out, u & 0xFFFF, big_endian);
    } else if (u < 0x10000) {
      push_unit(out, u, big_endian);  // unpaired surrogates go back as they came
    } else if (u <= 0x10FFFF) {
      u -= 0x10000;
      push_unit(out, 0xD800 + (u >> 10), big_endian);
      push_unit(out, 0xDC00 + (u & 0x3FF), big_endian);
    } else {
      push_unit(out, kReplacement, big_endian);
    }
  }
}

void append_utf8(std::wstring_view text, Bytes& out) {
  out.reserve(out.size() + text.size());
  for_each_code_point(text, [&](uint32_t c) {
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = kReplacement;
    if (c < 0x80) {
      out.push_back(static_cast<uint8_t>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<uint8_t>(0xC0 | (c >> 6)));
      out.push_back(static_cast<uint8_t>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<uint8_t>(0xE0 | (c >> 12)));
      out.push_back(static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<uint8_t>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<uint8_t>(0xF0 | (c >> 18)));
      out.push_back(static_cast<uint8_t>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<uint8_t>(0x80 | (c & 0x3F)));
    }
  });
}

uint32_t encode_text(std::wstring_view text, int32_t code_page, bool has_bom, AnsiEncoder ansi, Bytes& out) {
  switch (code_page) {
    case kCodePageUtf16LE:
      if (has_bom) push_unit(out, 0xFEFF, false);
      append_utf16(text, false, out);
      return 0;
    case kCodePageUtf16BE:
      if (has_bom) push_unit(out, 0xFEFF, true);
      append_utf16(text, true, out);
      return 0;
    case kCodePageUtf8:
      if (has_bom) append_utf8(L"\uFEFF", out);
      append_utf8(text, out);
      return 0;
    default:
      if (text.empty()) return 0;
      return (ansi ? ansi : latin1_encode)(text, static_cast<uint32_t>(code_page), out);
  }
}

std::string to_utf8(std::wstring_view text) {
  Bytes b;
  append_utf8(text, b);
  return std::string(b.begin(), b.end());
}

}  // namespace qz
