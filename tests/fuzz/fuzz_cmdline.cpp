// The command-line tokenizer and SwitchList lookups: line 1 is the command line,
// each later line a switch name looked up (exact and consume vary by line).
#include <optional>

#include "fuzz_input.h"
#include "support/SwitchList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::wstring> lines = fuzz_lines(data, size);
  const std::wstring& text = lines[0];

  std::vector<std::wstring> tokens = tokenize_command_line(text);
  size_t chars = 0;
  for (const auto& t : tokens) {
    FUZZ_CHECK(!t.empty() && t[0] != L' ');
    chars += t.size();
  }
  FUZZ_CHECK(chars <= text.size());

  SwitchList list(text);
  FUZZ_CHECK(list.remaining() == text);
  FUZZ_CHECK(list.count() == tokens.size());
  std::wstring joined;
  for (const auto& t : tokens) joined += (joined.empty() ? L"" : L" ") + t;
  FUZZ_CHECK(list.remaining() == joined);

  for (size_t i = 1; i < lines.size(); ++i) {
    const bool exact = i & 1, consume = i & 2;
    std::wstring value;
    if (list.find(lines[i], &value, exact, consume)) {
      FUZZ_CHECK(!exact || value.empty());
      FUZZ_CHECK(value.size() + lines[i].size() + 1 <= text.size());
    }
    std::optional<std::wstring> opt;
    FUZZ_CHECK(list.find(lines[i], opt, exact, false) == opt.has_value());
  }
  FUZZ_CHECK(list.remaining().size() <= joined.size());
  list.set_text(joined);
  FUZZ_CHECK(list.tokens() == tokens);
  return 0;
}
