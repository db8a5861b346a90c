// portable
#include "package/string_table.h"

namespace lang {

bool string_table_usable(bool loaded, const qz::inifilex& doc) { return loaded || doc.sections().size() != 0; }

std::shared_ptr<qz::inifilex> parse_string_table(qz::ByteView bytes) {
  auto doc = std::make_shared<qz::inifilex>();
  bool loaded = false;
  try {
    loaded = doc->load_bytes(bytes, L"=", false);
  } catch (...) {
    loaded = false;
  }
  return string_table_usable(loaded, *doc) ? doc : nullptr;
}

std::wstring string_table_lookup(const qz::inifilex& doc, std::wstring_view section, std::wstring_view key) {
  const qz::inifilesectionx* s = doc.sections().find(section);
  const std::wstring* v = s ? s->value(key) : nullptr;
  return v ? cut_text(*v, kMaxTextLength) : std::wstring();
}

DialogFontSpec string_table_font(const qz::inifilex& doc) {
  std::wstring face = string_table_lookup(doc, L"Properties", L"FontName");
  std::wstring size = string_table_lookup(doc, L"Properties", L"FontSize");
  return dialog_font_from(&face, &size);
}

}  // namespace lang
