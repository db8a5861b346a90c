// portable
#include "package/language_rules.h"

#include <algorithm>
#include <cstdio>

#include "package/inifilex.h"
#include "support/SwitchList.h"
#include "support/number_text.h"

namespace lang {

namespace {


wchar_t lower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool contains_ignoring_case(std::wstring_view text, std::wstring_view word) {
  if (word.size() > text.size()) return false;
  for (size_t i = 0; i + word.size() <= text.size(); ++i) {
    size_t j = 0;
    while (j < word.size() && lower(text[i + j]) == lower(word[j])) ++j;
    if (j == word.size()) return true;
  }
  return false;
}

bool in(const std::vector<uint16_t>& set, uint16_t id) { return std::find(set.begin(), set.end(), id) != set.end(); }

void push_unique(std::vector<uint16_t>& out, uint16_t id) {
  if (!in(out, id)) out.push_back(id);
}

}  // namespace

uint16_t parse_language_piece(std::wstring_view piece) {
  int32_t value = qz::has_hex_prefix(piece) ? qz::parse_long32(piece.substr(2), 16) : qz::parse_long32(piece, 10);
  return static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFF);
}

uint16_t parse_language_id(std::wstring_view text) {
  qz::NumberRules r;
  r.base = 0;
  r.blanks = qz::NumberRules::kNoBlanks;
  r.sign = false;
  r.overflow = qz::NumberRules::kUnsigned32;
  return static_cast<uint16_t>(static_cast<uint32_t>(qz::read_integer(text, r)) & 0xFFFF);
}

std::vector<uint16_t> parse_language_list(std::wstring_view text) {
  std::vector<uint16_t> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t comma = text.find(L',', start);
    std::wstring_view piece = text.substr(start, comma == std::wstring_view::npos ? std::wstring_view::npos : comma - start);
    out.push_back(parse_language_piece(piece));
    if (comma == std::wstring_view::npos) break;
    start = comma + 1;
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

bool is_all_languages(std::wstring_view text) {
  while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == L' ' || text.back() == L'\t')) text.remove_suffix(1);
  return text.size() == 3 && lower(text[0]) == L'a' && lower(text[1]) == L'l' && lower(text[2]) == L'l';
}

bool match_language(const LanguageSets& sets, uint16_t& id) {
  if (in(sets.supported, id)) return true;
  if (sets.exact_for_all) return false;
  const uint16_t primary = id & 0x3FF;
  const uint16_t primary_default = primary | 0x400;
  for (uint16_t s : sets.supported)
    if (s == primary_default && !in(sets.exact, s)) {
      id = s;
      return true;
    }
  for (uint16_t s : sets.supported)
    if ((s & 0x3FF) == primary && !in(sets.exact, s)) {
      id = s;
      return true;
    }
  return false;
}

LanguageChoice choose_language(const LanguageSets& sets, const LanguageFacts& facts, uint16_t command_line,
                               uint16_t requested, uint16_t default_language) {
  // 0 means "not known" for every source: it is never offered for matching, so an
  // identifier 0 in the supported list cannot be picked for an absent switch.
  const std::pair<uint16_t, LanguageSource> sources[] = {
      {command_line, LanguageSource::command_line},      {requested, LanguageSource::requested},
      {facts.user_default, LanguageSource::user_default}, {facts.system_default, LanguageSource::system_default},
      {facts.system_ui, LanguageSource::system_ui},
  };
  for (const auto& [id, source] : sources) {
    if (id == 0) continue;
    uint16_t candidate = id;
    if (match_language(sets, candidate)) return {candidate, source};
  }
  return {default_language, LanguageSource::fallback};
}

uint16_t uninstall_string_language(const std::wstring& uninstall_string) {
  SwitchList list(uninstall_string);
  std::wstring value;
  if (!list.find(L"l", &value, false, false)) return 0;
  return parse_language_piece(value);
}

std::wstring language_key(uint16_t id) {
  static const wchar_t digits[] = L"0123456789abcdef";
  std::wstring out = L"0x";
  for (int shift = 12; shift >= 0; shift -= 4) out += digits[(id >> shift) & 0xF];
  return out;
}

std::wstring string_table_file_name(uint16_t id) { return language_key(id) + L".ini"; }

std::wstring transform_name(uint16_t id) { return std::to_wstring(id) + L".MST"; }

bool wants_transform(size_t supported_count, bool patch) { return supported_count > 1 && !patch; }

std::vector<uint16_t> string_resource_languages(uint16_t id) {
  std::vector<uint16_t> out;
  push_unique(out, id);
  push_unique(out, static_cast<uint16_t>(id | 0x400));
  push_unique(out, static_cast<uint16_t>((id & 0x3FF) | 0x400));
  push_unique(out, 0x0400);
  push_unique(out, 0);
  return out;
}

std::wstring wizard_caption(bool force_generic, std::wstring_view product, std::wstring_view generic,
                            std::wstring_view with_product) {
  std::wstring caption;
  if (force_generic || product.empty()) {
    caption = generic;
  } else {
    // The pattern comes from a string-table file: only its first %s is filled in,
    // so a stray "%n" or a second "%s" stays text instead of reading past the name.
    caption = with_product;
    size_t at = caption.find(L"%s");
    size_t at_ls = caption.find(L"%ls");
    if (at_ls != std::wstring::npos && (at == std::wstring::npos || at_ls < at))
      caption.replace(at_ls, 3, product);
    else if (at != std::wstring::npos)
      caption.replace(at, 2, product);
  }
  if (!contains_ignoring_case(caption, L"Brackenwright")) caption += L" Brackenwright Wizard";
  return caption;
}

std::wstring cut_text(std::wstring text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t n = limit;
  // Do not leave the high half of a surrogate pair at the end.
  if (n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
  text.resize(n);
  return text;
}

DialogFontSpec dialog_font_from(const std::wstring* face, const std::wstring* size) {
  DialogFontSpec spec;
  if (face && !face->empty()) spec.face = cut_text(*face, kMaxFaceLength);
  if (size && !size->empty()) {
    int32_t points = qz::has_hex_prefix(*size) ? qz::parse_long32(std::wstring_view(*size).substr(2), 16)
                                                   : qz::parse_long32(*size, 10);
    if (points >= 1 && points <= 72) spec.size = points;
  }
  return spec;
}

// --- dialog templates ---

namespace {

constexpr uint32_t kDsSetFont = 0x40;
constexpr uint32_t kWsExLayoutRtl = 0x00400000;

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;
  bool ok = true;
  uint16_t word() {
    if (pos + 2 > size) {
      ok = false;
      return 0;
    }
    uint16_t v = static_cast<uint16_t>(data[pos] | (data[pos + 1] << 8));
    pos += 2;
    return v;
  }
  uint32_t dword() {
    uint32_t lo = word();
    uint32_t hi = word();
    return lo | (hi << 16);
  }
  // A zero-terminated UTF-16 string.
  void skip_string() {
    while (ok && word() != 0) {
    }
  }
  // Either 0, 0xFFFF and an ordinal, or a string.
  void skip_sz_or_ord() {
    size_t at = pos;
    uint16_t first = word();
    if (!ok || first == 0) return;
    if (first == 0xFFFF) {
      word();
      return;
    }
    pos = at;
    skip_string();
  }
};

void put_word(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void put_dword_at(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

std::optional<std::vector<uint8_t>> rewrite_dialog_template(const uint8_t* data, size_t size, bool keep_font,
                                                            std::u16string_view face, int point_size,
                                                            uint8_t charset, bool rtl) {
  if (!data) return std::nullopt;
  Reader r{data, size};
  const bool ex = size >= 4 && r.word() == 1 && r.word() == 0xFFFF;
  r.pos = 0;
  size_t style_at, ex_style_at;
  if (ex) {
    r.pos = 8;  // version, signature, help id
    ex_style_at = r.pos;
    r.dword();
    style_at = r.pos;
    r.dword();
  } else {
    style_at = 0;
    r.dword();
    ex_style_at = r.pos;
    r.dword();
  }
  r.word();              // item count
  r.pos += 8;            // x, y, cx, cy
  if (!r.ok || r.pos > size) return std::nullopt;
  const uint32_t style = static_cast<uint32_t>(data[style_at] | data[style_at + 1] << 8 | data[style_at + 2] << 16) |
                         static_cast<uint32_t>(data[style_at + 3]) << 24;
  const uint32_t ex_style = static_cast<uint32_t>(data[ex_style_at] | data[ex_style_at + 1] << 8 |
                                                  data[ex_style_at + 2] << 16) |
                            static_cast<uint32_t>(data[ex_style_at + 3]) << 24;
  r.skip_sz_or_ord();  // menu
  r.skip_sz_or_ord();  // class
  r.skip_string();     // title
  if (!r.ok) return std::nullopt;
  const size_t font_at = r.pos;
  uint16_t weight = 400;
  uint8_t italic = 0;
  if (style & kDsSetFont) {
    r.word();
    if (ex) {
      weight = r.word();
      if (r.pos + 2 > size) return std::nullopt;
      italic = data[r.pos];
      r.pos += 2;
    }
    r.skip_string();
    if (!r.ok) return std::nullopt;
  }
  const size_t header_end = r.pos;
  const size_t items_at = (header_end + 3) & ~size_t(3);

  std::vector<uint8_t> out(data, data + font_at);
  uint32_t new_style = style;
  uint32_t new_ex_style = rtl ? (ex_style | kWsExLayoutRtl) : ex_style;
  if (keep_font) {
    out.insert(out.end(), data + font_at, data + header_end);
  } else {
    new_style |= kDsSetFont;
    put_word(out, static_cast<uint16_t>(point_size));
    if (ex) {
      put_word(out, weight);
      out.push_back(italic);
      out.push_back(charset);
    }
    for (char16_t c : face.substr(0, kMaxFaceLength)) put_word(out, static_cast<uint16_t>(c));
    put_word(out, 0);
  }
  put_dword_at(out, style_at, new_style);
  put_dword_at(out, ex_style_at, new_ex_style);
  while (out.size() % 4) out.push_back(0);
  if (items_at < size) out.insert(out.end(), data + items_at, data + size);
  return out;
}

}  // namespace lang
