// The light INI reader (session settings, deletion list). Bit 0 of the first byte
// widens the rest to UTF-16LE (each byte a character), so both encodings are read
// from the same corpus; the other bits size the callers' buffers. Every value is
// read through buffers of exactly that size, then the profile is saved and reloaded
// and must hold the same sections, keys and values.
#include <cwchar>

#include "fuzz_input.h"
#include "package/IniProfile.h"

using namespace qz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Bytes bytes;
  if (data[0] & 1) {
    bytes = {0xFF, 0xFE};
    for (size_t i = 1; i < size; ++i) bytes.insert(bytes.end(), {data[i], 0});
  } else {
    bytes.assign(data + 1, data + size);
  }
  const size_t capacity = data[0] >> 1;  // 0..127

  IniProfile profile;
  profile.load_bytes(bytes, latin1_decode);

  // Heap buffers of the exact size, so a write past the end is caught.
  std::vector<wchar_t> buffer(capacity);
  wchar_t* out = capacity ? buffer.data() : nullptr;
  for (const auto& [section, keys] : profile.sections()) {
    FUZZ_CHECK(profile.get_string(section.c_str(), nullptr, L"", out, capacity));
    for (const auto& [key, value] : keys) {
      FUZZ_CHECK(profile.get_string(section.c_str(), key.c_str(), L"", out, capacity));
      if (capacity) FUZZ_CHECK(std::wcslen(out) == std::min(value.size(), capacity - 1) || value.find(L'\0') != std::wstring::npos);
      (void)profile.get_int(section.c_str(), key.c_str(), 5, out, capacity);
      FUZZ_CHECK(profile.find(section, key) == value);
      (void)profile_atoi(value);
    }
    std::wstring list;
    FUZZ_CHECK(profile.get_key_list(section.c_str(), list, L'|'));
  }
  FUZZ_CHECK(!profile.get_string(nullptr, nullptr, L"default", out, capacity));

  IniProfile reloaded;
  reloaded.load_bytes(profile.to_bytes(), latin1_decode);
  FUZZ_CHECK(reloaded.sections() == profile.sections());
  return 0;
}
