// The entry point's text rules over settings and arguments: one-shot commands,
// return-code settings, the removal value, copy names, the `Supported` list and
// the signature check's child command.
// Line 1 is the text, line 2 a second path.
#include "entry_rules.h"
#include "fuzz_input.h"
#include "net/trust_rules.h"

using namespace entry;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::wstring> lines = fuzz_lines(data, size);
  lines.resize(std::max<size_t>(lines.size(), 2));
  const std::wstring& text = lines[0];
  (void)one_shot_command(text, true, lines[1]);
  (void)one_shot_command(text, false, lines[1]);
  (void)names_first_launcher(text);
  (void)program_token(text);
  (void)is_yes(text);
  (void)return_code_setting(text);
  (void)leading_decimal(text);
  std::vector<std::wstring> parts;
  if (split_removal_value(text, &parts)) FUZZ_CHECK(parts.size() == 4);
  const std::wstring name = copy_name(text);
  (void)is_plain_file_name(name);
  for (const LanguageFile& f : language_files(text)) {
    FUZZ_CHECK(is_plain_file_name(f.ini));
    FUZZ_CHECK(f.mst.size() >= 4);
  }
  CloneCommand c;
  c.program = text;
  c.first_launcher = lines[1];
  c.temp_folder = lines[1];
  c.eprq = size & 1;
  c.qz_temp = size & 2;
  c.unc = text;
  c.debug_log = lines[1];
  (void)wait_tail(clone_command_line(c));
  (void)no_wait_tail(text);
  // The signature check's child command: what is written is read back unchanged.
  const trust_rules::SignatureCommand g = trust_rules::parse_signature_command(text);
  if (g.valid) FUZZ_CHECK(!g.file.empty() && !g.certificate.empty());
  const std::wstring child = trust_rules::signature_command_line(L"C:\\T\\setup.exe", text, lines[1], size & 4);
  if (!child.empty()) {
    const trust_rules::SignatureCommand back = trust_rules::parse_signature_command(child.substr(child.find(L" /g ") + 1));
    FUZZ_CHECK(back.valid && back.file == text && back.certificate == lines[1] && back.silent == bool(size & 4));
  }
  return 0;
}
