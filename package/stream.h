// The setup stream carried after the launcher's PE image: finds it, reads its member
// directory and writes members to disk or into memory (descrambling, inflating,
// restoring file times). The byte format lives in package/stream_format.h.
//
// A stream on the launcher's own file reads through the handle the process holds
// on it from its start (qzproc::own_image): what is read is the file that was
// started, whatever lies under its name by now. A member is written under a fresh
// name beside its target and takes the target's name only once complete, so a
// failed or cancelled member leaves nothing, and nothing is written through an
// entry (a link) already under the target's name.
#pragma once
#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "package/member_decode.h"
#include "package/stream_format.h"
#include "support/handles.h"
#include "support/zstring.h"

// Member names as ANSI text in the code page of the thread's locale, which keys the
// scrambling of stored members and of the whole-file pass, and back.
std::string ansi_member_name(const std::wstring& name);
std::wstring member_name_from_ansi(std::string_view text);

// Progress and status sink of the stream reader (the Session implements it).
class IStreamProgress {
 public:
  // done of total stored bytes; true asks to cancel.
  virtual bool progress(uint32_t done, uint32_t total) = 0;
  // kind 0 = extracting, 1 = decompressing.
  virtual void show_status(int kind, const zString& name) = 0;
  virtual ~IStreamProgress() = default;
};

struct StreamEntry {
  zString name;
  uint32_t flags = 0;
  uint32_t stored_size = 0;
  uint16_t compressed = 0;
  FILETIME creation_time{}, last_write_time{}, last_access_time{};  // type 4 only
  uint32_t data_offset = 0;
  uint32_t stream_type = 0;

  // UTF-8 copy of the name, built on first use.
  const std::string& narrow_name() const;

 private:
  mutable std::string narrow_;
  mutable bool narrow_built_ = false;
};

struct StreamNameLess {
  bool operator()(const zString& a, const zString& b) const;
};

class STREAM {
 public:
  // Called by extract_all for each member: leaves the target path in `target`
  // (left empty, the member fails).
  using ChooseTarget = void (*)(const StreamEntry& member, void* context, zpath& target);
  using Entries = std::map<zString, StreamEntry, StreamNameLess>;

  explicit STREAM(const zpath& path);
  virtual ~STREAM();
  STREAM(const STREAM&) = delete;
  STREAM& operator=(const STREAM&) = delete;

  bool is_valid() const { return valid_; }
  bool contains(const zString& name) const;
  // The members' stored sizes added in 64 bits: a payload above 4 GiB must not
  // wrap to a small need.
  uint64_t total_size() const;
  bool extract(const zString& name, const zpath& target, IStreamProgress* progress);
  bool extract_all(ChooseTarget choose, void* context, IStreamProgress* progress);
  // The member's content in memory, at most `limit` bytes; false (last_error says
  // why) when it is missing, damaged, larger or cannot be read.
  bool read_member(const zString& name, std::vector<uint8_t>* out, size_t limit);

  const Entries& entries() const { return entries_; }
  const StreamEntry* find(const zString& name) const;
  DWORD last_error() const { return last_error_; }
  uint32_t stream_start() const { return stream_start_; }
  uint32_t stream_type() const { return stream_type_; }

 private:
  static qz::file_handle own_image_handle(const zpath& path);
  bool write_member(const StreamEntry& entry, const zpath& target, IStreamProgress* progress);
  // The member's content, whole-file scrambling undone, handed to `sink` in order.
  bool decode(const StreamEntry& entry, const qzstream::MemberWrite& sink, IStreamProgress* progress);

  zpath path_;
  qz::file_handle file_;
  bool open_ = false;
  uint32_t stream_start_ = 0;
  DWORD last_error_ = 0;
  uint32_t header_size_ = 46;
  uint32_t entry_header_size_ = 48;
  Entries entries_;
  uint32_t stream_type_ = 4;
  bool valid_ = false;
};
