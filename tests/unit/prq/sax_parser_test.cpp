// portable
#include "xml/sax_parser.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "package/stream_format.h"

namespace {

// Writes every event as text: <name a=v>, </name>, T(characters), W<length>.
struct Recorder : sax::DocumentHandler {
  std::wstring events;
  int starts = 0, ends = 0;
  void startDocument() override { ++starts; }
  void endDocument() override { ++ends; }
  void startElement(std::wstring_view name, const sax::AttributeList& a) override {
    events.append(L"<").append(name);
    for (size_t i = 0; i < a.getLength(); ++i) events.append(L" ").append(a.getName(i)).append(L"=").append(a.getValue(i));
    events.append(L">");
  }
  void endElement(std::wstring_view name) override { events.append(L"</").append(name).append(L">"); }
  void characters(std::wstring_view text, size_t start, size_t length) override {
    events.append(L"T(").append(text.substr(start, length)).append(L")");
  }
  void ignorableWhitespace(std::wstring_view text, size_t start, size_t length) override {
    EXPECT_EQ(text.substr(start, length).find_first_not_of(L" \t\r\n"), std::wstring_view::npos);
    events.append(L"W").append(std::to_wstring(length));
  }
};

std::wstring run(std::wstring_view document) {
  Recorder r;
  sax::Parser::parse(r, document);
  EXPECT_EQ(r.starts, 1);
  EXPECT_EQ(r.ends, 1);
  return r.events;
}

}  // namespace

TEST(SaxParser, EventsForDocuments) {
  struct Case {
    std::wstring_view document;
    const wchar_t* events;
  };
  const Case cases[] = {
      {L"<?xml version=\"1.0\"?>\r\n<root a=\"1\"/>", L"<root a=1></root>"},
      {L"lead text<a>", L"<a>"},  // text before the first tag is not reported
      {L"<a>b c\t</a >", L"<a>T(b)W1T(c)W1</a>"},
      {L"<a x='1' y=\"2\">", L"<a x=2>"},  // single quotes are no quotes: x takes the next quoted text
      {L"<a x='1'>", L"<a>"},
      {L"<a x=\"\" y = \"2\" z \"3\">", L"<a y=2 z=3>"},  // empty values are left out
      {L"<a v=\"&lt;b&gt;\" d=\"&#65;&#x41;&#65601;\" q=\"&quot;&apos;&amp;\">", L"<a v=<b> d=AAA q=\"'&>"},
      {L"<a v=\"AT&T &bogus; &#; &#xZZ; &#X41; &amp\">", L"<a v=AT&T &bogus; &#; &#xZZ; &#X41; &amp>"},
      {L"<a v=\"x&#0;y\" w=\"&#0;\">", L"<a v=x>"},  // character 0 ends the value
      {L"<a t=\"x>y\"/>", L"<a t=x>y></a>"},
      {L"<a>\"<b>\"</a>", L"<a>T(\"<b>\")</a>"},  // a quote in text hides tags up to the next quote
      {L"a>b<c>", L"<c>"},
      {L"<a v=\"unterminated>", L""},
      {L"<a v=\"open>\"/>", L"<a v=open>></a>"},
      {L"<a/><?pi?><b/>", L"<b></b>"},  // the one processing instruction is skipped wherever it is
      {L"<a>&lt;&#x41;&gt;</a>", L"<a>T(<A>)</a>"},
      {L"<!-- note -->", L"<!-->"},  // a comment is a start tag named "!--"
      {L"<</a>", L"</a>"},
      {L"<a x=\"1\" =\"2\" y=\"3\">", L"<a x=1>"},  // reading stops at an empty name
      {std::wstring_view(L"<a/>\0<b/>", 9), L"<a></a>"},
      {L"", L""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(run(c.document), c.events) << qzstream::utf8_encode(std::wstring(c.document));
}

TEST(SaxParser, AttributeLookupTakesTheFirstExactName) {
  struct Lookup : sax::DocumentHandler {
    std::wstring n, upper, missing;
    void startElement(std::wstring_view, const sax::AttributeList& a) override {
      n = a.getValue(L"n");
      upper = a.getValue(L"N");
      missing = a.getValue(L"x");
    }
  } h;
  sax::Parser::parse(h, L"<e n=\"1\" n=\"2\" N=\"3\"/>");
  EXPECT_EQ(h.n, L"1");
  EXPECT_EQ(h.upper, L"3");
  EXPECT_EQ(h.missing, L"");
}

TEST(SaxParser, HandlerExceptionsReachTheCaller) {
  struct Thrower : sax::DocumentHandler {
    void startElement(std::wstring_view, const sax::AttributeList&) override { throw std::runtime_error("stop"); }
  } h;
  EXPECT_THROW(sax::Parser::parse(h, L"<a/>"), std::runtime_error);
}
