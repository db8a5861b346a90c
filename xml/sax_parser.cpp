// portable
#include "xml/sax_parser.h"

#include <cstdint>

namespace sax {
namespace {

// The longest run after "&" that may hold the ";" of a reference.
constexpr size_t kReferenceReach = 8;

struct NamedEntity {
  std::wstring_view text;  // without its ";"
  wchar_t value;
};
constexpr NamedEntity kNamed[] = {
    {L"&amp", L'&'}, {L"&lt", L'<'}, {L"&gt", L'>'}, {L"&quot", L'"'}, {L"&apos", L'\''},
};

int digit_value(wchar_t c, bool hex) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (hex && c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (hex && c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// "&#65" or "&#x41" (no ";") -> the character code cut to 16 bits; -1 when the
// digits are missing or not all digits.
long numeric_reference(std::wstring_view ref) {
  bool hex = ref.size() > 2 && ref[2] == L'x';
  std::wstring_view digits = ref.substr(hex ? 3 : 2);
  if (digits.empty()) return -1;
  uint32_t code = 0;
  for (wchar_t c : digits) {
    int d = digit_value(c, hex);
    if (d < 0) return -1;
    code = ((code * (hex ? 16 : 10)) + static_cast<uint32_t>(d)) & 0xFFFF;
  }
  return static_cast<long>(code);
}

std::wstring_view name_of(std::wstring_view content) {
  size_t end = 0;
  while (end < content.size() && !is_space(content[end])) ++end;
  return content.substr(0, end);
}

bool ends_attribute_name(wchar_t c) { return is_space(c) || c == L'='; }

void read_attributes(std::wstring_view rest, AttributeList& list) {
  size_t pos = 0;
  for (;;) {
    while (pos < rest.size() && is_space(rest[pos])) ++pos;
    size_t name_end = pos;
    while (name_end < rest.size() && !ends_attribute_name(rest[name_end])) ++name_end;
    if (name_end == pos) return;
    std::wstring_view name = rest.substr(pos, name_end - pos);
    // Only double-quoted values exist: whatever stands before the opening quote
    // ("=", blanks) is skipped, and a missing closing quote ends at the tag's end.
    size_t open = rest.find(L'"', name_end);
    std::wstring_view raw;
    size_t next = rest.size();
    if (open != std::wstring_view::npos) {
      size_t close = rest.find(L'"', open + 1);
      size_t value_end = close == std::wstring_view::npos ? rest.size() : close;
      raw = rest.substr(open + 1, value_end - open - 1);
      if (close != std::wstring_view::npos) next = close + 1;
    }
    std::wstring value = decode_entities(raw);
    if (!value.empty()) list.add(std::wstring(name), std::move(value));
    pos = next;
  }
}

void report_tag(DocumentHandler& handler, std::wstring_view content) {
  bool self_closing = !content.empty() && content.back() == L'/';
  if (self_closing) content.remove_suffix(1);
  if (!content.empty() && content.front() == L'/') {
    handler.endElement(name_of(content.substr(1)));
    return;
  }
  std::wstring_view name = name_of(content);
  AttributeList attributes;
  read_attributes(content.substr(name.size()), attributes);
  handler.startElement(name, attributes);
  if (self_closing) handler.endElement(name);
}

// Runs of whitespace and of other characters, alternately.
void report_text(DocumentHandler& handler, std::wstring_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    bool space = is_space(text[pos]);
    size_t end = pos;
    while (end < text.size() && is_space(text[end]) == space) ++end;
    std::wstring_view run = text.substr(pos, end - pos);
    if (space) {
      handler.ignorableWhitespace(run, 0, run.size());
    } else {
      std::wstring decoded = decode_entities(run);
      if (!decoded.empty()) handler.characters(decoded, 0, decoded.size());
    }
    pos = end;
  }
}

}  // namespace

bool is_space(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r'; }

void AttributeList::add(std::wstring name, std::wstring value) {
  names_.push_back(std::move(name));
  values_.push_back(std::move(value));
}

std::wstring AttributeList::getValue(std::wstring_view name) const {
  for (size_t i = 0; i < names_.size(); ++i)
    if (names_[i] == name) return values_[i];
  return std::wstring();
}

std::wstring decode_entities(std::wstring_view raw) {
  std::wstring out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    wchar_t c = raw[i];
    if (c != L'&') {
      out.push_back(c);
      continue;
    }
    size_t semicolon = raw.substr(i + 1, kReferenceReach).find(L';');
    if (semicolon == std::wstring_view::npos) {
      out.push_back(c);
      continue;
    }
    std::wstring_view ref = raw.substr(i, semicolon + 1);
    long value = -1;
    for (const NamedEntity& e : kNamed)
      if (ref == e.text) value = e.value;
    if (value < 0 && ref.size() > 1 && ref[1] == L'#') value = numeric_reference(ref);
    if (value < 0) {
      out.push_back(c);  // not a reference this reader knows: kept as written
      continue;
    }
    if (value == 0) break;
    out.push_back(static_cast<wchar_t>(value));
    i += ref.size();  // now on the ";"
  }
  return out;
}

void Parser::parse(DocumentHandler& handler, std::wstring_view document) {
  document = document.substr(0, document.find(L'\0'));
  size_t start = 0;
  // One processing instruction is skipped, wherever the first one stands.
  size_t pi = document.find(L"<?");
  if (pi != std::wstring_view::npos) {
    size_t pi_end = document.find(L"?>", pi + 2);
    if (pi_end != std::wstring_view::npos) start = pi_end + 2;
  }
  handler.startDocument();
  bool quoted = false;
  bool in_tag = false;
  bool after_tag = false;
  size_t tag_start = 0;
  size_t text_start = 0;
  for (size_t i = start; i < document.size(); ++i) {
    wchar_t c = document[i];
    if (c == L'"') {
      quoted = !quoted;
    } else if (quoted) {
      continue;
    } else if (c == L'<') {
      if (after_tag) report_text(handler, document.substr(text_start, i - text_start));
      after_tag = false;
      in_tag = true;
      tag_start = i + 1;
    } else if (c == L'>' && in_tag) {
      report_tag(handler, document.substr(tag_start, i - tag_start));
      in_tag = false;
      after_tag = true;
      text_start = i + 1;
    }
  }
  handler.endDocument();
}

}  // namespace sax
