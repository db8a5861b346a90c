// portable
// Hiding secrets in the lines the launcher logs: the setup password (the /p
// switch) and the values of secret Windows Installer properties, wherever a
// command line or a property list carries them. Only the logged text changes;
// what is run or stored keeps every value.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace secret_mask {

// Which property values are secret.
struct Names {
  // Before the package's MsiHiddenProperties has been read any property may be
  // one it lists: then every property's value is hidden.
  bool known = false;
  std::vector<std::wstring> hidden;  // the names MsiHiddenProperties lists
};

// The names of an MsiHiddenProperties value: separated by semicolons, blanks
// around each dropped.
std::vector<std::wstring> parse_hidden_list(std::wstring_view value);

// True when the value of property `name` is hidden: its name contains PASSWORD or
// PWD, or is one of the hidden names (ASCII letters in any case); while the names
// are not known, any property name (a letter or underscore, then letters, digits,
// underscores and dots) is.
bool is_secret(std::wstring_view name, const Names& names);

// `text` with each secret replaced by "***": the value of every /p or -p argument
// and of every NAME=value whose name is secret. Arguments and values are found
// the way the process argument splitter, the switch tokenizer and the Windows
// Installer read them, inside /v values too, so that no way of quoting lets a
// value through that one of them would hand on.
std::wstring mask(const std::wstring& text, const Names& names);

// The names every logged line is masked with: not known at process start.
const Names& log_names();
// The package's MsiHiddenProperties value has been read (empty when it has none):
// the names are known from now on.
void set_hidden_properties(std::wstring_view value);
// Back to the process start (tests).
void reset_for_tests();
// mask(text, log_names()): what a line that can carry switches or properties
// is logged as.
std::wstring for_log(const std::wstring& text);

}  // namespace secret_mask
