#include "package/stream.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "package/member_decode.h"
#include "support/debuglog.h"

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

// Undoes whole-file scrambling of an extracted file in place, a window at a time so
// a large member never needs one huge view.
bool descramble_file(const zpath& target, const ScrambleKey& key) {
  qz::file_handle f(CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(f.get(), &size)) return false;
  if (size.QuadPart == 0) return true;
  FILETIME c, a, w;
  const bool have_times = GetFileTime(f.get(), &c, &a, &w);
  qz::file_handle map(CreateFileMappingW(f.get(), nullptr, PAGE_READWRITE, 0, 0, nullptr));
  if (!map) return false;
  const uint64_t window = 16u << 20;  // a multiple of the allocation granularity
  for (uint64_t off = 0; off < static_cast<uint64_t>(size.QuadPart); off += window) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(window, size.QuadPart - off));
    void* view = MapViewOfFile(map.get(), FILE_MAP_WRITE, static_cast<DWORD>(off >> 32), static_cast<DWORD>(off), n);
    if (!view) return false;
    key.descramble(static_cast<uint8_t*>(view), n, static_cast<size_t>(off));
    const bool flushed = FlushViewOfFile(view, n);
    UnmapViewOfFile(view);
    if (!flushed) return false;
  }
  // Writing through the view touched the last-write time; keep the member's.
  if (have_times) SetFileTime(f.get(), &c, &a, &w);
  return true;
}

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
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY) && !(attrs & FILE_ATTRIBUTE_DIRECTORY))
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

bool STREAM::write_member(const StreamEntry& e, const zpath& target, IStreamProgress* progress) {
  if (!is_safe_member_name(e.name)) {
    QZ_LOG(L"Refusing setup stream member '%s': not a plain file name", e.name.c_str());
    return false;
  }
  qz::file_handle src(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!src) {
    last_error_ = GetLastError();
    return false;
  }
  LARGE_INTEGER at;
  at.QuadPart = e.data_offset;
  if (!SetFilePointerEx(src.get(), at, nullptr, FILE_BEGIN)) {
    last_error_ = GetLastError();
    return false;
  }
  if (progress && progress->progress(0, e.stored_size)) return false;

  const MemberKeys keys =
      member_keys(e.stream_type, e.flags, e.stored_size, e.compressed != 0, e.narrow_name(), ansi_member_name(e.name));
  bool ok = false;
  bool created = false;
  {
    qz::file_handle out;
    if (e.compressed && progress) progress->show_status(1, e.name);
    // A compressed member's file may be read while it is written.
    const DWORD share = e.compressed ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
    out = qz::file_handle(CreateFileW(target.c_str(), GENERIC_WRITE, share, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) {
      last_error_ = GetLastError();
      QZ_LOG(L"Cannot create %s (error %u)", target.c_str(), last_error_);
      return false;
    }
    created = true;
    auto read = [&](uint8_t* buffer, size_t count) -> size_t {
      DWORD got = 0;
      if (!ReadFile(src.get(), buffer, static_cast<DWORD>(count), &got, nullptr)) return 0;
      return got;
    };
    auto write = [&](const uint8_t* data, size_t size) {
      if (write_all(out.get(), data, size)) return true;
      last_error_ = GetLastError();
      return false;
    };
    MemberProgress report;
    if (progress) report = [&](uint32_t done, uint32_t total) { return progress->progress(done, total); };
    const DecodeResult r = decode_member(keys.coding, read, write, report);
    ok = r.status == DecodeStatus::kDone;
    if (r.status == DecodeStatus::kCancelled) FlushFileBuffers(out.get());
    if (r.status == DecodeStatus::kZlibError) QZ_LOG(L"Setup stream member '%s': zlib error %d", e.name.c_str(), r.zlib_code);
    if (r.status == DecodeStatus::kEndsEarly)
      QZ_LOG(e.compressed ? L"Setup stream member '%s': compressed data ends early" : L"Setup stream member '%s' ends early",
             e.name.c_str());
    if (ok && e.compressed) {
      FlushFileBuffers(out.get());
      FILETIME c = e.creation_time, a = e.last_access_time, w = e.last_write_time;
      SetFileTime(out.get(), &c, &a, &w);
    }
  }
  if (ok && keys.whole && !descramble_file(target, ScrambleKey(keys.whole_key))) {
    last_error_ = GetLastError();
    ok = false;
  }
  // A failed member leaves nothing behind that a caller could mistake for it.
  if (!ok && created) DeleteFileW(target.c_str());
  return ok;
}
