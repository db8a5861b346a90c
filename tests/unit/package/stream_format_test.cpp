// portable
#include "package/stream_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace qzstream;

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, size_t at, uint16_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = v & 0xFF;
  b[at + 1] = v >> 8;
}
void put32(Bytes& b, size_t at, uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
void append(Bytes& b, const std::string& more) { b.insert(b.end(), more.begin(), more.end()); }

Bytes header(const char* sig, uint16_t count, uint32_t type) {
  Bytes h(46, 0);
  std::memcpy(h.data(), sig, 13);
  put16(h, 14, count);
  put32(h, 16, type);
  return h;
}

// A type 2-4 entry written field by field (independent of build_entry_header).
Bytes entry(uint32_t type, const std::string& name_utf16, uint32_t flags, uint32_t stored, uint16_t compressed) {
  Bytes e(type == 4 ? 48 : 24, 0);
  put32(e, 0, static_cast<uint32_t>(name_utf16.size()));
  put32(e, 4, flags);
  put32(e, 10, stored);
  put16(e, 22, compressed);
  if (type == 4) {
    put32(e, 24, 0x11111111), put32(e, 28, 0x01D00000);
    put32(e, 32, 0x22222222), put32(e, 36, 0x01D00001);
    put32(e, 40, 0x33333333), put32(e, 44, 0x01D00002);
  }
  append(e, name_utf16);
  return e;
}

std::string u16(const char* ascii) {
  std::string s;
  for (; *ascii; ++ascii) s += *ascii, s += '\0';
  return s;
}

TEST(StreamTransform, KnownBytesAndInverse) {
  // Key "a": 'a' ^ 0xE4 (low byte of the mask) = 0x85; 0x12 -> swap 0x21 -> not 0xDE -> ^0x85 = 0x5B.
  ScrambleKey a("a");
  uint8_t b = 0x12;
  a.descramble(&b, 1);
  EXPECT_EQ(b, 0x5B);
  a.scramble(&b, 1);
  EXPECT_EQ(b, 0x12);
  // The mask repeats every four key bytes in little-endian order: E4 C6 52 0B.
  ScrambleKey k("ABCDE");
  uint8_t z[5] = {0, 0, 0, 0, 0};
  for (auto& x : z) x = 0xFF;  // swap(0xFF) = 0xFF, not = 0x00: the result is the key itself
  k.descramble(z, 5);
  const uint8_t want[5] = {'A' ^ 0xE4, 'B' ^ 0xC6, 'C' ^ 0x52, 'D' ^ 0x0B, 'E' ^ 0xE4};
  EXPECT_EQ(0, std::memcmp(z, want, 5));
  // Key position wraps at the key length.
  uint8_t p = 0xFF;
  k.descramble(&p, 1, 7);  // 7 mod 5 = 2
  EXPECT_EQ(p, 'C' ^ 0x52);
  // Every byte value at every position survives the round trip.
  Bytes all(256 * 3);
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i);
  Bytes copy = all;
  k.scramble(copy.data(), copy.size(), 3);
  EXPECT_NE(copy, all);
  k.descramble(copy.data(), copy.size(), 3);
  EXPECT_EQ(copy, all);
  // A run far longer than the laid-out key, from an odd position, is the
  // byte-by-byte rule (the round trip above would not see a wrong key position).
  Bytes run(10000);
  for (size_t i = 0; i < run.size(); ++i) run[i] = static_cast<uint8_t>(i * 31 + 5);
  Bytes one_by_one = run;
  k.descramble(run.data(), run.size(), 3);
  for (size_t i = 0; i < one_by_one.size(); ++i) k.descramble(&one_by_one[i], 1, 3 + i);
  EXPECT_EQ(run, one_by_one);
}

TEST(StreamTransform, BlockRuleRestartsKeyAtEach1024Boundary) {
  ScrambleKey k("setup.ini");
  Bytes data(3000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
  // Reference: each 1024-byte block from key position 0.
  Bytes ref = data;
  for (size_t off = 0; off < ref.size(); off += 1024) k.descramble(ref.data() + off, std::min<size_t>(1024, ref.size() - off), 0);
  // The same through pieces that start mid-block, as 16 KiB reads split at odd sizes would.
  Bytes pieces = data;
  const size_t cuts[] = {0, 1000, 1030, 2047, 2048, 3000};
  for (int i = 0; i + 1 < 6; ++i) k.descramble_blocks(pieces.data() + cuts[i], cuts[i + 1] - cuts[i], cuts[i]);
  EXPECT_EQ(pieces, ref);
  k.scramble_blocks(pieces.data(), pieces.size(), 0);
  EXPECT_EQ(pieces, data);
}

TEST(StreamHeader, SignaturesAndTypes) {
  struct Row {
    const char* sig;
    uint32_t type;
    bool valid;
    uint32_t want_type;
  } rows[] = {
      {"QZSetupStream", 4, true, 4}, {"QZSetupStream", 2, true, 2}, {"QZSetupStream", 0, false, 0},
      {"QZSetupStream", 5, false, 5}, {"Brackenwright", 4, true, 1}, {"Brackenwright", 0, true, 1},
      {"QZSetupStreaX", 4, false, 0},
  };
  for (auto& r : rows) {
    Bytes h = header(r.sig, 3, r.type);
    StreamHeader s = parse_header(h.data(), h.size());
    EXPECT_EQ(s.valid, r.valid) << r.sig << " " << r.type;
    if (r.valid) {
      EXPECT_EQ(s.type, r.want_type);
    }
    EXPECT_FALSE(parse_header(h.data(), 45).valid);
  }
  // The fourteenth byte is not compared.
  Bytes h = header("QZSetupStream", 1, 4);
  h[13] = 'x';
  EXPECT_TRUE(parse_header(h.data(), h.size()).valid);
}

TEST(StreamDirectory, Types2To4) {
  for (uint32_t type : {2u, 3u, 4u}) {
    Bytes f(100, 0xAA);  // stands in for the image
    append(f, header("QZSetupStream", 2, type));
    append(f, entry(type, u16("Setup.ini"), 4, 3, 0));
    append(f, std::string("abc"));
    append(f, entry(type, u16("b.cab"), 2, 0, 1));
    MemorySource src(f.data(), f.size());
    Directory d = read_directory(src, 100);
    ASSERT_EQ(d.entries.size(), 2u) << type;
    EXPECT_EQ(d.error, 0u);
    const EntryInfo& e = d.entries[0];
    EXPECT_EQ(e.name, L"Setup.ini");
    EXPECT_EQ(e.flags, 4u);
    EXPECT_EQ(e.stored_size, 3u);
    const size_t ehs = entry_header_size(type);
    EXPECT_EQ(e.data_offset, 100 + 46 + ehs + 18);
    EXPECT_EQ(0, std::memcmp(f.data() + e.data_offset, "abc", 3));
    EXPECT_EQ(e.type, type);
    if (type == 4) {
      EXPECT_EQ(e.creation_time, 0x01D0000011111111ull);
      EXPECT_EQ(e.last_write_time, 0x01D0000122222222ull);
      EXPECT_EQ(e.last_access_time, 0x01D0000233333333ull);
    } else {
      EXPECT_EQ(e.last_write_time, 0u);
    }
    EXPECT_EQ(d.entries[1].name, L"b.cab");
    EXPECT_EQ(d.entries[1].compressed, 1);
    EXPECT_EQ(d.entries[1].stored_size, 0u);
  }
}

TEST(StreamDirectory, Type1AndLegacySignature) {
  Bytes f = header("Brackenwright", 2, 0);
  Bytes e(312, 0);
  std::memcpy(e.data(), "setup.ini", 9);
  put32(e, 260, 2);
  put32(e, 268, 4);
  put16(e, 280, 0);
  append(f, e);
  append(f, std::string("wxyz"));
  Bytes e2(312, 0);
  std::memset(e2.data(), 'n', 260);  // no terminator within the field: cut at 260
  put32(e2, 268, 1);
  append(f, e2);
  f.push_back('!');
  MemorySource src(f.data(), f.size());
  Directory d = read_directory(src, 0);
  ASSERT_EQ(d.entries.size(), 2u);
  EXPECT_EQ(d.header.type, 1u);
  EXPECT_EQ(d.entries[0].name, L"setup.ini");
  EXPECT_EQ(d.entries[0].narrow_name, "setup.ini");
  EXPECT_EQ(d.entries[0].flags, 2u);
  EXPECT_EQ(d.entries[0].data_offset, 46u + 312u);
  EXPECT_EQ(d.entries[1].name.size(), 260u);
  EXPECT_EQ(f[d.entries[1].data_offset], '!');
}

TEST(StreamDirectory, DamagedInputEndsTheDirectory) {
  Bytes good = header("QZSetupStream", 2, 4);
  append(good, entry(4, u16("a"), 0, 4, 0));
  append(good, std::string("1234"));
  append(good, entry(4, u16("b"), 0, 2, 0));
  append(good, std::string("56"));

  struct Row {
    const char* what;
    Bytes bytes;
    size_t entries;
    uint32_t error;
  };
  std::vector<Row> rows;
  rows.push_back({"intact", good, 2, 0});
  rows.push_back({"truncated stream header", Bytes(good.begin(), good.begin() + 30), 0, kErrorIncomplete});
  rows.push_back({"second entry header cut", Bytes(good.begin(), good.begin() + 46 + 50 + 4 + 20), 1, kErrorIncomplete});
  rows.push_back({"second stored bytes cut", Bytes(good.begin(), good.end() - 1), 1, kErrorIncomplete});
  Bytes more = good;
  put16(more, 14, 40);  // count larger than the members present
  rows.push_back({"count too large", more, 2, kErrorIncomplete});
  Bytes huge = good;
  put32(huge, 46 + 10, 0xFFFFFFF0u);  // first stored size beyond the file
  rows.push_back({"stored size beyond end", huge, 0, kErrorIncomplete});
  Bytes longname = good;
  put32(longname, 46, 0xFFFFFFFEu);  // name length beyond the file
  rows.push_back({"name beyond end", longname, 0, kErrorIncomplete});
  Bytes zero = good;
  put16(zero, 14, 0);
  rows.push_back({"no members", zero, 0, 0});

  for (auto& r : rows) {
    MemorySource src(r.bytes.data(), r.bytes.size());
    Directory d = read_directory(src, 0);
    EXPECT_EQ(d.entries.size(), r.entries) << r.what;
    EXPECT_EQ(d.error, r.error) << r.what;
    for (auto& e : d.entries) EXPECT_LE(uint64_t(e.data_offset) + e.stored_size, r.bytes.size()) << r.what;
  }
  // A start offset beyond the file reads nothing.
  MemorySource src(good.data(), good.size());
  EXPECT_FALSE(read_directory(src, 0xFFFFFFF0u).header.valid);

  // A read that fails (not one that meets the end) keeps the source's own error.
  class FailingSource : public MemorySource {
   public:
    FailingSource(const Bytes& b, uint64_t from) : MemorySource(b.data(), b.size()), from_(from) {}
    size_t read_at(uint64_t offset, void* buffer, size_t count) override {
      failed_ = offset + count > from_;
      return failed_ ? 0 : MemorySource::read_at(offset, buffer, count);
    }
    uint32_t last_error() override { return failed_ ? 23 : 0; }

   private:
    uint64_t from_;
    bool failed_ = false;
  };
  const struct {
    uint64_t from;
    size_t entries;
  } failing[] = {{10, 0}, {46 + 20, 0}, {46 + 50 + 4 + 20, 1}, {46 + 50 + 4 + 49, 1}};
  for (auto& f : failing) {
    FailingSource bad(good, f.from);
    Directory d = read_directory(bad, 0);
    EXPECT_EQ(d.entries.size(), f.entries) << f.from;
    EXPECT_EQ(d.error, 23u) << f.from;
  }
}

// A minimal PE32+ image: headers 0x400, .text and .rdata of 0x200 raw bytes each.
Bytes pe_image(bool with_debug, uint32_t cert_size) {
  Bytes f(0x800, 0);
  f[0] = 'M', f[1] = 'Z';
  put32(f, 60, 0x80);
  std::memcpy(f.data() + 0x80, "PE\0\0", 4);
  const size_t coff = 0x84, opt = 0x98;
  put16(f, coff + 2, 2);      // sections
  put16(f, coff + 16, 240);   // optional header size
  put16(f, opt, 0x20b);
  put32(f, opt + 60, 0x400);  // SizeOfHeaders
  put32(f, opt + 108, 16);    // data directories
  const size_t dirs = opt + 112;
  if (cert_size) put32(f, dirs + 4 * 8, 0x800), put32(f, dirs + 4 * 8 + 4, cert_size);
  if (with_debug) put32(f, dirs + 6 * 8, 0x2010), put32(f, dirs + 6 * 8 + 4, 28);
  const size_t sec = opt + 240;
  std::memcpy(f.data() + sec, ".text", 5);
  put32(f, sec + 12, 0x1000), put32(f, sec + 16, 0x200), put32(f, sec + 20, 0x400);
  std::memcpy(f.data() + sec + 40, ".RDATA", 6);  // names compare case-insensitively
  put32(f, sec + 40 + 12, 0x2000), put32(f, sec + 40 + 16, 0x200), put32(f, sec + 40 + 20, 0x600);
  if (with_debug) {
    // One debug entry at file 0x610 whose data (0x30 bytes) lies after the image.
    put32(f, 0x610 + 16, 0x30);
    put32(f, 0x610 + 24, 0x800);
    f.resize(0x830, 0xDD);
  }
  return f;
}

// The same image with a third section ".debug" (0x40 raw bytes at 0x800) that holds
// the debug directory; its one entry points at 0x30 bytes after the image. The
// directory's address lies outside .rdata, so only the .debug rule finds it.
Bytes pe_image_with_debug_section() {
  Bytes f = pe_image(false, 0);
  const size_t opt = 0x98, sec = opt + 240 + 80;
  put16(f, 0x84 + 2, 3);
  put32(f, opt + 112 + 6 * 8, 0x3000), put32(f, opt + 112 + 6 * 8 + 4, 28);
  std::memcpy(f.data() + sec, ".debug", 6);
  put32(f, sec + 12, 0x3000), put32(f, sec + 16, 0x40), put32(f, sec + 20, 0x800);
  f.resize(0x870, 0);
  put32(f, 0x800 + 16, 0x30);
  put32(f, 0x800 + 24, 0x840);
  return f;
}

// Counts what a reader asks of the bytes.
class CountingSource : public MemorySource {
 public:
  using MemorySource::MemorySource;
  size_t read_at(uint64_t offset, void* buffer, size_t count) override {
    ++reads;
    largest = std::max(largest, count);
    return MemorySource::read_at(offset, buffer, count);
  }
  size_t reads = 0, largest = 0;
};

TEST(StreamLocation, ImageEndDebugDataAndCertificates) {
  struct Row {
    bool debug;
    uint32_t cert;
    uint32_t plain, with_cert;
  } rows[] = {{false, 0, 0x800, 0x800}, {true, 0, 0x830, 0x830}, {false, 0x100, 0x800, 0x900}, {true, 0x100, 0x830, 0x930}};
  for (auto& r : rows) {
    Bytes f = pe_image(r.debug, r.cert);
    MemorySource src(f.data(), f.size());
    uint32_t err = 1;
    EXPECT_EQ(pe_stream_start(src, false, &err), r.plain);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(pe_stream_start(src, true), r.with_cert);
  }
  Bytes f = pe_image_with_debug_section();
  MemorySource src(f.data(), f.size());
  EXPECT_EQ(pe_stream_start(src, false), 0x870u);
}

TEST(StreamLocation, ForgedSizesCostNeitherMemoryNorReads) {
  // A debug directory claiming 4 GiB over a 1 MiB file: the table is read in a few
  // large pieces, not one read per 28-byte entry, and only the real entry counts.
  Bytes f = pe_image(true, 0);
  put32(f, 0x98 + 112 + 6 * 8 + 4, 0xFFFFFFFCu);
  std::fill(f.begin() + 0x800, f.end(), 0);
  f.resize(1 << 20, 0);
  CountingSource src(f.data(), f.size());
  EXPECT_EQ(pe_stream_start(src, false), 0x830u);
  EXPECT_LT(src.reads, 40u);
  EXPECT_LE(src.largest, 64u << 10);
  // Headers claimed beyond the file are refused before anything is read for them.
  for (uint32_t headers : {0x03C00000u, 0x900u}) {
    Bytes g = pe_image(false, 0);
    put32(g, 0x98 + 60, headers);
    CountingSource s(g.data(), g.size());
    uint32_t err = 0;
    EXPECT_EQ(pe_stream_start(s, false, &err), 0u) << headers;
    EXPECT_EQ(err, kErrorBadExe) << headers;
    EXPECT_LE(s.largest, 4096u) << headers;
  }
}

TEST(StreamLocation, NotAnImage) {
  Bytes good = pe_image(false, 0);
  std::vector<Bytes> bad;
  bad.push_back(Bytes(good.begin(), good.begin() + 40));           // shorter than the DOS header
  Bytes nomz = good; nomz[0] = 'X'; bad.push_back(nomz);
  Bytes nope = good; nope[0x80] = 'Q'; bad.push_back(nope);
  Bytes far = good; put32(far, 60, 0x7FFFFFF0u); bad.push_back(far);  // e_lfanew beyond the file
  Bytes cut(good.begin(), good.begin() + 0x80 + 200); bad.push_back(cut);  // fewer than 264 bytes of PE headers
  Bytes many = good; put16(many, 0x84 + 2, 0xFFFF); bad.push_back(many);  // section table beyond the file
  for (size_t i = 0; i < bad.size(); ++i) {
    MemorySource src(bad[i].data(), bad[i].size());
    uint32_t err = 0;
    EXPECT_EQ(pe_stream_start(src, false, &err), 0u) << i;
    EXPECT_EQ(err, kErrorBadExe) << i;
  }
}

TEST(StreamLocation, StreamAfterTheCertificateTableIsFoundSecond) {
  Bytes stream = header("QZSetupStream", 1, 4);
  append(stream, entry(4, u16("x"), 0, 1, 0));
  stream.push_back('X');

  Bytes at_end = pe_image(false, 0x40);  // the certificate table would follow: here the stream does
  append(at_end, stream);
  MemorySource s1(at_end.data(), at_end.size());
  Located l1 = locate_stream(s1);
  EXPECT_EQ(l1.start, 0x800u);
  EXPECT_TRUE(l1.header.valid);

  Bytes legacy = pe_image(false, 0x40);
  legacy.resize(0x840, 0xCE);  // the certificate table
  append(legacy, stream);
  MemorySource s2(legacy.data(), legacy.size());
  Located l2 = locate_stream(s2);
  EXPECT_EQ(l2.start, 0x840u);
  EXPECT_TRUE(l2.header.valid);
  EXPECT_EQ(read_directory(s2, l2.start).entries.size(), 1u);

  Bytes none = pe_image(false, 0);
  MemorySource s3(none.data(), none.size());
  Located l3 = locate_stream(s3);
  EXPECT_FALSE(l3.header.valid);
  EXPECT_EQ(l3.header.type, 4u);

  // An empty stream at the image end: valid without a certificate table to retry
  // after, invalid when the retry finds no stream there.
  Bytes empty_stream = header("QZSetupStream", 0, 4);
  Bytes unsigned_empty = pe_image(false, 0);
  append(unsigned_empty, empty_stream);
  MemorySource s4(unsigned_empty.data(), unsigned_empty.size());
  EXPECT_TRUE(locate_stream(s4).header.valid);
  Bytes signed_empty = pe_image(false, 0x60);
  append(signed_empty, empty_stream);
  signed_empty.resize(0x860 + 46, 0xCE);
  MemorySource s5(signed_empty.data(), signed_empty.size());
  Located l5 = locate_stream(s5);
  EXPECT_FALSE(l5.header.valid);
  EXPECT_EQ(l5.header.type, 4u);
}

TEST(StreamNames, OnlyPlainFileNamesMayBeJoinedToAFolder) {
  struct Row {
    const wchar_t* name;
    bool safe;
  } rows[] = {
      {L"Setup.ini", true},    {L"0x0409.ini", true},  {L"Größe.txt", true},  {L"данные.bin", true},
      {L"a..b", true},         {L"COM10", true},       {L"CONSOLE.txt", true}, {L".hidden", true},
      {L"", false},            {L".", false},          {L"..", false},        {L"..\\evil.dll", false},
      {L"sub/x", false},       {L"sub\\x", false},     {L"C:x", false},       {L"a.txt:stream", false},
      {L"CON", false},         {L"nul", false},        {L"NUL.txt", false},   {L"com1", false},
      {L"LPT9.log", false},    {L"aux .x", false},     {L"name.", false},     {L"name ", false},
      {L"a*b", false},         {L"a\tb", false},       {L"q?", false},        {L"x|y", false},
  };
  for (auto& r : rows) EXPECT_EQ(is_safe_member_name(r.name), r.safe) << utf8_encode(r.name);
  EXPECT_TRUE(is_safe_member_name(std::wstring(255, L'a')));
  EXPECT_FALSE(is_safe_member_name(std::wstring(256, L'a')));
}

TEST(StreamText, Conversions) {
  const std::wstring samples[] = {L"Setup.ini", L"Größe", L"данные", L"\u20AC", L"\U0001F600x"};
  for (auto& s : samples) {
    std::string w16 = utf16le_encode(s);
    EXPECT_EQ(utf16le_decode(reinterpret_cast<const uint8_t*>(w16.data()), w16.size()), s);
    EXPECT_EQ(utf8_decode(utf8_encode(s)), s);
  }
  EXPECT_EQ(utf16le_encode(L"\U0001F600"), std::string("\x3D\xD8\x00\xDE", 4));
  EXPECT_EQ(utf8_encode(L"ß"), "\xC3\x9F");
  // An unpaired surrogate and an odd trailing byte do not break decoding.
  const uint8_t lone[] = {0x00, 0xD8, 'a', 0, 'b'};
  EXPECT_EQ(utf16le_decode(lone, sizeof lone), L"\uFFFDa");
  EXPECT_EQ(utf8_decode("\xC3"), L"\uFFFD");

  std::string out;
  EXPECT_TRUE(cp1252_encode(L"Größe\u20AC", out));
  EXPECT_EQ(out, "Gr\xF6\xDF" "e\x80");
  EXPECT_FALSE(cp1252_encode(L"данные", out));
}

TEST(StreamBuilders, WhatThePackerWritesReadsBack) {
  EntryInfo e;
  e.flags = 6;
  e.stored_size = 1234;
  e.compressed = 1;
  e.creation_time = 1, e.last_write_time = 2, e.last_access_time = 3;
  std::string name = utf16le_encode(L"Größe.txt");
  Bytes f = build_stream_header(1);
  append(f, build_entry_header(e, static_cast<uint32_t>(name.size())));
  append(f, name);
  f.resize(f.size() + 1234, 0x5A);
  MemorySource src(f.data(), f.size());
  Directory d = read_directory(src, 0);
  ASSERT_EQ(d.entries.size(), 1u);
  EXPECT_EQ(d.entries[0].name, L"Größe.txt");
  EXPECT_EQ(d.entries[0].flags, 6u);
  EXPECT_EQ(d.entries[0].compressed, 1);
  EXPECT_EQ(d.entries[0].stored_size, 1234u);
  EXPECT_EQ(d.entries[0].last_write_time, 2u);
  EXPECT_EQ(d.entries[0].last_access_time, 3u);
  EXPECT_EQ(f[13], 0);  // the signature carries its terminator
}

}  // namespace
