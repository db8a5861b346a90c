// The transport behind the file object and the file copy.
#include "net/internet.h"

#include <windows.h>

#include "net/inet_file.h"
#include "package/qzfile.h"

namespace qz {

namespace {

constexpr DWORD kTimeoutMs = 30000;
constexpr DWORD kOpenFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_PRAGMA_NOCACHE;
const wchar_t kAgent[] = L"toys::file";

// Owns one reference of the file.
struct FileRef {
  inet_file* f = nullptr;
  ~FileRef() {
    if (f) f->Release();
  }
};

// The file opened and its request answered; null with the last error otherwise.
inet_file* open_answered(const std::wstring& url) {
  inet_file* f = make_inet_file(url, kAgent, kTimeoutMs);
  if (!f) return nullptr;
  if (!f->open(url, L"", kOpenFlags) || !f->ensure_request()) {
    DWORD e = GetLastError();
    f->Release();
    SetLastError(e ? e : ERROR_NOT_FOUND);
    return nullptr;
  }
  return f;
}

class UrlSource : public CopySource {
 public:
  explicit UrlSource(inet_file* f) { file_.f = f; }
  bool read(void* buffer, DWORD size, DWORD* got) override { return file_.f->read(buffer, size, got); }
  uint64_t size() override {
    int64_t n = file_.f->size();
    return n > 0 ? static_cast<uint64_t>(n) : 0;
  }
  bool times(FILETIME* creation, FILETIME* access, FILETIME* write) override {
    FILETIME t{};
    if (!file_.f->last_modified(&t)) return false;
    *creation = *access = *write = t;
    return true;
  }

 private:
  FileRef file_;
};

}  // namespace

uint32_t read_internet_file(const std::wstring& url, std::vector<uint8_t>& body) {
  body.clear();
  FileRef file;
  file.f = open_answered(url);
  if (!file.f) return GetLastError();
  int64_t size = file.f->size();
  if (size > static_cast<int64_t>(kMaxTextFileBytes)) return kErrorFileTooLarge;
  if (size > 0) body.reserve(static_cast<size_t>(size));
  // Without a length the body is read to its end, within the same limit.
  uint8_t chunk[65536];
  for (;;) {
    DWORD got = 0;
    if (!file.f->read(chunk, sizeof chunk, &got)) {
      uint32_t e = GetLastError();
      body.clear();
      return e ? e : ERROR_READ_FAULT;
    }
    if (got == 0) break;
    if (body.size() + got > kMaxTextFileBytes) {
      body.clear();
      return kErrorFileTooLarge;
    }
    body.insert(body.end(), chunk, chunk + got);
  }
  return 0;
}

std::unique_ptr<CopySource> open_url_copy_source(const std::wstring& url) {
  inet_file* f = open_answered(url);
  if (!f) return nullptr;
  return std::make_unique<UrlSource>(f);
}

void install_internet_transport() {
  set_url_source_opener(&open_url_copy_source);
  set_internet_file_reader(&read_internet_file);
}

}  // namespace qz
