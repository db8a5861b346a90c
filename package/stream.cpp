#include "package/stream.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "package/member_decode.h"
#include "support/debuglog.h"
#include "support/new_file.h"
#include "support/process_state.h"
#include "support/utils.h"

static const wchar_t kLogSource[] = L"Src\\Runtime\\MSI\\Shared\\Setup\\stream";

namespace {

using namespace qzstream;

class FileSource : public ByteSource {
 public:
  explicit FileSource(HANDLE h) : h_(h) {}
  size_t read_at(uint64_t offset, void* buffer, size_t count) override {
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(offset);
    ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    error_ = 0;
    if (!ReadFile(h_, buffer, static_cast<DWORD>(count), &got, &ov)) {
      // Reading at the end of the file is no failure, only a short read.
      const DWORD e = GetLastError();
      error_ = e == ERROR_HANDLE_EOF ? 0 : e;
      return 0;
    }
    return got;
  }
  uint64_t size() override {
    LARGE_INTEGER s{};
    return GetFileSizeEx(h_, &s) ? static_cast<uint64_t>(s.QuadPart) : 0;
  }
  uint32_t last_error() override { return error_; }

 private:
  HANDLE h_;
  DWORD error_ = 0;
};

FILETIME to_filetime(uint64_t v) {
  FILETIME f;
  f.dwLowDateTime = static_cast<DWORD>(v);
  f.dwHighDateTime = static_cast<DWORD>(v >> 32);
  return f;
}

bool write_all(HANDLE h, const uint8_t* data, size_t size) {
  DWORD written = 0;
  return WriteFile(h, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

// The member's stored bytes in order, read at their offsets through the stream's
// own handle.
class MemberReader {
 public:
  MemberReader(HANDLE file, uint64_t offset) : source_(file), offset_(offset) {}
  size_t operator()(uint8_t* buffer, size_t count) {
    const size_t got = source_.read_at(offset_, buffer, count);
    offset_ += got;
    if (!got) error_ = source_.last_error();
    return got;
  }
  DWORD error() const { return error_; }

 private:
  FileSource source_;
  uint64_t offset_;
  DWORD error_ = 0;
};

}  // namespace

std::string ansi_member_name(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_THREAD_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(n > 0 ? n : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_THREAD_ACP, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

std::wstring member_name_from_ansi(std::string_view s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_THREAD_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(n > 0 ? n : 0, L'\0');
  if (n > 0) MultiByteToWideChar(CP_THREAD_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

// A stream on the launcher's own file reads through the file held since the start
// of the run (null when that is another file or nothing is held).
qz::file_handle STREAM::own_image_handle(const zpath& path) {
  HANDLE own = qzproc::own_image();
  if (!own || !qz::SamePath(path, qzproc::own_file_name())) return qz::file_handle();
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
    return qz::file_handle();
  return qz::file_handle(copy);
}

const std::string& StreamEntry::narrow_name() const {
  if (!narrow_built_) {
    narrow_ = utf8_encode(name);
    narrow_built_ = true;
  }
  return narrow_;
}

bool StreamNameLess::operator()(const zString& a, const zString& b) const {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    wchar_t x = wide_lower(a[i]), y = wide_lower(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

STREAM::STREAM(const zpath& path) : path_(path) {
  file_ = own_image_handle(path_);
  if (!file_)
    file_ = qz::file_handle(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) {
    last_error_ = GetLastError();
    QZ_LOG(L"Cannot open %s for the setup stream (error %u)", path_.c_str(), last_error_);
    return;
  }
  open_ = true;
  FileSource source(file_.get());
  Located where = locate_stream(source);
  if (where.error) {
    last_error_ = where.error;
    QZ_LOG(L"%s is not a PE image (error %u)", path_.c_str(), last_error_);
    return;
  }
  stream_start_ = where.start;
  if (!where.header.valid) {
    stream_type_ = 4;
    entry_header_size_ = 48;
    QZ_LOG(L"No setup stream in %s at offset %u", path_.c_str(), stream_start_);
    return;
  }
  Directory dir = read_directory(source, stream_start_, &member_name_from_ansi);
  valid_ = dir.header.valid;
  stream_type_ = dir.header.type;
  entry_header_size_ = static_cast<uint32_t>(entry_header_size(stream_type_));
  for (auto& e : dir.entries) {
    StreamEntry s;
    s.name = zString(e.name);
    s.flags = e.flags;
    s.stored_size = e.stored_size;
    s.compressed = e.compressed;
    s.creation_time = to_filetime(e.creation_time);
    s.last_write_time = to_filetime(e.last_write_time);
    s.last_access_time = to_filetime(e.last_access_time);
    s.data_offset = e.data_offset;
    s.stream_type = e.type;
    entries_.emplace(s.name, std::move(s));  // a repeated name keeps the first member
  }
  if (dir.error) {
    last_error_ = dir.error;
    QZ_LOG(L"Setup stream directory ends after %u of %u members (error %u)",
           static_cast<unsigned>(dir.entries.size()), static_cast<unsigned>(dir.header.count), dir.error);
  }
}

STREAM::~STREAM() = default;

const StreamEntry* STREAM::find(const zString& name) const {
  auto it = entries_.find(name);
  return it == entries_.end() ? nullptr : &it->second;
}

bool STREAM::contains(const zString& name) const { return open_ && find(name) != nullptr; }

uint64_t STREAM::total_size() const {
  std::vector<uint32_t> sizes;
  sizes.reserve(entries_.size());
  for (auto& [name, e] : entries_) sizes.push_back(e.stored_size);
  return qzstream::total_stored_size(sizes);
}

bool STREAM::extract(const zString& name, const zpath& target, IStreamProgress* progress) {
  const StreamEntry* e = valid_ ? find(name) : nullptr;
  if (!e) return false;
  DWORD attrs = GetFileAttributesW(target.c_str());
  // Never through a link: that would change its target's attributes.
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY) &&
      !(attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
    SetFileAttributesW(target.c_str(), attrs & ~FILE_ATTRIBUTE_READONLY);
  return write_member(*e, target, progress);
}

bool STREAM::extract_all(ChooseTarget choose, void* context, IStreamProgress* progress) {
  if (!valid_ || !choose) return false;
  bool any = false;
  for (auto& [name, e] : entries_) {
    zpath target;
    // The callback joins a folder with the name: a name that could leave the folder
    // fails before anything is chosen or written.
    if (!is_safe_member_name(e.name)) {
      QZ_LOG(L"Refusing setup stream member '%s': not a plain file name", e.name.c_str());
      return false;
    }
    choose(e, context, target);
    if (target.empty() || !write_member(e, target, progress)) return false;
    any = true;
  }
  return any;
}

bool STREAM::decode(const StreamEntry& e, const qzstream::MemberWrite& sink, IStreamProgress* progress) {
  const MemberKeys keys =
      member_keys(e.stream_type, e.flags, e.stored_size, e.compressed != 0, e.narrow_name(), ansi_member_name(e.name));
  MemberReader read(file_.get(), e.data_offset);
  // Whole-file scrambling is undone on the way out, at each byte's offset in the
  // content: no second pass over the written file (a mapped view would turn an
  // I/O error into a crash).
  const ScrambleKey whole_key(keys.whole ? keys.whole_key : std::string());
  std::vector<uint8_t> piece;
  uint64_t written = 0;
  auto write = [&](const uint8_t* data, size_t size) {
    if (keys.whole) {
      piece.assign(data, data + size);
      whole_key.descramble(piece.data(), size, static_cast<size_t>(written));
      data = piece.data();
    }
    written += size;
    return sink(data, size);
  };
  MemberProgress report;
  if (progress) report = [&](uint32_t done, uint32_t total) { return progress->progress(done, total); };
  const DecodeResult r = decode_member(keys.coding, std::ref(read), write, report);
  if (r.status == DecodeStatus::kZlibError) {
    last_error_ = ERROR_INVALID_DATA;
    QZ_LOG(L"Setup stream member '%s': zlib error %d", e.name.c_str(), r.zlib_code);
  } else if (r.status == DecodeStatus::kEndsEarly) {
    last_error_ = read.error() ? read.error() : static_cast<DWORD>(ERROR_HANDLE_EOF);
    QZ_LOG(e.compressed ? L"Setup stream member '%s': compressed data ends early" : L"Setup stream member '%s' ends early",
           e.name.c_str());
  } else if (r.status == DecodeStatus::kCancelled) {
    last_error_ = ERROR_CANCELLED;
  }
  return r.status == DecodeStatus::kDone;
}

bool STREAM::write_member(const StreamEntry& e, const zpath& target, IStreamProgress* progress) {
  if (!is_safe_member_name(e.name)) {
    QZ_LOG(L"Refusing setup stream member '%s': not a plain file name", e.name.c_str());
    return false;
  }
  if (progress && progress->progress(0, e.stored_size)) return false;
  if (e.compressed && progress) progress->show_status(1, e.name);
  // A compressed member's file may be read while it is written.
  qz::new_file out;
  if (!out.create(target, e.compressed != 0)) {
    last_error_ = GetLastError();
    QZ_LOG(L"Cannot create %s (error %u)", target.c_str(), last_error_);
    return false;
  }
  auto sink = [&](const uint8_t* data, size_t size) {
    if (write_all(out.get(), data, size)) return true;
    last_error_ = GetLastError();
    return false;
  };
  if (!decode(e, sink, progress)) {
    if (last_error_ == ERROR_DISK_FULL || last_error_ == ERROR_HANDLE_DISK_FULL)
      QZ_LOG(L"Setup stream member '%s': the disk is full", e.name.c_str());
    return false;  // the partial file goes with `out`
  }
  // No flush: readers of the member (the installer) read it through the system's
  // cache, and a file of this run is worth nothing after a crash of the machine.
  if (e.compressed) {
    FILETIME c = e.creation_time, a = e.last_access_time, w = e.last_write_time;
    SetFileTime(out.get(), &c, &a, &w);
  }
  if (!out.commit()) {
    last_error_ = GetLastError();
    QZ_LOG(L"Cannot put %s in place (error %u)", target.c_str(), last_error_);
    return false;
  }
  return true;
}

bool STREAM::read_member(const zString& name, std::vector<uint8_t>* out, size_t limit) {
  out->clear();
  const StreamEntry* e = valid_ ? find(name) : nullptr;
  if (!e) return false;
  auto sink = [&](const uint8_t* data, size_t size) {
    if (out->size() + size > limit) {
      last_error_ = ERROR_FILE_TOO_LARGE;
      return false;
    }
    out->insert(out->end(), data, data + size);
    return true;
  };
  try {
    if (decode(*e, sink, nullptr)) return true;
  } catch (const std::bad_alloc&) {
    last_error_ = ERROR_NOT_ENOUGH_MEMORY;
  }
  out->clear();
  return false;
}
