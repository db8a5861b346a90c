// The XML reader over any text (the input as UTF-8): events come in order, names
// and attributes have the shape the reader promises, lookups find the first entry,
// and nothing reported is longer than the document it came from.
#include "fuzz_input.h"
#include "xml/sax_parser.h"

namespace {

struct Checker : sax::DocumentHandler {
  size_t document_size = 0;
  int starts = 0, ends = 0, tags = 0;
  size_t text_length = 0;
  bool done = false;

  void startDocument() override {
    FUZZ_CHECK(starts == 0 && !done);
    ++starts;
  }
  void endDocument() override {
    FUZZ_CHECK(starts == 1 && ends == 0);
    ++ends;
    done = true;
  }
  void startElement(std::wstring_view name, const sax::AttributeList& a) override {
    FUZZ_CHECK(starts == 1 && !done);
    ++tags;
    for (wchar_t c : name) FUZZ_CHECK(!sax::is_space(c));
    for (size_t i = 0; i < a.getLength(); ++i) {
      const std::wstring& n = a.getName(i);
      FUZZ_CHECK(!n.empty() && !a.getValue(i).empty());
      FUZZ_CHECK(n.find_first_of(L" \t\r\n=") == std::wstring::npos);
      FUZZ_CHECK(a.getValue(i).find(L'\0') == std::wstring::npos);
      size_t first = 0;
      while (a.getName(first) != n) ++first;
      FUZZ_CHECK(a.getValue(n) == a.getValue(first));
    }
  }
  void endElement(std::wstring_view name) override {
    FUZZ_CHECK(starts == 1 && !done);
    ++tags;
    for (wchar_t c : name) FUZZ_CHECK(!sax::is_space(c));
  }
  void characters(std::wstring_view text, size_t start, size_t length) override {
    FUZZ_CHECK(start + length <= text.size() && length > 0);
    FUZZ_CHECK(text.substr(start, length).find(L'\0') == std::wstring_view::npos);
    text_length += length;
  }
  void ignorableWhitespace(std::wstring_view text, size_t start, size_t length) override {
    FUZZ_CHECK(start + length <= text.size() && length > 0);
    for (wchar_t c : text.substr(start, length)) FUZZ_CHECK(sax::is_space(c));
    text_length += length;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text = fuzz_text(data, size);
  Checker checker;
  sax::Parser::parse(checker, text);
  FUZZ_CHECK(checker.done);
  FUZZ_CHECK(checker.text_length <= text.size());
  // A self-closing tag gives two events for one ">".
  size_t closers = 0;
  for (wchar_t c : text) closers += c == L'>';
  FUZZ_CHECK(static_cast<size_t>(checker.tags) <= 2 * closers);

  const std::wstring decoded = sax::decode_entities(text);
  FUZZ_CHECK(decoded.size() <= text.size());
  if (text.find(L'&') == std::wstring::npos) FUZZ_CHECK(decoded == text.substr(0, decoded.size()));
  return 0;
}
