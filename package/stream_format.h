// portable
// The setup stream's on-disk format, shared by the launcher's reader (STREAM) and
// the setup author's packing tool (mksetup): stream and entry headers, the member
// directory, the scrambling transform, the PE image-end rule and the member-name
// rule for extraction. Everything here works on bytes; file access is the caller's,
// through a ByteSource.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qzstream {

constexpr size_t kHeaderSize = 46;
constexpr size_t kSignatureCompared = 13;
constexpr char kSignature[] = "QZSetupStream";
constexpr char kLegacySignature[] = "Brackenwright";  // always type 1
constexpr uint32_t kFlagScrambleWhole = 2;
constexpr uint32_t kFlagScrambleBlocks = 4;           // takes precedence over 2
constexpr size_t kScrambleBlock = 1024;
constexpr size_t kExpandedKey = 4096;                 // least run of key bytes side by side (ScrambleKey)
// Read (and inflated) in pieces this large: each read and write is a system call,
// which costs far more under some systems than the bytes it moves.
constexpr size_t kCopyChunk = 256 << 10;              // uncompressed members
constexpr size_t kZlibChunk = 256 << 10;              // compressed members, in and out
constexpr uint32_t kKeyMask = 0x0B52C6E4;
constexpr size_t kType1NameField = 260;
// Error numbers the reader reports (Win32 values).
constexpr uint32_t kErrorBadExe = 193;       // ERROR_BAD_EXE_FORMAT
constexpr uint32_t kErrorIncomplete = 259;   // ERROR_NO_MORE_ITEMS

// Entry header size of a stream type; 0 for a type this reader does not know.
size_t entry_header_size(uint32_t type);

// Random access to the bytes of a file or a buffer. read_at returns the number of
// bytes read (fewer at the end of the data or on failure).
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual size_t read_at(uint64_t offset, void* buffer, size_t count) = 0;
  virtual uint64_t size() = 0;
  // The system error of the last read_at when it failed; 0 when it read everything
  // or only met the end of the data.
  virtual uint32_t last_error() { return 0; }
};

class MemorySource : public ByteSource {
 public:
  MemorySource(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}
  size_t read_at(uint64_t offset, void* buffer, size_t count) override;
  uint64_t size() override { return size_; }

 private:
  const uint8_t* data_;
  size_t size_;
};

struct StreamHeader {
  bool valid = false;   // signature matched and the type is known
  uint16_t count = 0;
  uint32_t type = 0;
};

// The members' stored sizes added without wrapping.
uint64_t total_stored_size(std::span<const uint32_t> sizes);

// Parses the 46-byte stream header (fewer bytes: invalid).
StreamHeader parse_header(const uint8_t* bytes, size_t size);

// One member as the directory describes it.
struct EntryInfo {
  std::wstring name;
  std::string narrow_name;   // type 1: the ANSI name as stored
  uint32_t flags = 0;
  uint32_t stored_size = 0;
  uint16_t compressed = 0;
  uint64_t creation_time = 0, last_write_time = 0, last_access_time = 0;  // FILETIME, type 4
  uint32_t data_offset = 0;  // absolute file offset of the stored bytes
  uint32_t type = 0;
};

struct Directory {
  StreamHeader header;
  std::vector<EntryInfo> entries;  // in file order, duplicates included
  uint32_t error = 0;              // why the directory ended early (0: all members read)
};

// Turns a type-1 ANSI name into wide text; the launcher passes the ANSI code page's
// conversion, the default reads the bytes as Latin-1.
using AnsiDecoder = std::wstring (*)(std::string_view);

// Reads the stream header at `start` and up to `count` members. Never reads outside
// the source: a member whose entry header, name or stored bytes do not lie wholly in
// the file, or whose offsets leave the 32-bit range, ends the directory (error 259);
// the members before it stay. A read that fails ends it with the source's error.
Directory read_directory(ByteSource& source, uint32_t start, AnsiDecoder ansi = nullptr);

// The parts of a PE image the stream is placed by: where the plain stream starts
// (the image end, plus debug data stored past it) and the certificate table as the
// security directory gives it (a file offset and a size; both 0 when unsigned).
// All zero and error 193 when the file is not a PE image.
struct PeLayout {
  uint32_t stream_start = 0;
  uint32_t certificate_offset = 0, certificate_size = 0;
  uint32_t error = 0;
};
PeLayout pe_layout(ByteSource& source);

// Where the stream starts: the PE image end (headers + raw section data), plus debug
// data stored past it, plus the certificate table when `with_certificates`. 0 when
// the file is not a PE image (error 193 in *error).
uint32_t pe_stream_start(ByteSource& source, bool with_certificates, uint32_t* error = nullptr);

// The start the reader uses: the plain one when a valid header with members lies
// there, else the one after the certificate table when that is later (then the
// header there decides, even over an empty one at the plain start). Returns the
// header read at the chosen start.
struct Located {
  uint32_t start = 0;
  StreamHeader header;
  uint32_t error = 0;
};
Located locate_stream(ByteSource& source);

// The key derived from a member's name: key text bytes XOR the little-endian mask.
class ScrambleKey {
 public:
  explicit ScrambleKey(std::string_view key_text);
  // Undoes the packer's transform over bytes at key positions pos, pos+1, ...
  void descramble(uint8_t* data, size_t size, size_t key_position = 0) const;
  void scramble(uint8_t* data, size_t size, size_t key_position = 0) const;
  // Block rule: `stream_offset` is the offset of data[0] within the member's stored
  // bytes; each byte's key position is its offset within its 1024-byte block.
  void descramble_blocks(uint8_t* data, size_t size, uint64_t stream_offset) const;
  void scramble_blocks(uint8_t* data, size_t size, uint64_t stream_offset) const;

 private:
  std::vector<uint8_t> key_;
  // The key repeated to at least kExpandedKey + its own length: a run of bytes
  // starting at any key position has its key bytes side by side.
  std::vector<uint8_t> expanded_;
};

// UTF-16LE bytes <-> wide text (wchar_t may be 16 or 32 bits). Unpaired surrogates
// become U+FFFD when decoding.
std::wstring utf16le_decode(const uint8_t* bytes, size_t size);
std::string utf16le_encode(std::wstring_view text);
std::string utf8_encode(std::wstring_view text);
std::wstring utf8_decode(std::string_view text);
// Windows-1252, the ANSI code page a reader without one (the Linux packing tool)
// assumes for ANSI-keyed members. False when a character has no single-byte form there.
bool cp1252_encode(std::wstring_view text, std::string& out);

// A member name that may be joined to a target folder: one plain file name, no
// separator, drive or stream colon, wildcard or control character, not "." or "..",
// no trailing dot or blank, not a reserved device name (CON, NUL, COM1, ...), at most
// 255 characters.
bool is_safe_member_name(std::wstring_view name);

// Byte builders for the packer (type 4 unless stated).
std::vector<uint8_t> build_stream_header(uint16_t count, uint32_t type = 4);
std::vector<uint8_t> build_entry_header(const EntryInfo& entry, uint32_t name_bytes, uint32_t type = 4);

uint16_t get_u16(const uint8_t* p);
uint32_t get_u32(const uint8_t* p);
uint64_t get_u64(const uint8_t* p);

}  // namespace qzstream
