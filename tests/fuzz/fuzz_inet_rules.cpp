// The Internet transport's rules over untrusted texts: a server's Content-Range
// and status line (lines 1 and 2), an address and its canonical form (lines 3 and
// 4), extra headers (line 5), and numbers from the bytes for the resume verdict
// and the piece size.
#include <cstring>

#include "fuzz_input.h"
#include "net/inet_rules.h"

using namespace qz::inet;

namespace {

uint64_t number(const uint8_t* data, size_t size, size_t at) {
  uint64_t v = 0;
  if (at + 8 <= size) std::memcpy(&v, data + at, 8);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::wstring> lines = fuzz_lines(data, size);
  lines.resize(5);
  ContentRange r;
  if (parse_content_range(lines[0], &r)) {
    FUZZ_CHECK(r.first <= r.last);
    FUZZ_CHECK(!r.total_known || r.last < r.total);
  }
  if (status_line_valid(lines[1])) FUZZ_CHECK(lines[1].size() >= 12 && lines[1].compare(0, 5, L"HTTP/") == 0);
  if (answer_headers_valid(lines[1])) FUZZ_CHECK(lines[1].find(L"\r\n") != std::wstring::npos);

  // Only slashes of the canonical form change, and only into backslashes.
  std::wstring out = user_info_backslashes(lines[2], lines[3]);
  FUZZ_CHECK(out.size() == lines[3].size());
  for (size_t i = 0; i < out.size(); ++i) FUZZ_CHECK(out[i] == lines[3][i] || (lines[3][i] == L'/' && out[i] == L'\\'));
  if (check_url(lines[2]) == 0) {
    FUZZ_CHECK(!lines[2].empty() && lines[2].size() <= kMaxUrlChars);
    for (wchar_t c : lines[2]) FUZZ_CHECK(c >= 0x20 && c != 0x7F);
  }
  // Accepted extra headers stay acceptable with a Range line in front.
  const uint64_t offset = number(data, size, 0);
  if (check_headers(lines[4]) == 0 && lines[4].size() + 64 <= kMaxHeaderChars)
    FUZZ_CHECK(check_headers(request_headers(offset, lines[4])) == 0);

  Answer a;
  a.status = static_cast<uint32_t>(number(data, size, 8) % 600);
  a.has_range = parse_content_range(lines[0], &a.range);
  a.has_length = (offset & 1) != 0;
  a.length = number(data, size, 16);
  const uint64_t expected = number(data, size, 24);
  if (judge_answer(offset, expected, a) == Resume::kAppend && a.status == 206) FUZZ_CHECK(a.range.first == offset);
  if (a.status != 0) FUZZ_CHECK((http_status_error(a.status) == 0) == (a.status >= 200 && a.status <= 299));

  TransferStats s;
  for (size_t at = 32; at + 16 <= size && at < 32 + 16 * 64; at += 16) {
    s.add(number(data, size, at), number(data, size, at + 8) % 100000, at * 1000);
    const size_t left = static_cast<size_t>(number(data, size, at) % (1u << 20));
    const size_t piece = s.piece(left);
    FUZZ_CHECK(left == 0 ? piece == 0 : (piece >= 1 && piece <= left));
  }
  return 0;
}
