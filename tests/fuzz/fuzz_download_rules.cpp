// The download manager's rules over any text: a fetched file's name is always one
// plain name inside the temporary folder, the masked address never shows what
// stood between the user's ':' and the '@', and the completed address keeps the
// text it was given.
// Line 1 is an address, line 2 a CabsSize value.
#include "fuzz_input.h"
#include "net/download_rules.h"

using namespace download_rules;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::wstring> lines = fuzz_lines(data, size);
  const std::wstring& url = lines[0];

  std::wstring name = target_name(url);
  if (!name.empty()) {
    FUZZ_CHECK(qzstream::is_safe_member_name(name));
    FUZZ_CHECK(url.find(name) != std::wstring::npos);
  }
  FUZZ_CHECK(target_name(normalise_url(url)).size() <= url.size());

  std::wstring shown = url_for_log(url);
  FUZZ_CHECK(url_for_log(shown) == shown);
  size_t scheme = url.find(L"://");
  if (scheme != std::wstring::npos && shown != url) FUZZ_CHECK(shown.find(L":***@") != std::wstring::npos);

  std::wstring full = normalise_url(url);
  FUZZ_CHECK(full.size() >= url.size());
  FUZZ_CHECK(full.find(L'\\') == std::wstring::npos);
  FUZZ_CHECK(is_web_address(full));

  if (lines.size() > 1) {
    uint64_t total = parse_cabs_size(lines[1]);
    if (lines[1].find(L';') == std::wstring::npos) FUZZ_CHECK(total == 0);
    FUZZ_CHECK(cabinets_fit(total / 1024 + 1, total));
  }
  std::wstring drive = drive_of(url);
  FUZZ_CHECK(url.compare(0, drive.size(), drive) == 0);
  StatusLine line = status_line(name, 0, lines.size());
  FUZZ_CHECK(line.args.size() == (lines.size() > 1 ? 3u : 1u));
  return 0;
}
