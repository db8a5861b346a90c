// The text fillers over translated string-table texts: line 1 is the pattern,
// later lines the arguments. Neither filler may read an argument that is not
// there, and without arguments neither may grow the text.
#include "fuzz_input.h"
#include "package/positional_text.h"
#include "package/ProgressCalculator.h"

namespace {
uint32_t g_tick = 0;
uint32_t clock_now() { return g_tick; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::wstring> lines = fuzz_lines(data, size);
  const std::wstring pattern = lines[0];
  std::vector<std::wstring> args(lines.begin() + 1, lines.end());

  FUZZ_CHECK(lang::fill_positional(pattern, {}).size() <= pattern.size());
  FUZZ_CHECK(lang::fill_printf_style(pattern, {}).size() <= pattern.size());
  size_t longest = 0;
  for (const auto& a : args) longest = a.size() > longest ? a.size() : longest;
  FUZZ_CHECK(lang::fill_positional(pattern, args).size() <= pattern.size() * (longest + 1));
  FUZZ_CHECK(lang::fill_printf_style(pattern, args).size() <= pattern.size() * (longest + 1));

  // The calculator with the pattern as its transfer template and numbers from the bytes.
  uint32_t n[4] = {};
  for (size_t i = 0; i < size && i < 16; ++i) n[i / 4] = (n[i / 4] << 8) | data[i];
  ProgressCalculator c(ProgressTexts{L"h ", L"m ", L"s", L"left:", L"KB", L"MB", pattern}, &clock_now);
  g_tick = n[0];
  c.start(n[1]);
  g_tick = n[0] + n[3];
  int percent = 0;
  uint32_t rate = 0, left = 0;
  c.update(n[2], &percent, &rate, &left);
  if (n[2] <= n[1]) FUZZ_CHECK(percent >= 0 && percent <= 101 * 100);
  c.remaining_text(left);
  c.transfer_text(rate, n[2], 0);
  return 0;
}
