// portable
// A small, forgiving event reader for the prerequisite descriptions: one pass over
// a document held in memory, reporting start tags (with their attributes), end
// tags and the text between them to a DocumentHandler. No validation, no tree, no
// errors: whatever does not look like a tag passes as text, and the reader never
// reads past the end of the document.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sax {

// The attributes of one start tag, in document order.
class AttributeList {
 public:
  void add(std::wstring name, std::wstring value);
  size_t getLength() const { return names_.size(); }
  const std::wstring& getName(size_t index) const { return names_[index]; }
  const std::wstring& getValue(size_t index) const { return values_[index]; }
  // The value of the first attribute of that name (compared exactly, case
  // included); empty when there is none.
  std::wstring getValue(std::wstring_view name) const;

 private:
  std::vector<std::wstring> names_;
  std::vector<std::wstring> values_;
};

// What the reader reports. Every operation does nothing unless overridden; the
// names and texts are valid only for the duration of the call.
class DocumentHandler {
 public:
  virtual void startDocument() {}
  virtual void startElement(std::wstring_view name, const AttributeList& attributes) {}
  virtual void endDocument() {}
  virtual void endElement(std::wstring_view name) {}
  // `text` holds the run at [start, start + length).
  virtual void ignorableWhitespace(std::wstring_view text, size_t start, size_t length) {}
  virtual void characters(std::wstring_view text, size_t start, size_t length) {}
  virtual ~DocumentHandler() = default;
};

class Parser {
 public:
  // Runs the document (up to its end or its first NUL character) through the
  // handler. Exceptions thrown by the handler pass through.
  static void parse(DocumentHandler& handler, std::wstring_view document);
};

// Blank, tab, line feed and carriage return: the only whitespace the reader knows.
bool is_space(wchar_t c);

// Decodes "&amp;", "&lt;", "&gt;", "&quot;", "&apos;" and numeric references
// ("&#65;", "&#x41;", cut to one 16-bit character). A reference ends at the first
// ";" within eight characters of its "&"; any other "&" is kept as written. A
// reference to character 0 ends the text, as it would end a zero-terminated one.
std::wstring decode_entities(std::wstring_view raw);

}  // namespace sax
