// inifilex: the full INI document.
//
// Sections and keys in file order, looked up ignoring case, stored exactly as read
// (no trimming, no unquoting). A repeated section header merges into the first one;
// a repeated key keeps its first value. The document remembers the encoding it was
// loaded in and saves in it.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "package/text_encoding.h"
#include "package/vector_map_i.h"

namespace qz {

struct inifileentryx {
  std::wstring value;
};

class inifilesectionx {
 public:
  vector_map_i<inifileentryx>& entries() { return entries_; }
  const vector_map_i<inifileentryx>& entries() const { return entries_; }
  // The value of the key, or null.
  const std::wstring* value(std::wstring_view key) const {
    const inifileentryx* e = entries_.find(key);
    return e ? &e->value : nullptr;
  }
  void set(std::wstring_view key, std::wstring value) { entries_.add(key).value = std::move(value); }

 private:
  vector_map_i<inifileentryx> entries_;
};

// Flags of save and save_as.
enum : unsigned {
  kIniSaveSortSections = 1,  // sort_sections first (keys keep their order)
  kIniSaveSkipEmpty = 2,     // a document without sections is not written (true)
  kIniSaveUseArguments = 4,  // take code page and byte-order-mark flag from the arguments
};

// The operations are virtual in this fixed order; the class is final because its
// destructor is not virtual.
class inifilex final {
 public:
  using string_list = std::vector<std::wstring>;
  using section_list = std::vector<std::pair<std::wstring, inifilesectionx>>;

  inifilex() = default;
  ~inifilex() = default;

  virtual void attach(std::wstring path, std::wstring separator);
  // Clears the document and reads the file. False when it cannot be opened (last
  // error holds why), when a "[" line has no "]" or an entry precedes every section
  // (what was read so far stays). A read failure throws qz::file_exception.
  virtual bool load(std::wstring path, std::wstring separator, bool keys_without_values);
  virtual bool save(unsigned flags, int32_t code_page, bool bom);
  virtual bool save_as(std::wstring path, unsigned flags, int32_t code_page, bool bom);
  virtual void set_separator(std::wstring separator);
  virtual std::wstring get_separator();
  virtual std::wstring get_path();
  virtual void copy_section(std::wstring target, const inifilesectionx& source);
  // Target names: the format with its first "%s" (or "%ls") replaced by the prefix and
  // the second by the section's name; "%%" is "%"; nothing else is interpreted.
  virtual void import_sections(const section_list& sections, std::wstring prefix, std::wstring format);
  virtual void add_section(std::wstring section);
  virtual bool move_key_after(std::wstring section, std::wstring key, std::wstring anchor);
  virtual std::wstring get_string(std::wstring section, std::wstring key, std::wstring default_value);
  virtual void set_string(std::wstring section, std::wstring key, std::wstring value);
  virtual int32_t get_int(std::wstring section, std::wstring key, int32_t default_value);
  virtual void set_int(std::wstring section, std::wstring key, int32_t value);
  virtual bool get_bool(std::wstring section, std::wstring key, bool default_value);
  virtual void set_bool(std::wstring section, std::wstring key, bool value);
  virtual bool is_modified();
  virtual void set_modified(bool modified);
  virtual bool section_exists(std::wstring section);
  virtual bool key_exists(std::wstring section, std::wstring key);
  virtual void get_key_names(std::wstring section, string_list& out);
  virtual void get_section_names(string_list& out);
  virtual size_t find_sections(string_list& out, std::wstring prefix);
  // Keys made from a "%d"-style format for 0, 1, 2, ... (see format_number_key).
  virtual void get_numbered_values(std::wstring section, string_list& out, std::wstring key_format);
  virtual bool rename_section(std::wstring old_name, std::wstring new_name);
  virtual bool rename_key(std::wstring section, std::wstring old_key, std::wstring new_key);
  virtual void rename_section_prefix(std::wstring old_prefix, std::wstring new_prefix);
  virtual bool delete_section(std::wstring section);
  virtual bool delete_key(std::wstring section, std::wstring key);
  virtual bool clear_section(std::wstring section);
  virtual void clear();
  virtual void delete_sections_with_prefix(std::wstring prefix);
  virtual void sort();
  virtual void sort_sections();
  virtual void sort_all_keys();
  virtual void sort_keys(inifilesectionx& section);
  virtual void sort_section_keys(std::wstring section);
  virtual void set_code_page(int32_t code_page);
  virtual bool set_bom(bool bom);
  virtual uint32_t last_error();
  virtual std::wstring last_failed_path();

  // load over bytes in memory (as if they were the file's content).
  bool load_bytes(ByteView bytes, std::wstring separator, bool keys_without_values);
  // The document as save would write it: 0, or the conversion error.
  uint32_t to_bytes(Bytes& out) const;
  int32_t code_page() const { return code_page_; }
  bool bom() const { return bom_; }
  const vector_map_i<inifilesectionx>& sections() const { return sections_; }

 private:
  void begin_load(std::wstring path, std::wstring separator, bool keys_without_values);
  bool parse(std::wstring_view text);
  std::wstring to_text() const;

  vector_map_i<inifilesectionx> sections_;
  std::wstring path_;
  bool keys_without_values_ = false;
  bool modified_ = false;
  std::wstring separator_ = L"=";
  bool saving_ = false;
  int32_t code_page_ = -1;
  bool bom_ = false;
  uint32_t last_error_ = 0;
  std::wstring failed_path_;
};

// The key format with every "%d", "%i" or "%u" (flags "-+ 0" and a width of at most
// 32 allowed) replaced by the number and "%%" by "%"; nothing else is interpreted.
// *had_number tells whether any number placeholder was present.
std::wstring format_number_key(std::wstring_view format, int number, bool* had_number = nullptr);

}  // namespace qz
