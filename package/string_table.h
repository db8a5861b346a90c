// portable
// A language's string-table file ("0x%04x.ini") once read: its texts by section and
// key, cut to the longest text the launcher takes, and its dialog font. Pure, so the
// reading of hostile tables runs in the native tests and the fuzzer.
#pragma once
#include <memory>
#include <string>
#include <string_view>

#include "package/inifilex.h"
#include "package/language_rules.h"

namespace lang {

// Whether a loaded document is worth keeping: a file that stopped at a damaged line
// keeps the sections before it; one with no section at all is as good as none.
bool string_table_usable(bool loaded, const qz::inifilex& doc);

// The document of a string-table file from its bytes (encoding from the byte order
// mark, separator "="); null when nothing usable is in it.
std::shared_ptr<qz::inifilex> parse_string_table(qz::ByteView bytes);

// The text of `key` in `section`, at most kMaxTextLength characters; empty when absent.
std::wstring string_table_lookup(const qz::inifilex& doc, std::wstring_view section, std::wstring_view key);

// `FontName` and `FontSize` of `Properties`, with the defaults of dialog_font_from.
DialogFontSpec string_table_font(const qz::inifilex& doc);

}  // namespace lang
