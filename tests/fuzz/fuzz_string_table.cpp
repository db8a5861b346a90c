// A language's string-table file as the launcher reads it: texts of the language's
// section, language names and the dialog font; then the dialog templates of the
// factory rewritten with that font. The first two bytes are the language, the rest
// is the file (or, with the top bit of the first byte, a dialog template).
#include "fuzz_input.h"
#include "package/string_table.h"

using namespace lang;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint16_t language = static_cast<uint16_t>((data[0] & 0x7F) | (data[1] << 8));
  qz::ByteView rest(data + 2, size - 2);

  if (data[0] & 0x80) {
    DialogFontSpec font;
    for (bool keep : {false, true}) {
      std::u16string face(font.face.begin(), font.face.end());
      auto out = rewrite_dialog_template(rest.data(), rest.size(), keep, face, font.size, data[1], data[1] & 1);
      if (out) {
        // A rewritten template is itself a sound template.
        FUZZ_CHECK(rewrite_dialog_template(out->data(), out->size(), keep, face, font.size, 0, false).has_value());
      }
    }
    return 0;
  }

  std::shared_ptr<qz::inifilex> doc = parse_string_table(rest);
  if (!doc) return 0;
  const std::wstring section = language_key(language);
  for (const auto& [name, entries] : doc->sections()) {
    for (const auto& [key, entry] : entries.entries()) {
      std::wstring text = string_table_lookup(*doc, std::wstring_view(name.data(), name.size()),
                                              std::wstring_view(key.data(), key.size()));
      FUZZ_CHECK(text.size() <= kMaxTextLength);
      FUZZ_CHECK(entry.value.compare(0, text.size(), text) == 0);
    }
  }
  for (unsigned id : {1102u, 1208u, 1812u, 1813u, 1815u, 1887u, 2010u})
    FUZZ_CHECK(string_table_lookup(*doc, section, std::to_wstring(id)).size() <= kMaxTextLength);
  (void)string_table_lookup(*doc, L"Languages", section);
  DialogFontSpec font = string_table_font(*doc);
  FUZZ_CHECK(!font.face.empty() && font.face.size() <= kMaxFaceLength && font.size >= 1 && font.size <= 72);
  return 0;
}
