// portable
#include "package/stream_format.h"

#include <algorithm>
#include <cstring>

namespace qzstream {

uint64_t total_stored_size(std::span<const uint32_t> sizes) {
  uint64_t total = 0;
  for (uint32_t size : sizes) total += size;
  return total;
}

uint16_t get_u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t get_u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t get_u64(const uint8_t* p) { return get_u32(p) | (static_cast<uint64_t>(get_u32(p + 4)) << 32); }

static void put_u16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
static void put_u32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
static void put_u64(uint8_t* p, uint64_t v) {
  put_u32(p, static_cast<uint32_t>(v));
  put_u32(p + 4, static_cast<uint32_t>(v >> 32));
}

size_t entry_header_size(uint32_t type) {
  switch (type) {
    case 1: return 312;
    case 2:
    case 3: return 24;
    case 4: return 48;
    default: return 0;
  }
}

size_t MemorySource::read_at(uint64_t offset, void* buffer, size_t count) {
  if (offset >= size_) return 0;
  size_t n = std::min<uint64_t>(count, size_ - offset);
  std::memcpy(buffer, data_ + offset, n);
  return n;
}

StreamHeader parse_header(const uint8_t* bytes, size_t size) {
  StreamHeader h;
  if (!bytes || size < kHeaderSize) return h;
  h.count = get_u16(bytes + 14);
  h.type = get_u32(bytes + 16);
  if (std::memcmp(bytes, kLegacySignature, kSignatureCompared) == 0) {
    h.type = 1;
  } else if (std::memcmp(bytes, kSignature, kSignatureCompared) != 0) {
    return h;
  }
  // An unknown type has no entry header size: nothing after it could be read.
  h.valid = entry_header_size(h.type) != 0;
  return h;
}

static std::wstring latin1_decode(std::string_view s) {
  std::wstring w;
  for (unsigned char c : s) w.push_back(static_cast<wchar_t>(c));
  return w;
}

// Why a read came back short: the source's own error, or the end of the data.
static uint32_t short_read_error(ByteSource& source) {
  const uint32_t e = source.last_error();
  return e ? e : kErrorIncomplete;
}

Directory read_directory(ByteSource& source, uint32_t start, AnsiDecoder ansi) {
  Directory dir;
  uint8_t head[kHeaderSize];
  if (source.read_at(start, head, kHeaderSize) != kHeaderSize) {
    dir.error = short_read_error(source);
    return dir;
  }
  dir.header = parse_header(head, kHeaderSize);
  if (!dir.header.valid) return dir;
  const uint32_t type = dir.header.type;
  const size_t ehs = entry_header_size(type);
  const uint64_t file_size = source.size();
  uint64_t pos = static_cast<uint64_t>(start) + kHeaderSize;
  std::vector<uint8_t> eh(ehs);
  for (unsigned i = 0; i < dir.header.count; ++i) {
    if (source.read_at(pos, eh.data(), ehs) != ehs) {
      dir.error = short_read_error(source);
      break;
    }
    EntryInfo e;
    e.type = type;
    uint64_t data = 0;
    if (type == 1) {
      const char* n = reinterpret_cast<const char*>(eh.data());
      e.narrow_name.assign(n, strnlen(n, kType1NameField));
      e.name = ansi ? ansi(e.narrow_name) : latin1_decode(e.narrow_name);
      e.flags = get_u32(eh.data() + 260);
      e.stored_size = get_u32(eh.data() + 268);
      e.compressed = get_u16(eh.data() + 280);
      data = pos + ehs;
    } else {
      const uint32_t name_len = get_u32(eh.data());
      e.flags = get_u32(eh.data() + 4);
      e.stored_size = get_u32(eh.data() + 10);
      e.compressed = get_u16(eh.data() + 22);
      if (type == 4) {
        e.creation_time = get_u64(eh.data() + 24);
        e.last_write_time = get_u64(eh.data() + 32);
        e.last_access_time = get_u64(eh.data() + 40);
      }
      // The name must lie in the file; checking before allocating keeps a forged
      // length from asking for gigabytes.
      if (name_len > file_size || pos + ehs + name_len > file_size) {
        dir.error = kErrorIncomplete;
        break;
      }
      std::vector<uint8_t> name(name_len);
      if (name_len && source.read_at(pos + ehs, name.data(), name_len) != name_len) {
        dir.error = short_read_error(source);
        break;
      }
      e.name = utf16le_decode(name.data(), name_len);
      data = pos + ehs + name_len;
    }
    const uint64_t end = data + e.stored_size;
    if (end > file_size || end > 0xFFFFFFFFull) {
      dir.error = kErrorIncomplete;
      break;
    }
    e.data_offset = static_cast<uint32_t>(data);
    dir.entries.push_back(std::move(e));
    pos = end;
  }
  return dir;
}

namespace {

constexpr size_t kDebugTableChunk = 28 * 2340;  // whole 28-byte entries, just under 64 KiB

struct Section {
  char name[9] = {};
  uint32_t virtual_address = 0, raw_size = 0, raw_pointer = 0;
};

bool name_is(const Section& s, const char* want) {
  for (int i = 0; i < 8; ++i) {
    char a = s.name[i], b = want[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (a != b) return false;
    if (!b) return true;
  }
  return true;
}

}  // namespace

PeLayout pe_layout(ByteSource& source) {
  PeLayout layout;
  auto fail = [&]() -> PeLayout {
    layout = PeLayout{};
    layout.error = kErrorBadExe;
    return layout;
  };
  std::vector<uint8_t> h(4096);
  h.resize(source.read_at(0, h.data(), h.size()));
  if (h.size() < 64 || h[0] != 'M' || h[1] != 'Z') return fail();
  const uint64_t pe = get_u32(h.data() + 60);
  if (pe + 264 > h.size() || std::memcmp(h.data() + pe, "PE\0\0", 4) != 0) return fail();
  const uint8_t* coff = h.data() + pe + 4;
  const unsigned nsections = get_u16(coff + 2);
  const unsigned opt_size = get_u16(coff + 16);
  const uint64_t opt = pe + 24;
  const uint16_t magic = get_u16(h.data() + opt);
  if (magic != 0x10b && magic != 0x20b) return fail();
  const uint32_t size_of_headers = get_u32(h.data() + opt + 60);
  const uint64_t sections = opt + opt_size;
  const uint64_t table_end = sections + 40ull * nsections;
  // Headers that claim more than the file holds, or far more than any real image
  // has (64 MiB), mark a damaged file. Of the headers only the section table is
  // read, and it must lie within the file before it is.
  const uint64_t file_size = source.size();
  if (size_of_headers > file_size || table_end > file_size || size_of_headers > (64u << 20)) return fail();
  if (table_end > h.size()) {
    h.resize(table_end);
    h.resize(source.read_at(0, h.data(), h.size()));
    if (h.size() < table_end) return fail();
  }
  const uint64_t dirs = opt + (magic == 0x20b ? 112 : 96);
  const uint32_t ndirs = get_u32(h.data() + opt + (magic == 0x20b ? 108 : 92));
  auto directory = [&](unsigned i, uint32_t& va, uint32_t& size) {
    va = size = 0;
    if (i >= ndirs || dirs + 8 * i + 8 > sections) return;
    va = get_u32(h.data() + dirs + 8 * i);
    size = get_u32(h.data() + dirs + 8 * i + 4);
  };

  std::vector<Section> secs(nsections);
  uint64_t end = size_of_headers;
  for (unsigned i = 0; i < nsections; ++i) {
    const uint8_t* s = h.data() + sections + 40 * i;
    std::memcpy(secs[i].name, s, 8);
    secs[i].virtual_address = get_u32(s + 12);
    secs[i].raw_size = get_u32(s + 16);
    secs[i].raw_pointer = get_u32(s + 20);
    end += secs[i].raw_size;
  }
  const uint64_t image_end = end;

  uint32_t debug_va, debug_size;
  directory(6, debug_va, debug_size);
  if (debug_size >= 28) {
    uint64_t at = 0;
    bool found = false;
    for (auto& s : secs) {
      if (name_is(s, ".debug") && s.virtual_address == debug_va) {
        at = s.raw_pointer;
        found = true;
        break;
      }
    }
    if (!found) {
      const Section* host = nullptr;
      for (auto& s : secs)
        if (name_is(s, ".rdata")) { host = &s; break; }
      if (!host)
        for (auto& s : secs)
          if (name_is(s, ".text")) { host = &s; break; }
      if (host && debug_va >= host->virtual_address &&
          debug_va < static_cast<uint64_t>(host->virtual_address) + host->raw_size) {
        at = debug_va - host->virtual_address + static_cast<uint64_t>(host->raw_pointer);
        found = true;
      }
    }
    if (found && at < file_size) {
      // The table is read into one buffer no longer than what the file holds (and
      // at most 64 KiB at a time): a forged size costs neither a read per entry
      // nor memory beyond the file.
      uint64_t left = std::min<uint64_t>(debug_size, file_size - at) / 28 * 28;
      std::vector<uint8_t> table(static_cast<size_t>(std::min<uint64_t>(left, kDebugTableChunk)));
      while (left) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(left, table.size()));
        const size_t got = source.read_at(at, table.data(), want) / 28 * 28;
        for (size_t i = 0; i < got; i += 28) {
          const uint32_t data_size = get_u32(table.data() + i + 16);
          const uint32_t data_ptr = get_u32(table.data() + i + 24);
          if (static_cast<uint64_t>(data_ptr) + data_size > image_end) end += data_size;
        }
        if (got < want) break;
        at += got, left -= got;
      }
    }
  }
  if (end > 0xFFFFFFFFull) return fail();
  layout.stream_start = static_cast<uint32_t>(end);
  directory(4, layout.certificate_offset, layout.certificate_size);
  return layout;
}

uint32_t pe_stream_start(ByteSource& source, bool with_certificates, uint32_t* error) {
  const PeLayout layout = pe_layout(source);
  if (error) *error = layout.error;
  if (layout.error) return 0;
  const uint64_t end = layout.stream_start + (with_certificates ? uint64_t{layout.certificate_size} : 0);
  if (end > 0xFFFFFFFFull) {
    if (error) *error = kErrorBadExe;
    return 0;
  }
  return static_cast<uint32_t>(end);
}

Located locate_stream(ByteSource& source) {
  Located r;
  uint8_t head[kHeaderSize];
  r.start = pe_stream_start(source, false, &r.error);
  if (r.error) return r;
  size_t n = source.read_at(r.start, head, kHeaderSize);
  r.header = parse_header(head, n);
  if (r.header.valid && r.header.count != 0) return r;
  uint32_t later = pe_stream_start(source, true);
  if (later > r.start) {
    // Once the retry runs its header decides: an empty stream before the
    // certificate table does not make a damaged one after it valid.
    n = source.read_at(later, head, kHeaderSize);
    r.start = later;
    r.header = parse_header(head, n);
  }
  if (!r.header.valid) r.header.type = 4;
  return r;
}

ScrambleKey::ScrambleKey(std::string_view key_text) {
  key_.resize(key_text.size());
  for (size_t i = 0; i < key_text.size(); ++i)
    key_[i] = static_cast<uint8_t>(static_cast<uint8_t>(key_text[i]) ^ static_cast<uint8_t>(kKeyMask >> (8 * (i % 4))));
  if (!key_.empty())
    while (expanded_.size() < kExpandedKey + key_.size()) expanded_.insert(expanded_.end(), key_.begin(), key_.end());
}

namespace {
// NOT of the byte with its nibbles swapped; its own inverse. Written as arithmetic
// over runs with their key bytes side by side, the loops become vector code: a
// member of hundreds of megabytes is undone at memory speed.
inline uint8_t swap_not(uint8_t v) { return static_cast<uint8_t>(~((v << 4) | (v >> 4))); }
}  // namespace

// An empty key (a member without a name) keeps the nibble swap and inversion only.
void ScrambleKey::descramble(uint8_t* data, size_t size, size_t pos) const {
  const size_t L = key_.size();
  if (!L) {
    for (size_t i = 0; i < size; ++i) data[i] = swap_not(data[i]);
    return;
  }
  size_t k = pos % L;
  while (size) {
    const size_t run = std::min(size, expanded_.size() - k);
    const uint8_t* key = expanded_.data() + k;
    for (size_t i = 0; i < run; ++i) data[i] = static_cast<uint8_t>(swap_not(data[i]) ^ key[i]);
    data += run, size -= run, k = (k + run) % L;
  }
}

void ScrambleKey::scramble(uint8_t* data, size_t size, size_t pos) const {
  const size_t L = key_.size();
  if (!L) {
    for (size_t i = 0; i < size; ++i) data[i] = swap_not(data[i]);
    return;
  }
  size_t k = pos % L;
  while (size) {
    const size_t run = std::min(size, expanded_.size() - k);
    const uint8_t* key = expanded_.data() + k;
    for (size_t i = 0; i < run; ++i) data[i] = swap_not(static_cast<uint8_t>(data[i] ^ key[i]));
    data += run, size -= run, k = (k + run) % L;
  }
}

void ScrambleKey::descramble_blocks(uint8_t* data, size_t size, uint64_t offset) const {
  while (size) {
    size_t in_block = offset % kScrambleBlock;
    size_t piece = std::min(size, kScrambleBlock - in_block);
    descramble(data, piece, in_block);
    data += piece, size -= piece, offset += piece;
  }
}

void ScrambleKey::scramble_blocks(uint8_t* data, size_t size, uint64_t offset) const {
  while (size) {
    size_t in_block = offset % kScrambleBlock;
    size_t piece = std::min(size, kScrambleBlock - in_block);
    scramble(data, piece, in_block);
    data += piece, size -= piece, offset += piece;
  }
}

std::wstring utf16le_decode(const uint8_t* bytes, size_t size) {
  std::wstring out;
  const size_t units = size / 2;
  for (size_t i = 0; i < units; ++i) {
    uint32_t u = get_u16(bytes + 2 * i);
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
      uint32_t lo = get_u16(bytes + 2 * i + 2);
      if (lo >= 0xDC00 && lo < 0xE000) {
        uint32_t cp = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
        if constexpr (sizeof(wchar_t) == 2) {
          out.push_back(static_cast<wchar_t>(u));
          out.push_back(static_cast<wchar_t>(lo));
        } else {
          out.push_back(static_cast<wchar_t>(cp));
        }
        ++i;
        continue;
      }
    }
    if (u >= 0xD800 && u < 0xE000) u = 0xFFFD;
    out.push_back(static_cast<wchar_t>(u));
  }
  return out;
}

// Code points of a wide text, whatever the width of wchar_t.
template <typename F>
static void for_each_code_point(std::wstring_view text, F f) {
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = static_cast<uint32_t>(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
        uint32_t lo = static_cast<uint16_t>(text[i + 1]);
        if (lo >= 0xDC00 && lo < 0xE000) {
          f(0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00));
          ++i;
          continue;
        }
      }
      c &= 0xFFFF;
    }
    if ((c >= 0xD800 && c < 0xE000) || c > 0x10FFFF) c = 0xFFFD;
    f(c);
  }
}

std::string utf16le_encode(std::wstring_view text) {
  std::string out;
  auto unit = [&](uint32_t u) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  };
  for_each_code_point(text, [&](uint32_t c) {
    if (c >= 0x10000) {
      c -= 0x10000;
      unit(0xD800 + (c >> 10));
      unit(0xDC00 + (c & 0x3FF));
    } else {
      unit(c);
    }
  });
  return out;
}

std::string utf8_encode(std::wstring_view text) {
  std::string out;
  for_each_code_point(text, [&](uint32_t c) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  });
  return out;
}

std::wstring utf8_decode(std::string_view s) {
  std::wstring out;
  auto emit = [&](uint32_t c) {
    if constexpr (sizeof(wchar_t) == 2) {
      if (c >= 0x10000) {
        c -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
        return;
      }
    }
    out.push_back(static_cast<wchar_t>(c));
  };
  for (size_t i = 0; i < s.size();) {
    uint8_t b = static_cast<uint8_t>(s[i]);
    int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > s.size()) {
      emit(0xFFFD);
      ++i;
      continue;
    }
    uint32_t c = len == 1 ? b : b & (0x7F >> len);
    bool ok = true;
    for (int k = 1; k < len; ++k) {
      uint8_t t = static_cast<uint8_t>(s[i + k]);
      if ((t & 0xC0) != 0x80) ok = false;
      c = (c << 6) | (t & 0x3F);
    }
    if (!ok || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
      emit(0xFFFD);
      ++i;
      continue;
    }
    emit(c);
    i += len;
  }
  return out;
}

bool cp1252_encode(std::wstring_view text, std::string& out) {
  static const uint16_t high[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  out.clear();
  bool ok = true;
  for_each_code_point(text, [&](uint32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out.push_back(static_cast<char>(c));
      return;
    }
    for (int i = 0; i < 32; ++i) {
      if (high[i] && high[i] == c) {
        out.push_back(static_cast<char>(0x80 + i));
        return;
      }
    }
    ok = false;
    out.push_back('?');
  });
  return ok;
}

bool is_safe_member_name(std::wstring_view name) {
  if (name.empty() || name.size() > 255) return false;
  for (wchar_t c : name) {
    uint32_t u = static_cast<uint32_t>(c);
    if (u < 0x20 || u == 0x7F) return false;
    if (std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos) return false;
  }
  if (name == L"." || name == L"..") return false;
  // Windows drops trailing dots and blanks, so "a.txt." would write "a.txt".
  if (name.back() == L'.' || name.back() == L' ') return false;
  // Device names are reserved with any extension ("NUL.txt" is NUL).
  std::wstring base(name.substr(0, name.find(L'.')));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  for (auto& c : base)
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  static const wchar_t* const reserved[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  for (auto r : reserved)
    if (base == r) return false;
  if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0)) {
    wchar_t d = base[3];
    if ((d >= L'0' && d <= L'9') || d == 0xB9 || d == 0xB2 || d == 0xB3) return false;
  }
  return true;
}

std::vector<uint8_t> build_stream_header(uint16_t count, uint32_t type) {
  std::vector<uint8_t> h(kHeaderSize, 0);
  std::memcpy(h.data(), kSignature, sizeof(kSignature));  // 13 characters and the zero
  put_u16(h.data() + 14, count);
  put_u32(h.data() + 16, type);
  return h;
}

std::vector<uint8_t> build_entry_header(const EntryInfo& e, uint32_t name_bytes, uint32_t type) {
  std::vector<uint8_t> h(entry_header_size(type), 0);
  if (type == 1) {
    std::memcpy(h.data(), e.narrow_name.data(), std::min(e.narrow_name.size(), kType1NameField - 1));
    put_u32(h.data() + 260, e.flags);
    put_u32(h.data() + 268, e.stored_size);
    put_u16(h.data() + 280, e.compressed);
    return h;
  }
  if (h.empty()) return h;
  put_u32(h.data(), name_bytes);
  put_u32(h.data() + 4, e.flags);
  put_u32(h.data() + 10, e.stored_size);
  put_u16(h.data() + 22, e.compressed);
  if (type == 4) {
    put_u64(h.data() + 24, e.creation_time);
    put_u64(h.data() + 32, e.last_write_time);
    put_u64(h.data() + 40, e.last_access_time);
  }
  return h;
}

}  // namespace qzstream
