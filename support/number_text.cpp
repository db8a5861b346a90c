// portable
#include "support/number_text.h"

namespace qz {
namespace {

int digit_value(wchar_t c, int base) {
  int d = base;
  if (c >= L'0' && c <= L'9') d = c - L'0';
  else if (c >= L'a' && c <= L'f') d = c - L'a' + 10;
  else if (c >= L'A' && c <= L'F') d = c - L'A' + 10;
  return d < base ? d : -1;
}

bool skipped_blank(wchar_t c, NumberRules::Blanks blanks) {
  if (blanks == NumberRules::kSpaces) return c == L' ';
  if (blanks == NumberRules::kSpacesAndTabs) return c == L' ' || c == L'\t';
  if (blanks == NumberRules::kWhiteSpace) return c == L' ' || (c >= L'\t' && c <= L'\r');
  return false;
}

}  // namespace

int32_t read_integer(std::wstring_view s, const NumberRules& rules, bool* digits) {
  size_t i = 0;
  while (i < s.size() && skipped_blank(s[i], rules.blanks)) ++i;
  bool negative = false;
  if (rules.sign && i < s.size() && (s[i] == L'+' || s[i] == L'-')) negative = s[i++] == L'-';
  int base = rules.base;
  const bool prefixed = i + 2 < s.size() && has_hex_prefix(s.substr(i)) && digit_value(s[i + 2], 16) >= 0;
  if (base == 0) base = prefixed ? 16 : 10;
  if (prefixed && base == 16 && (rules.hex_prefix || rules.base == 0)) i += 2;
  // The magnitude never grows past 2^33, so nothing overflows however long the text.
  constexpr uint64_t kCap = uint64_t(1) << 33;
  uint64_t v = 0, low = 0;
  bool any = false;
  for (; i < s.size(); ++i) {
    int d = digit_value(s[i], base);
    if (d < 0) break;
    any = true;
    low = (low * base + d) & 0xFFFFFFFFull;
    v = v * base + d;
    if (v > kCap) v = kCap;
  }
  if (digits) *digits = any;
  switch (rules.overflow) {
    case NumberRules::kLow32Bits: {
      uint32_t u = static_cast<uint32_t>(low);
      return static_cast<int32_t>(negative ? 0u - u : u);
    }
    case NumberRules::kUnsigned32:
      if (!negative && base == 16) return static_cast<int32_t>(static_cast<uint32_t>(v > 0xFFFFFFFFull ? 0xFFFFFFFFull : v));
      [[fallthrough]];
    case NumberRules::kSaturate:
      break;
  }
  if (negative) return v > uint64_t(INT32_MAX) + 1 ? INT32_MIN : static_cast<int32_t>(-static_cast<int64_t>(v));
  return v > uint64_t(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(v);
}

}  // namespace qz
