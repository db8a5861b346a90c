// portable
// The launcher's one integer reader. Settings, switches, registry texts and
// language lists all read numbers through it; what differs between them (blanks,
// sign, what happens past 32 bits) is said by the rules each caller passes.
#pragma once
#include <cstdint>
#include <string_view>

namespace qz {

struct NumberRules {
  // 10 or 16; 0 reads hexadecimal after "0x" or "0X" (before a hex digit), else decimal.
  int base = 10;
  bool hex_prefix = false;      // with base 16: a "0x" or "0X" before a hex digit is skipped
  // Leading characters skipped: none, blanks, blanks and tabs, or all white space (wcstol).
  enum Blanks { kNoBlanks, kSpaces, kSpacesAndTabs, kWhiteSpace } blanks = kWhiteSpace;
  bool sign = true;             // one leading "+" or "-"
  // What a value beyond 32 bits becomes: the int32 limits (wcstol), the low 32 bits,
  // or, for an unsigned hexadecimal text, all 32 bits ("0xFFFFFFFF" is -1) and the
  // limit above (other texts saturate).
  enum Overflow { kSaturate, kLow32Bits, kUnsigned32 } overflow = kSaturate;
};

// The number at the start of `text`, stopping at the first character that is not
// a digit of the base. *digits (when given) tells whether any digit was read; 0
// without one.
int32_t read_integer(std::wstring_view text, const NumberRules& rules = {}, bool* digits = nullptr);

// wcstol's rules over wide text (white space, sign, digits of the base, base 16
// also after "0x"), saturated at the 32-bit limits.
inline int32_t parse_long32(std::wstring_view text, int base) {
  NumberRules r;
  r.base = base;
  r.hex_prefix = base == 16;
  return read_integer(text, r);
}

// Text that begins with "0x" or "0X".
inline bool has_hex_prefix(std::wstring_view t) {
  return t.size() >= 2 && t[0] == L'0' && (t[1] == L'x' || t[1] == L'X');
}

}  // namespace qz
