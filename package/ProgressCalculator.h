// Turns byte counts of a download or decompression into a percentage, a transfer
// line ("%1 of %2 at %3 %4/sec" in positional form) and a time-remaining line.
#pragma once
#include <cstdint>
#include <string>

struct LaunchSettings;

// The unit and template texts, in the UI language.
struct ProgressTexts {
  std::wstring hour;       // text 1615 and a blank
  std::wstring minute;     // text 1616 and a blank
  std::wstring second;     // text 1617
  std::wstring remaining;  // text 1622
  std::wstring kilobytes;  // text 1619
  std::wstring megabytes;  // text 1618
  std::wstring transfer;   // text 1623
};

class ProgressCalculator {
 public:
  using Clock = uint32_t (*)();
  // Texts from the string table of the current language; the system tick count.
  explicit ProgressCalculator(const LaunchSettings& settings);
  ProgressCalculator(ProgressTexts texts, Clock clock);
  virtual ~ProgressCalculator() = default;

  void start(uint32_t total);
  // During the first second rate and time left are 0. A count beyond the total
  // leaves nothing to wait for (0 seconds left).
  void update(uint32_t current, int* percent, uint32_t* rate, uint32_t* seconds_left);
  std::wstring remaining_text(uint32_t seconds) const;
  // Empty when the rate is 0; a total of 0 stands for the started total.
  std::wstring transfer_text(uint32_t rate, uint32_t done, uint32_t total) const;

  const ProgressTexts& texts() const { return texts_; }

 private:
  ProgressTexts texts_;
  Clock clock_;
  uint32_t start_tick_ = 0;
  uint32_t total_ = 0;
  uint32_t current_ = 0;
};

// The percentage of `done` in `total` as the progress displays compute it:
// 0 when the total is below 100.
int progress_percent(uint32_t done, uint32_t total);
