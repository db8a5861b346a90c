// The setup.ini document reader: the first byte chooses the code page set before
// loading, the separator and whether keys may stand without values; the rest is the
// file. Every section and key goes through the typed getters, then the document is
// saved, reloaded and saved again, which must give the same bytes.
#include "fuzz_input.h"
#include "package/inifilex.h"
#include "support/number_text.h"

using namespace qz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const int32_t kPages[] = {-1, kCodePageAnsi, kCodePageUtf16LE, kCodePageUtf16BE, kCodePageUtf8, -1, -1, -1};
  static const wchar_t* const kSeparators[] = {L"=", L"=", L":", L" = "};
  const int32_t page = kPages[data[0] & 7];
  const std::wstring separator = kSeparators[(data[0] >> 3) & 3];
  const bool keys_without_values = data[0] & 32;
  ByteView bytes(data + 1, size - 1);

  inifilex doc;
  if (page != -1) doc.set_code_page(page);
  (void)doc.load_bytes(bytes, separator, keys_without_values);

  inifilex::string_list names, keys, numbered;
  doc.get_section_names(names);
  for (const std::wstring& section : names) {
    FUZZ_CHECK(doc.section_exists(section));
    keys.clear();
    doc.get_key_names(section, keys);
    for (const std::wstring& key : keys) {
      FUZZ_CHECK(doc.key_exists(section, key));
      std::wstring value = doc.get_string(section, key, L"-");
      (void)doc.get_int(section, key, 7);
      (void)doc.get_bool(section, key, true);
      (void)parse_long32(value, 10);
      (void)parse_long32(value, 16);
      (void)format_number_key(key, 12345);
    }
    numbered.clear();
    doc.get_numbered_values(section, numbered, keys.empty() ? L"%d" : keys.front());
    inifilex::string_list found;
    (void)doc.find_sections(found, section);
    FUZZ_CHECK(!found.empty());
  }
  FUZZ_CHECK(doc.get_string(L"\x1F\x1Fnone", L"k", L"d") == L"d");

  Bytes once;
  if (doc.to_bytes(once) != 0) return 0;
  inifilex second;
  second.set_code_page(doc.code_page());
  FUZZ_CHECK(second.load_bytes(once, separator, keys_without_values));
  Bytes twice;
  FUZZ_CHECK(second.to_bytes(twice) == 0);
  FUZZ_CHECK(once == twice);
  return 0;
}
