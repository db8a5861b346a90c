// portable
// The language rules of the launcher as pure functions: identifier lists of
// setup.ini, matching a wanted language against the package's languages, the order
// of the sources the UI language is chosen from, the wizard caption, the names of
// string-table files and language transforms, and the template rewrite of the
// dialog factory. No system calls, so they run natively and can be fuzzed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lang {

// One piece of an identifier list: "0x" (either case) at its very start means the
// rest is hexadecimal, anything else is decimal; wcstol rules (leading blanks,
// sign, saturation), then the low 16 bits.
uint16_t parse_language_piece(std::wstring_view piece);
// A language id of a switch (/l, or l in setup.ini's cmdline): hexadecimal after a
// leading "0x" (either case), else the leading decimal digits (0 when none); no
// blanks or sign. Only the low 16 bits are kept.
uint16_t parse_language_id(std::wstring_view text);

// An identifier list split at every comma; each piece, empty ones included, is
// converted, except the empty rest after a trailing comma (and an empty text).
// The result is the ordered set: ascending, without repeats.
std::vector<uint16_t> parse_language_list(std::wstring_view text);

// "ALL" in any case (surrounding blanks ignored).
bool is_all_languages(std::wstring_view text);

// What matching looks at.
struct LanguageSets {
  std::vector<uint16_t> supported;  // ascending
  std::vector<uint16_t> exact;      // languages that only an exact match may choose
  bool exact_for_all = false;
};

// Accepts `id` when the package supports it; otherwise (unless every match must be
// exact) replaces it by the supported language of the same primary language with
// sub-language 1, else by the first supported one of that primary language,
// skipping languages that need an exact match.
bool match_language(const LanguageSets& sets, uint16_t& id);

// The system's languages, as the platform reports them.
struct LanguageFacts {
  uint16_t user_default = 0;
  uint16_t system_default = 0;
  uint16_t system_ui = 0;
};

enum class LanguageSource { command_line, requested, user_default, system_default, system_ui, fallback };

struct LanguageChoice {
  uint16_t id = 0;
  LanguageSource source = LanguageSource::fallback;
};

// The first accepted of: the command-line language, the requested one, the
// user's, the system's and the system UI language (0 is never tried); else the
// default language as it is.
LanguageChoice choose_language(const LanguageSets& sets, const LanguageFacts& facts, uint16_t command_line,
                               uint16_t requested, uint16_t default_language);

// The value of switch l in an uninstall command line, read like a list piece;
// 0 when there is none.
uint16_t uninstall_string_language(const std::wstring& uninstall_string);

// "0x%04x" with lower-case digits: names of string-table files, sections and keys.
std::wstring language_key(uint16_t id);
// "0x%04x.ini"
std::wstring string_table_file_name(uint16_t id);
// The identifier in decimal and ".MST".
std::wstring transform_name(uint16_t id);
// A transform is chosen only for a package of several languages, never for a patch.
bool wants_transform(size_t supported_count, bool patch);

// The languages a string resource block is looked up for, in order and without
// repeats: the language, the language OR 0x400, its primary language with
// sub-language 1, 0x0400, 0.
std::vector<uint16_t> string_resource_languages(uint16_t id);

// The caption rule: `generic` (text 1815) when forced or without a product name,
// else `with_product` (text 1887) with its first "%s" (or "%ls") replaced by the
// product name (nothing else in it is interpreted); when the result lacks
// "Brackenwright" in any case, a blank and "Brackenwright Wizard" follow.
std::wstring wizard_caption(bool force_generic, std::wstring_view product, std::wstring_view generic,
                            std::wstring_view with_product);

// Longest text taken from a string-table file; longer ones are cut.
constexpr size_t kMaxTextLength = 8192;
// Language names as the system gives them (VerLanguageNameW's 260-character buffer).
constexpr size_t kMaxLanguageNameLength = 259;
// A font face name fits LOGFONT's 32 characters with the terminator.
constexpr size_t kMaxFaceLength = 31;

// `text` cut to at most `limit` characters (never in the middle of a surrogate pair).
std::wstring cut_text(std::wstring text, size_t limit);

struct DialogFontSpec {
  std::wstring face = L"Tahoma";
  int size = 8;
};
// The font from a string-table file's `FontName` and `FontSize` texts (null when
// absent): an empty face means "Tahoma" and an over-long one is cut; a size that
// is not a number from 1 to 72 means 8.
DialogFontSpec dialog_font_from(const std::wstring* face, const std::wstring* size);

// A dialog template (DLGTEMPLATE or DLGTEMPLATEEX, as stored in the resources)
// rewritten with the given font (unless `keep_font`) and, with `rtl`, the
// right-to-left layout style. Nothing when the template is damaged. UTF-16 text
// goes in and out as 16-bit units whatever wchar_t is.
std::optional<std::vector<uint8_t>> rewrite_dialog_template(const uint8_t* data, size_t size, bool keep_font,
                                                            std::u16string_view face, int point_size,
                                                            uint8_t charset, bool rtl);

}  // namespace lang
