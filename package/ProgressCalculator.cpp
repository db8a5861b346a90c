// portable
#include "package/ProgressCalculator.h"

#include <cwchar>
#include <vector>

#include "package/positional_text.h"

namespace {

bool has_positional_marker(const std::wstring& text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != L'%') continue;
    wchar_t c = text[i + 1];
    if ((c >= L'1' && c <= L'9') || (c >= L'A' && c <= L'Z')) return true;
    ++i;  // "%%" or another marker: the next character is taken
  }
  return false;
}

}  // namespace

ProgressCalculator::ProgressCalculator(ProgressTexts texts, Clock clock) : texts_(std::move(texts)), clock_(clock) {}

int progress_percent(uint32_t done, uint32_t total) {
  if (total < 100) return 0;
  return static_cast<int>(done / (total / 100));
}

void ProgressCalculator::start(uint32_t total) {
  total_ = total;
  current_ = 0;
  start_tick_ = clock_ ? clock_() : 0;
}

void ProgressCalculator::update(uint32_t current, int* percent, uint32_t* rate, uint32_t* seconds_left) {
  current_ = current;
  uint32_t now = clock_ ? clock_() : start_tick_;
  uint32_t elapsed = now - start_tick_;  // wraps like the tick count
  uint32_t r = 0, left = 0;
  if (elapsed > 1000) {
    r = current / (elapsed / 1000);
    if (r != 0 && current < total_) left = (total_ - current) / r;
  }
  if (percent) *percent = progress_percent(current, total_);
  if (rate) *rate = r;
  if (seconds_left) *seconds_left = left;
}

std::wstring ProgressCalculator::remaining_text(uint32_t s) const {
  std::wstring out = texts_.remaining + L" ";
  if (s / 3600 != 0) out += std::to_wstring(s / 3600) + L" " + texts_.hour;
  s %= 3600;
  if (s / 60 != 0) out += std::to_wstring(s / 60) + L" " + texts_.minute;
  out += std::to_wstring(s % 60) + L" " + texts_.second;
  return out;
}

std::wstring ProgressCalculator::transfer_text(uint32_t rate, uint32_t done, uint32_t total) const {
  if (rate == 0) return std::wstring();
  if (total == 0) total = total_;
  bool kb = rate <= 1048576u;
  unsigned shift = kb ? 10 : 20;
  double divisor = kb ? 1024.0 : 1048576.0;
  wchar_t rate_text[64];
  std::swprintf(rate_text, 64, L"%.1f", rate / divisor);
  const std::wstring done_text = std::to_wstring(done >> shift), total_text = std::to_wstring(total >> shift);
  const std::wstring& unit = kb ? texts_.kilobytes : texts_.megabytes;
  if (has_positional_marker(texts_.transfer))
    return lang::fill_positional(texts_.transfer, {done_text, total_text, rate_text, unit});
  // The program's own text has printf markers ("%d %s of %d %s downloaded at %s
  // %s/sec"): left as they are, the line would show the markers, not the figures.
  return lang::fill_printf_style(texts_.transfer, {done_text, unit, total_text, unit, rate_text, unit});
}
