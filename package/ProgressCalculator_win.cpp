// The calculator's texts from the string table of the current language.
#include <windows.h>

#include "package/LaunchSettings.h"
#include "package/load_string.h"
#include "package/ProgressCalculator.h"

namespace {

ProgressTexts load_texts(const LaunchSettings& s) {
  ProgressTexts t;
  t.hour = load_string(s, 1615) + L" ";
  t.minute = load_string(s, 1616) + L" ";
  t.second = load_string(s, 1617);
  t.remaining = load_string(s, 1622);
  t.kilobytes = load_string(s, 1619);
  t.megabytes = load_string(s, 1618);
  t.transfer = load_string(s, 1623);
  return t;
}

uint32_t tick_count() { return GetTickCount(); }

}  // namespace

ProgressCalculator::ProgressCalculator(const LaunchSettings& settings)
    : ProgressCalculator(load_texts(settings), &tick_count) {}
