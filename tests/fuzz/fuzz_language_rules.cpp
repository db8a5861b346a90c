// The language rules: the identifier lists of setup.ini (lines 1 to 3: Supported,
// RequireExactLangMatch, RTLLangs), matching and the choice of the UI language
// (sources from the first bytes), the previous installation's uninstall string
// (line 4), the wizard caption (lines 5 and 6 as product name and texts) and the
// names derived from an identifier.
#include <algorithm>

#include "fuzz_input.h"
#include "package/language_rules.h"

using namespace lang;

namespace {

bool in(const std::vector<uint16_t>& set, uint16_t id) { return std::find(set.begin(), set.end(), id) != set.end(); }

bool contains_brackenwright(const std::wstring& text) {
  std::wstring lower = text;
  for (wchar_t& c : lower)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return lower.find(L"brackenwright") != std::wstring::npos;
}

uint16_t word(const uint8_t* data, size_t size, size_t at) {
  return at + 1 < size ? static_cast<uint16_t>(data[at] | (data[at + 1] << 8)) : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::wstring> lines = fuzz_lines(data, size);
  lines.resize(std::max<size_t>(lines.size(), 6));

  LanguageSets sets;
  sets.supported = parse_language_list(lines[0]);
  FUZZ_CHECK(std::is_sorted(sets.supported.begin(), sets.supported.end()));
  FUZZ_CHECK(std::adjacent_find(sets.supported.begin(), sets.supported.end()) == sets.supported.end());
  sets.exact_for_all = is_all_languages(lines[1]);
  if (!sets.exact_for_all) sets.exact = parse_language_list(lines[1]);
  (void)parse_language_list(lines[2]);

  // A match is always a supported language; an exact one is never replaced, and a
  // replacement shares the primary language and needs no exact match.
  for (size_t at = 0; at < std::min<size_t>(size, 16); at += 2) {
    uint16_t id = word(data, size, at), wanted = id;
    if (match_language(sets, id)) {
      FUZZ_CHECK(in(sets.supported, id));
      if (in(sets.supported, wanted)) FUZZ_CHECK(id == wanted);
      if (id != wanted) {
        FUZZ_CHECK(!sets.exact_for_all && !in(sets.exact, id));
        FUZZ_CHECK((id & 0x3FF) == (wanted & 0x3FF));
      }
    } else {
      FUZZ_CHECK(id == wanted);
    }
  }

  LanguageFacts facts{word(data, size, 2), word(data, size, 4), word(data, size, 6)};
  uint16_t previous = uninstall_string_language(lines[3]);
  LanguageChoice choice = choose_language(sets, facts, word(data, size, 0), previous, word(data, size, 8));
  if (choice.source == LanguageSource::fallback)
    FUZZ_CHECK(choice.id == word(data, size, 8));
  else
    FUZZ_CHECK(in(sets.supported, choice.id));

  std::wstring caption = wizard_caption(size && (data[0] & 1), lines[4], lines[5], lines[5]);
  FUZZ_CHECK(contains_brackenwright(caption));

  const uint16_t id = word(data, size, 0);
  std::wstring key = language_key(id);
  FUZZ_CHECK(key.size() == 6 && parse_language_piece(key) == id);
  FUZZ_CHECK(string_table_file_name(id) == key + L".ini");
  std::vector<uint16_t> blocks = string_resource_languages(id);
  FUZZ_CHECK(!blocks.empty() && blocks.front() == id && in(blocks, 0) && in(blocks, 0x0400));
  for (size_t i = 0; i < blocks.size(); ++i) FUZZ_CHECK(std::count(blocks.begin(), blocks.end(), blocks[i]) == 1);

  std::wstring cut = cut_text(lines[4], size % 64);
  FUZZ_CHECK(cut.size() <= size % 64 && lines[4].compare(0, cut.size(), cut) == 0);
  DialogFontSpec font = dialog_font_from(&lines[4], &lines[5]);
  FUZZ_CHECK(!font.face.empty() && font.face.size() <= kMaxFaceLength && font.size >= 1 && font.size <= 72);
  return 0;
}
